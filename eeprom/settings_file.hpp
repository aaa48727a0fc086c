// The settings file: one EEPROM image as sections and key=value lines, the
// four strings quoted and every field of the record in decimal, one key per
// field named after it.
#pragma once

#include <cstdint>
#include <string>

#include "app/console.hpp"
#include "d2xx/d2xx_binding.hpp"

namespace ft232h {

// Opens the device at `deviceIndex`, reads its EEPROM and writes all 37 keys
// into the file at `settingsPath`, creating it when missing and keeping
// whatever else it holds; then flushes the file and closes the device.
// True when the read and all 37 writes succeeded. When the device does not
// open or its EEPROM cannot be read, the file is not touched; a key that
// cannot be written (a string holding a line break, a file that cannot be
// written) fails the whole, but the other keys are still written. Prints
// nothing.
bool ReadEepromToFile(const D2xxBinding& d2xx, std::int32_t deviceIndex, const std::string& settingsPath);

// Reads the 37 keys from the file at `settingsPath` and programs the device
// at `deviceIndex` with them: missing keys and empty values give 0 and empty
// strings. Numbers are decimal, or hexadecimal after 0x. True when the
// device took the image.
// Before the device is opened, false with a line printed when the file is
// missing ("... がありません") or cannot be read, or when a value is not a
// number that fits its field or is a string of more than 63 bytes, or when
// the strings together do not fit the chip (kMaxStoredStringBytes; then a
// line for each string that takes room there). One line per such key; the
// device is then left alone.
bool WriteEepromFromFile(const D2xxBinding& d2xx, Console& console, std::int32_t deviceIndex,
                         const std::string& settingsPath);

}  // namespace ft232h
