// The world the simulated D2XX library serves: its devices, the faults it
// injects and its options, kept in a text file so that a test can write a
// state, run the tool one or more times and read back what the runs left.
//
// State file
// ----------
// One entry per line. Blank lines and lines whose first non-blank character
// is '#' are ignored; leading blanks are ignored, so device blocks can be
// indented. A line is a key, a single space and the rest of the line as its
// value. Anything the loader does not understand refuses the whole file, so
// a misspelt key in a hand-written state shows up instead of being skipped.
//
// Numbers are unsigned 32-bit, decimal or with a 0x prefix.
// Byte fields come in two forms:
//   <key> text       printable ASCII (0x20-0x7E), taken as is to the end of
//                    the line; an empty value gives an empty field
//   <key>_hex hex    two hex digits per byte, either case
//
// Options, allowed anywhere, each at most once (fault lines may repeat):
//   log 0|1              append every call to the log file (see below)
//   create_count N       the count FT_CreateDeviceInfoList reports instead of
//                        the number of devices
//   get_count N          the count FT_GetDeviceInfoList writes back instead
//                        of the number of nodes it filled
//   fault NAME STATUS [device INDEX] [after N]
//                        the entry point NAME returns STATUS (non-zero)
//                        without doing its work: on every call, or only on
//                        calls that concern the device at list position
//                        INDEX (FT_Open's index; for FT_Close and the EEPROM
//                        calls the device the handle was opened on). The
//                        list calls take no device. With after N, the first
//                        N matching calls of each process that loads the
//                        library still do their work, so that a later call
//                        of the same run fails. The first line that matches
//                        a call applies.
//
// Devices, in list order, each starting with `device N` where N is its list
// position (0 for the first, and so on), followed by its own lines, each at
// most once:
//   type N               device type; 8 is the FT232H
//   flags N, id N, loc_id N
//   serial / serial_hex  node serial number, up to 16 bytes, padded with
//                        zero bytes; 16 non-zero bytes leave it unterminated
//   description / description_hex
//                        node description, up to 64 bytes, zero padded
//   in_use 0|1           open in another process or driver: the list shows
//                        it as FTDI's library does, Flags 1 (opened) and
//                        Type 3 (unknown) and nothing else; FT_Open fails
//                        with 3
//   eeprom erased        the EEPROM holds nothing (also when no eeprom_ line
//                        is given)
//   eeprom_record_hex    the 44-byte record, 88 hex digits; its presence
//                        marks the EEPROM as programmed
//   eeprom_manufacturer, eeprom_manufacturer_id, eeprom_description,
//   eeprom_serial (each also with _hex)
//                        the four strings, up to 63 bytes each; they need
//                        eeprom_record_hex. As with FTDI's library,
//                        FT_EEPROM_Read gives the serial number's first two
//                        characters as ManufacturerId (the chip keeps none),
//                        and FT_EEPROM_Program stores an empty serial number
//                        given with a ManufacturerId of two or more
//                        characters as its first two and the loc id's low
//                        24 bits in six hex digits
//
// Example:
//   log 1
//   fault FT_EEPROM_Program 12 device 1
//   device 0
//     type 5
//     serial A10KZP3M
//   device 1
//     type 8
//     serial FT1234
//     eeprom_record_hex 0800000003041460...
//     eeprom_manufacturer FTDI
//
// Saving writes the same format (comments are not kept) and replaces the file
// only once the new one is complete.
//
// Log file
// --------
// With `log 1`, every call appends one line: the entry point's name, its
// arguments as key=value and the status it returned:
//   FT_CreateDeviceInfoList count=3 -> 0
//   FT_GetDeviceInfoList count_in=3 count_out=3 filled=3 -> 0
//   FT_Open index=2 -> 0
//   FT_EEPROM_Read device=2 size=44 device_type=8 -> 0
//   FT_EEPROM_Program device=2 size=44 record=<88 hex> manufacturer=<hex>
//       manufacturer_id=<hex> description=<hex> serial=<hex> -> 0
//   FT_EraseEE device=2 -> 0
//   FT_Close device=2 -> 0
// (the Program entry is one line). Values never contain blanks. A value of
// '-' means the argument was missing or unusable: a null pointer, a handle
// the library never gave out, a record not 44 bytes long. Strings are logged
// as the bytes up to their terminator.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "d2xx/d2xx_api.hpp"
#include "d2xx/eeprom_record.hpp"

