// The option word against a plain reading of its rule, the device number
// against strtoll, then the whole command line against the simulated
// library, whose devices never open, so that every path up to the operation runs without
// touching a file. Input: the option word as a FuzzedDataProvider string
// (ended by a backslash and one other byte), the rest as the device number.
#include <fuzzer/FuzzedDataProvider.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/command_line.hpp"
#include "d2xx/d2xx_binding.hpp"
#include "sim/sim_in_process.hpp"
#include "sim/sim_state.hpp"
#include "tests/fuzz/fuzz_support.hpp"
#include "tests/fuzz/sim_world.hpp"
#include "tests/support/fake_console.hpp"

namespace {

namespace fuzz = ft232h::fuzz;
namespace sim = ft232h::sim;

// The first row whose word starts with the argument, its ASCII capitals
// folded; nullptr when none does.
const ft232h::CommandRow* ReferenceMatch(std::string argument) {
    for (char& c : argument) {
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    for (const ft232h::CommandRow& row : ft232h::CommandTable()) {
        if (row.optionWord.starts_with(argument)) {
            return &row;
        }
    }
    return nullptr;
}

// An accepted number is what strtoll makes of it, and a number written as
// std::to_string writes it is accepted when it fits 32 bits.
void CheckNumber(const std::string& argument, std::optional<std::int32_t> parsed) {
    errno = 0;
    const long long value = std::strtoll(argument.c_str(), nullptr, 10);
    const bool fits = errno == 0 && value >= std::numeric_limits<std::int32_t>::min() &&
                      value <= std::numeric_limits<std::int32_t>::max();
    fuzz::Require(!parsed || (fits && *parsed == value), "an accepted device number reads as another");
    fuzz::Require(parsed || !fits || std::to_string(value) != argument, "a plain device number was refused");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string option = input.ConsumeRandomLengthString();
    const std::string number = input.ConsumeRemainingBytesAsString();

    const ft232h::CommandRow* row = ft232h::MatchOption(option);
    fuzz::Require(row == ReferenceMatch(option), "the option word matched the wrong row");

    const std::optional<std::int32_t> parsed = ft232h::ParseDeviceNumber(number);
    CheckNumber(number, parsed);

    // FT232H devices at 0, 2 and 7; none opens, so every operation fails at
    // FT_Open, and without a module directory the file commands stop before.
    sim::SimState world;
    world.faults.push_back({sim::EntryPoint::Open, ft232h::kFtDeviceNotFound, std::nullopt});
    fuzz::UseWorld(world);
    static const ft232h::D2xxBinding d2xx(sim::InProcessLibrary());
    ft232h::testing::FakeConsole console;
    const ft232h::DeviceTable devices{{0, {}}, {2, {}}, {7, {}}};
    ft232h::RunCommandLine(console, d2xx, devices, std::nullopt, option, number);
    const std::vector<sim::SimLogEntry> calls = fuzz::Calls();

    const bool known = parsed && (*parsed == 0 || *parsed == 2 || *parsed == 7);
    if (row == nullptr || !known) {
        fuzz::Require(calls.empty(), "the library was called without a device");
    }
    if (row != nullptr && !known) {
        // The not-found line shows the argument exactly as typed.
        bool shown = false;
        for (const auto& event : console.events) {
            shown = shown || (event.kind == ft232h::testing::FakeConsole::Kind::kArgument && event.bytes == number);
        }
        fuzz::Require(shown, "the device number was not shown as typed");
    }
    if (row != nullptr && known && row->settingsFilePrefix.empty()) {
        fuzz::Require(calls.size() == 1 && calls[0].entryPoint == "FT_Open" && calls[0].Argument("index") != nullptr &&
                          *calls[0].Argument("index") == std::to_string(*parsed),
                      "the selected device was not the one opened, or a device that did not open was closed");
    }
    for (const auto& event : console.events) {
        fuzz::Require(event.kind != ft232h::testing::FakeConsole::Kind::kBeginNotice,
                      "the replug notice followed a failure");
    }
    return 0;
}
