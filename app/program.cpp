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

    DeviceTable table;
    if (ListFt232hDevices(d2xx, table) == DeviceListOutcome::kListFailed) {
        PrintMessage(console, messages::kDeviceListFailed);
        return;
    }
    if (table.empty()) {
        PrintMessage(console, messages::kNoFt232h);
        return;
    }
    PrintDeviceTable(console, table);

    if (arguments.size() < 2) {
        PrintUsage(console);
        return;
    }
    RunCommandLine(console, d2xx, table, moduleDirectory, arguments[0], arguments[1]);
}

}  // namespace ft232h
