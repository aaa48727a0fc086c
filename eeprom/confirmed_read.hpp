// Reading a device's EEPROM so that what is read can be trusted.
#pragma once

#include "d2xx/d2xx_binding.hpp"
#include "d2xx/eeprom_record.hpp"

namespace ft232h {

// Reads the EEPROM of the open device twice. True only when both reads
// succeed and give the very same record and strings, which are then in
// `record` and `strings`.
bool ReadConfirmedEeprom(const D2xxBinding& d2xx, FtHandle handle, EepromRecord& record, EepromStrings& strings);

}  // namespace ft232h
