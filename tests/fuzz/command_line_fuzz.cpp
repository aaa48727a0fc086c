// The option word against a plain reading of its rule and the device number
// against strtoll; what the command line then does with them is the rows'
// to pin. Input: the option word as a FuzzedDataProvider string (ended by a
// backslash and one other byte), the rest as the device number.
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

namespace {

namespace fuzz = ft232h::fuzz;

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
    return 0;
}
