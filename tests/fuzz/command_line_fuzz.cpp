// The option word and the device number against plain reference readings of
// their rules, then the whole command line against a fake library whose
// devices never open, so that every path up to the operation runs without
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

#include "app/command_line.hpp"
#include "tests/fuzz/fuzz_support.hpp"
#include "tests/support/fake_console.hpp"
#include "tests/support/fake_d2xx.hpp"

namespace {

namespace fuzz = ft232h::fuzz;
using ft232h::testing::FakeEntryPoint;

constexpr std::string_view kOptionWords[] = {"-r", "-w", "-chk", "-set", "-erase", "-init"};

// The first option word that starts with the argument, compared after
// folding the argument's ASCII capitals; -1 when none does.
int ReferenceMatch(std::string_view argument) {
    std::string folded(argument);
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    for (int row = 0; row < static_cast<int>(std::size(kOptionWords)); ++row) {
        if (kOptionWords[row].starts_with(folded)) {
            return row;
        }
    }
    return -1;
}

// Blanks, an optional sign, at least one digit, nothing else; then strtoll,
// which must not overflow, and the result must fit 32 bits.
std::optional<std::int32_t> ReferenceNumber(std::string_view argument) {
    std::size_t i = 0;
    while (i < argument.size() && std::string_view(" \t\n\v\f\r").find(argument[i]) != std::string_view::npos) {
        ++i;
    }
    if (i < argument.size() && (argument[i] == '+' || argument[i] == '-')) {
        ++i;
    }
    const std::size_t digits = i;
    while (i < argument.size() && argument[i] >= '0' && argument[i] <= '9') {
        ++i;
    }
    if (i == digits || i != argument.size()) {
        return std::nullopt;
    }
    const std::string terminated(argument);
    errno = 0;
    const long long value = std::strtoll(terminated.c_str(), nullptr, 10);
    if (errno == ERANGE || value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string option = input.ConsumeRandomLengthString();
    const std::string number = input.ConsumeRemainingBytesAsString();

    const ft232h::CommandRow* row = ft232h::MatchOption(option);
    const int expectedRow = ReferenceMatch(option);
    const auto table = ft232h::CommandTable();
    if (expectedRow < 0) {
        fuzz::Require(row == nullptr, "an option word matched that should not");
    } else {
        fuzz::Require(row == &table[static_cast<std::size_t>(expectedRow)], "the wrong option word matched");
    }

    const std::optional<std::int32_t> parsed = ft232h::ParseDeviceNumber(number);
    fuzz::Require(parsed == ReferenceNumber(number), "the device number reads differently");

    // FT232H devices at 0, 2 and 7; none opens, so every operation fails at
    // FT_Open, and without a module directory the file commands stop before.
    ft232h::testing::FakeD2xx fake;
    fake.StatusOf(FakeEntryPoint::kOpen) = ft232h::kFtDeviceNotFound;
    ft232h::testing::FakeConsole console;
    const ft232h::D2xxBinding d2xx = fake.Binding();
    const ft232h::DeviceTable devices{{0, {}}, {2, {}}, {7, {}}};
    ft232h::RunCommandLine(console, d2xx, devices, std::nullopt, option, number);

    const bool known = parsed && (*parsed == 0 || *parsed == 2 || *parsed == 7);
    if (row == nullptr || !known) {
        fuzz::Require(fake.calls.empty(), "the library was called without a device");
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
        const ft232h::testing::FakeCall* open = fake.LastCallOf(FakeEntryPoint::kOpen);
        fuzz::Require(open != nullptr && open->deviceIndex == *parsed, "the selected device was not the one opened");
        fuzz::Require(fake.CountOf(FakeEntryPoint::kClose) == 0, "a device that did not open was closed");
    }
    for (const auto& event : console.events) {
        fuzz::Require(event.kind != ft232h::testing::FakeConsole::Kind::kBeginNotice,
                      "the replug notice followed a failure");
    }
    return 0;
}
