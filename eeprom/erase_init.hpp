// Erasing an EEPROM and programming the factory-style default into it.
#pragma once

#include <cstdint>

#include "d2xx/d2xx_binding.hpp"
#include "d2xx/eeprom_record.hpp"

namespace ft232h {

// The record and strings -init programs, built from scratch: FTDI's vendor
// and product ids, 100 mA, 4 mA drive, the virtual COM port driver, and
// zero everywhere else, alignment bytes included.
EepromRecord DefaultEepromRecord();
EepromStrings DefaultEepromStrings();

// Asks the library to erase the device's EEPROM. True when the erase
// returned success; false when the device cannot be opened or the erase fails.
bool EraseEeprom(const D2xxBinding& d2xx, std::int32_t deviceIndex);

// Programs the default record and strings, whatever the device held (it is
// never read). True when programming returned success.
bool InitEeprom(const D2xxBinding& d2xx, std::int32_t deviceIndex);

}  // namespace ft232h