namespace ft232h::sim {

// The file names the library looks for beside itself, and the variable that
// names another state file. The log always lives beside the state file.
inline constexpr const char* kStateEnvironmentVariable = "FT232H_SIM_STATE";
inline constexpr const char* kStateFileName = "ftd2xx_sim_state.txt";
inline constexpr const char* kLogFileName = "ftd2xx_sim_log.txt";

inline constexpr std::size_t kNodeSerialSize = 16;
inline constexpr std::size_t kNodeDescriptionSize = 64;
// A string the library hands back must fit a 64-byte buffer with its terminator.
inline constexpr std::size_t kMaxEepromStringLength = kEepromStringSize - 1;

enum class EntryPoint {
    kCreateDeviceInfoList,
    kGetDeviceInfoList,
    kOpen,
    kClose,
    kEepromRead,
    kEepromProgram,
    kEraseEe,
};

// The library's name for the entry point, e.g. "FT_EEPROM_Read".
std::string_view EntryPointName(EntryPoint entryPoint);
std::optional<EntryPoint> EntryPointFromName(std::string_view name);

using RecordBytes = std::array<std::uint8_t, kEepromRecordSize>;

struct SimEeprom {
    // false: erased, and the other members are unused.
    bool programmed = false;
    RecordBytes record{};
    // Raw bytes, at most kMaxEepromStringLength each.
    std::string manufacturer;
    std::string manufacturerId;
    std::string description;
    std::string serialNumber;

    bool operator==(const SimEeprom&) const = default;
};

struct SimDevice {
    std::uint32_t type = 0;
    std::uint32_t flags = 0;
    std::uint32_t id = 0;
    std::uint32_t locId = 0;
    std::array<char, kNodeSerialSize> serialNumber{};
    std::array<char, kNodeDescriptionSize> description{};
    bool inUse = false;
    SimEeprom eeprom;

    bool operator==(const SimDevice&) const = default;
};

struct SimFault {
    EntryPoint entryPoint = EntryPoint::kOpen;
    FtStatus status = kFtOtherError;
    // Empty: every call of the entry point.
    std::optional<std::uint32_t> deviceIndex;
    // Matching calls still let through before the fault applies.
    std::uint32_t after = 0;

    bool operator==(const SimFault&) const = default;
};

struct SimState {
    std::vector<SimDevice> devices;
    std::vector<SimFault> faults;
    std::optional<std::uint32_t> createCount;
    std::optional<std::uint32_t> getCount;
    bool log = false;

    bool operator==(const SimState&) const = default;
};

// Parses the text of a state file. On failure returns false, leaves `state`
// untouched and puts "line N: what" into `error`.
bool ParseState(std::string_view text, SimState& state, std::string& error);
// The text that ParseState reads back into an equal state.
std::string FormatState(const SimState& state);

enum class LoadResult {
    kLoaded,
    // No file at that path: the library then serves an empty world.
    kNotFound,
    // The file exists but cannot be read or does not parse; `error` says why.
    kInvalid,
};
LoadResult LoadStateFile(const std::string& path, SimState& state, std::string& error);
// Writes the state beside `path` and renames it over `path`, so the file is
// always either the old state or the new one. false with `error` on failure.
bool SaveStateFile(const std::string& path, const SimState& state, std::string& error);

// The log file that belongs to a state file: kLogFileName in its directory.
std::string LogPathForState(const std::string& statePath);

// The record's bytes as the library copies them, and back.
RecordBytes ToRecordBytes(const EepromRecord& record);
EepromRecord FromRecordBytes(const RecordBytes& bytes);

// Lower-case hex of the bytes, two digits each.
std::string ToHex(std::span<const std::uint8_t> bytes);
std::string ToHex(std::string_view bytes);

// One line of the log.
struct SimLogEntry {
    std::string entryPoint;
    std::vector<std::pair<std::string, std::string>> arguments;
    FtStatus status = kFtOk;

    // The value of the argument, or nullptr when the entry has none by that name.
    const std::string* Argument(std::string_view name) const;
};

std::string FormatLogEntry(const SimLogEntry& entry);
// Parses a whole log. false with "line N: what" in `error` on a malformed line.
bool ParseLog(std::string_view text, std::vector<SimLogEntry>& entries, std::string& error);
// Reads and parses a log file; a missing file is an empty log.
bool ReadLogFile(const std::string& path, std::vector<SimLogEntry>& entries, std::string& error);
// Appends one formatted entry and a line end. false when the file cannot be written.
bool AppendLogEntry(const std::string& path, const SimLogEntry& entry);

}  // namespace ft232h::sim
