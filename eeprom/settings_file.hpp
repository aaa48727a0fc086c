// The settings file: one EEPROM image as sections and key=value lines, the
// four strings quoted and every field of the record in decimal, one key per
// field named after it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "d2xx/d2xx_binding.hpp"

namespace ft232h {

enum class SettingsFileAccess { kRead, kMissing, kUnreadable, kUnwritable };

// A value of the file that cannot be programmed.
struct RefusedValue {
    std::string_view key;
    // The value as written, cut short when long, for the user to find it.
    std::string shown;
};

// Why a settings file kept the device from being programmed, for the caller
// to tell the user: the file itself, or every value that is refused. For a
// dump, kUnwritable when the file could not be written, kRead otherwise.
struct SettingsFileReport {
    SettingsFileAccess access = SettingsFileAccess::kRead;
    // The string keys that take room on the chip, in the order of the file's
    // table, when together they take more than it has (kMaxStoredStringBytes).
    std::vector<std::string_view> stringsBeyondTheChip;
    std::vector<RefusedValue> refused;
};

// Opens the device at `deviceIndex`, reads its EEPROM and writes all 37 keys
// into the file at `settingsPath` in one step, creating it when missing and
// keeping whatever else it holds, durably; then closes the device. True when
// the read and the write succeeded. When the device does not open or its
// EEPROM cannot be read, the file is not touched; nor is it when a value
// cannot be written (a string holding a line break). When the file itself
// could not be written, `report` says so. Prints nothing.
bool ReadEepromToFile(const D2xxBinding& d2xx, std::int32_t deviceIndex, const std::string& settingsPath,
                      SettingsFileReport& report);

// Reads the 37 keys from the file at `settingsPath` and programs the device
// at `deviceIndex` with them: missing keys and empty values give 0 and empty
// strings. Numbers are decimal, or hexadecimal after 0x. True when the
// device took the image.
// Before the device is opened, false with `report` saying why when the file
// is missing or cannot be read, or when a value is not a number that the
// chip keeps as written for its key (each key has its set of values, which
// for some keys leaves out 0, and so a missing key), or is a string of more
// than 63 bytes or holds a character the code page lacks (a UTF-16 file),
// or when more than one channel mode is set (then each one set is refused),
// or when the strings together do not fit the chip
// (kMaxStoredStringBytes; then the strings are named together). Every such
// key is listed, in the order of the file's table; the device is then left
// alone. Prints nothing.
bool WriteEepromFromFile(const D2xxBinding& d2xx, std::int32_t deviceIndex, const std::string& settingsPath,
                         SettingsFileReport& report);

}  // namespace ft232h
