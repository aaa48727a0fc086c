// Any bytes as a settings file under the write name, programmed into a fake
// device. Beyond "no crash, no overrun, no hang": the file stays as it was; a
// refused file never reaches the device and is reported; and what the device
// took, dumped again, shows every string and every plainly written number as
// the reference reads them from the file, and programs the very same image
// once more.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "eeprom/settings_file.hpp"
#include "tests/fuzz/fuzz_support.hpp"
#include "tests/support/fake_d2xx.hpp"

namespace {

namespace fuzz = ft232h::fuzz;
using ft232h::testing::FakeCall;
using ft232h::testing::FakeD2xx;
using ft232h::testing::FakeEntryPoint;

// The number a value plainly stands for, as the C library reads it: decimal
// digits, or hexadecimal ones after 0x; nothing for anything else.
std::optional<unsigned long long> PlainNumber(const std::string& text) {
    const bool hexadecimal = text.starts_with("0x");
    const std::string digits = hexadecimal ? text.substr(2) : text;
    if (digits.empty() ||
        digits.find_first_not_of(hexadecimal ? "0123456789abcdefABCDEF" : "0123456789") != std::string::npos) {
        return std::nullopt;
    }
    return std::strtoull(digits.c_str(), nullptr, hexadecimal ? 16 : 10);
}

// The image the device was given, or nothing when the file was refused.
std::optional<FakeCall> Programmed(const std::filesystem::path& path) {
    FakeD2xx fake;
    ft232h::SettingsFileReport report;
    const bool result = ft232h::WriteEepromFromFile(fake.Binding(), 3, path.string(), report);
    const FakeCall* program = fake.LastCallOf(FakeEntryPoint::kEepromProgram);
    if (program == nullptr) {
        fuzz::Require(!result && fake.calls.empty(), "a refused file still reached the device");
        fuzz::Require(report.access != ft232h::SettingsFileAccess::kRead || !report.refused.empty(),
                      "a refused file was not reported");
        return std::nullopt;
    }
    fuzz::Require(result && fake.Sequence() == std::vector{FakeEntryPoint::kOpen, FakeEntryPoint::kEepromProgram,
                                                           FakeEntryPoint::kClose},
                  "the device took the image, but not in open, program, close, or failure was reported");
    return *program;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::filesystem::path toWrite = fuzz::ScratchFile("ft232h_eeprom_to_write_no3.ini");
    fuzz::WriteWholeFile(toWrite, bytes);
    const std::optional<FakeCall> programmed = Programmed(toWrite);
    fuzz::Require(fuzz::ReadWholeFile(toWrite) == bytes, "programming changed the settings file");
    if (!programmed) {
        return 0;
    }

    const std::filesystem::path dump = fuzz::ScratchFile("ft232h_eeprom_no3.ini");
    std::filesystem::remove(dump);
    {
        // One fake at a time: the second programming below makes its own.
        FakeD2xx device;
        device.eeprom = programmed->record;
        device.eepromStrings = programmed->strings;
        ft232h::SettingsFileReport report;
        fuzz::Require(ft232h::ReadEepromToFile(device.Binding(), 3, dump.string(), report),
                      "the programmed image does not dump");
    }
    const fuzz::ReferenceFile file = fuzz::ParseReferenceFile(bytes);
    for (const fuzz::ReferenceSection& section : fuzz::ParseReferenceFile(fuzz::ReadWholeFile(dump)).sections) {
        for (const fuzz::ReferenceEntry& entry : section.entries) {
            const std::string written = fuzz::ReferenceRead(file, section.name, entry.key).value_or("");
            if (section.name == "DESC") {
                fuzz::Require(fuzz::ReferenceUnquote(entry.value) == written, "a string differs from the file");
            } else {
                const auto number = PlainNumber(written.empty() ? "0" : written);
                fuzz::Require(!number || entry.value == std::to_string(*number), "a number differs from the file");
            }
        }
    }
    const std::optional<FakeCall> again = Programmed(dump);
    fuzz::Require(again && std::memcmp(&again->record, &programmed->record, sizeof again->record) == 0 &&
                      std::memcmp(&again->strings, &programmed->strings, sizeof again->strings) == 0,
                  "the dump does not program the same image");
    return 0;
}
