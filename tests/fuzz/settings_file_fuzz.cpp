// Any bytes as a settings file under the write name, programmed into an
// FT232H of the simulated library, which keeps values as FTDI's does.
// Beyond "no crash, no overrun, no hang": the file stays as it was; a refused
// file never reaches the device and is reported; a file the tool accepts,
// the library takes; and what the chip then holds, dumped again, shows every
// string and every plainly written number as the reference reads them from
// the file (but for what the chip keeps in its own way: no ManufacturerId, a
// serial number the library makes up for an empty one), and programs the
// very same image once more. A UTF-16 file's values reach the chip in code
// page 932, and it is dumped into a UTF-16 file of its byte order.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "d2xx/d2xx_binding.hpp"
#include "eeprom/settings_file.hpp"
#include "sim/sim_in_process.hpp"
#include "sim/sim_state.hpp"
#include "tests/fuzz/fuzz_support.hpp"

namespace {

namespace fuzz = ft232h::fuzz;
namespace sim = ft232h::sim;

// The FT232H at list position 3, behind three FT232R.
constexpr std::int32_t kDevice = 3;

// The simulated library's world: a state file in the scratch directory, the
// library pointed at it, and the log of the calls it answered.
const std::string& StatePath() {
    static const std::string kPath = [] {
        std::string state = fuzz::ScratchFile(sim::kStateFileName).string();
        fuzz::Require(setenv(sim::kStateEnvironmentVariable, state.c_str(), 1) == 0,
                      "cannot name the simulator's world");
        return state;
    }();
    return kPath;
}

// Replaces the world, with every call logged from here on.
void UseWorld(sim::SimState state) {
    state.log = true;
    std::string error;
    fuzz::Require(sim::SaveStateFile(StatePath(), state, error), "cannot write the simulator's world");
    std::error_code ignored;
    std::filesystem::remove(sim::LogPathForState(StatePath()), ignored);
}

sim::SimState World() {
    sim::SimState state;
    std::string error;
    fuzz::Require(sim::LoadStateFile(StatePath(), state, error) == sim::LoadResult::kLoaded, "the world does not load");
    return state;
}

// The calls since UseWorld, in order.
std::vector<sim::SimLogEntry> Calls() {
    std::vector<sim::SimLogEntry> calls;
    std::string error;
    fuzz::Require(sim::ReadLogFile(sim::LogPathForState(StatePath()), calls, error),
                  "the simulator's log does not read");
    return calls;
}

const ft232h::D2xxBinding& Library() {
    static const ft232h::D2xxBinding kLibrary(sim::InProcessLibrary());
    return kLibrary;
}

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

// What the chip holds after the file was programmed into an erased one, or
// nothing when the file was refused.
std::optional<sim::SimEeprom> Programmed(const std::filesystem::path& path) {
    sim::SimDevice ft232r;
    ft232r.type = 5;
    sim::SimState world;
    world.devices.resize(kDevice + 1, ft232r);
    world.devices[kDevice].type = ft232h::kDeviceTypeFt232h;
    UseWorld(world);
    ft232h::SettingsFileReport report;
    const bool result = ft232h::WriteEepromFromFile(Library(), kDevice, path.string(), report);
    const std::vector<sim::SimLogEntry> calls = Calls();
    if (calls.empty()) {
        fuzz::Require(!result, "nothing reached the device, yet success was reported");
        fuzz::Require(report.access != ft232h::SettingsFileAccess::kRead || !report.refused.empty() ||
                          !report.stringsBeyondTheChip.empty(),
                      "a refused file was not reported");
        return std::nullopt;
    }
    fuzz::Require(calls.size() == 3 && calls[0].entryPoint == "FT_Open" && calls[1].entryPoint == "FT_EEPROM_Program" &&
                      calls[2].entryPoint == "FT_Close",
                  "the device was not opened, programmed and closed");
    fuzz::Require(calls[1].status == ft232h::kFtOk, "the library refused a file that the tool accepted");
    fuzz::Require(result, "the chip took the file, yet failure was reported");
    return World().devices[kDevice].eeprom;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::filesystem::path toWrite = fuzz::ScratchFile("ft232h_eeprom_to_write_no3.ini");
    fuzz::WriteWholeFile(toWrite, bytes);
    const std::optional<sim::SimEeprom> programmed = Programmed(toWrite);
    fuzz::Require(fuzz::ReadWholeFile(toWrite) == bytes, "programming changed the settings file");
    if (!programmed) {
        return 0;
    }
    const fuzz::ReferenceFile file = fuzz::ParseReferenceFile(bytes);
    fuzz::Require(file.readable, "a file that is no UTF-16 reached the chip");

    const std::filesystem::path dump = fuzz::ScratchFile("ft232h_eeprom_no3.ini");
    std::filesystem::remove(dump);
    if (file.utf16) {
        fuzz::WriteWholeFile(dump, bytes.substr(0, 2));
    }
    ft232h::SettingsFileReport report;
    fuzz::Require(ft232h::ReadEepromToFile(Library(), kDevice, dump.string(), report),
                  "the programmed image does not dump");
    const std::string dumpBytes = fuzz::ReadWholeFile(dump);
    fuzz::Require(!file.utf16 || dumpBytes.starts_with(bytes.substr(0, 2)), "the dump lost the file's byte order");
    const fuzz::ReferenceFile dumped = fuzz::ParseReferenceFile(dumpBytes);
    // Every dump has the device type: without it the checks below would see
    // no keys at all.
    fuzz::Require(fuzz::ReferenceRead(dumped, "COMMON", "deviceType").has_value(),
                  "the dump does not read as a settings file");
    for (const fuzz::ReferenceSection& section : dumped.sections) {
        for (const fuzz::ReferenceEntry& entry : section.entries) {
            // The tool's names are ASCII, the same bytes in every encoding.
            const std::optional<std::string> fromFile = fuzz::ReferenceValue(file, section.name, entry.key);
            const std::optional<std::string> fromDump =
                fuzz::ReferenceCodePage(dumped, fuzz::ReferenceUnquote(entry.value));
            fuzz::Require(fromFile && fromDump, "a value the code page lacks reached the chip");
            const std::string& written = *fromFile;
            const std::string& shown = *fromDump;
            if (entry.key == "ManufacturerId") {
                fuzz::Require(shown == programmed->serialNumber.substr(0, 2),
                              "ManufacturerId is not the serial number's first two characters");
            } else if (entry.key == "SerialNumber" && written.empty()) {
                fuzz::Require(shown == programmed->serialNumber, "the serial number the library made is not shown");
            } else if (section.name == "DESC") {
                fuzz::Require(shown == written, "a string differs from the file");
            } else {
                const auto number = PlainNumber(written.empty() ? "0" : written);
                fuzz::Require(!number || entry.value == std::to_string(*number), "a number differs from the file");
            }
        }
    }
    const std::optional<sim::SimEeprom> again = Programmed(dump);
    fuzz::Require(again && again->record == programmed->record && again->manufacturer == programmed->manufacturer &&
                      again->description == programmed->description && again->serialNumber == programmed->serialNumber,
                  "the dump does not program the same image");
    return 0;
}
