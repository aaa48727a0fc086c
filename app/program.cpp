#include "app/program.hpp"

#include <optional>
#include <string>

#include "app/command_line.hpp"
#include "app/device_table.hpp"
#include "app/executable_path.hpp"
#include "app/messages.hpp"
#include "app/print_message.hpp"
#include "app/usage.hpp"
#include "d2xx/d2xx_binding.hpp"

namespace ft232h {

void RunOnePass(Console& console, std::span<const char* const> arguments) {
    const std::optional<std::string> moduleDirectory = ExecutableDirectory();
    std::unique_ptr<SharedLibrary> library = LoadD2xxLibrary(moduleDirectory.value_or(std::string()));
    if (!library) {
        PrintMessage(console, messages::kLibraryNotLoaded);
        return;
    }
    // The binding owns the library from here; it is released when the pass ends.
    const D2xxBinding d2xx(std::move(library));

    DeviceList devices;
    if (ListDevices(d2xx, devices) == DeviceListOutcome::kListFailed) {
        PrintMessage(console, messages::kDeviceListFailed);
        return;
    }
    // A busy device is named right under what the user sees first, whether
    // that is the table or the word that none was found: it may be the very
    // board they plugged in.
    if (devices.ft232h.empty()) {
        PrintMessage(console, messages::kNoFt232h);
        PrintBusyDevices(console, devices.busy);
        return;
    }
    PrintDeviceTable(console, devices.ft232h);
    PrintBusyDevices(console, devices.busy);

    if (arguments.size() < 2) {
        PrintUsage(console);
        return;
    }
    RunCommandLine(console, d2xx, devices.ft232h, moduleDirectory, arguments[0], arguments[1]);
}

}  // namespace ft232h
