// What FTDI's library does with the values of an FT232H record, as seen with
// it (1.4.24) on a virtual chip, value by value: which ones FT_EEPROM_Program
// refuses, which ones it changes on their way into the chip, and which image
// FT_EEPROM_Read no longer takes for a programmed one. The simulated library
// applies these, so that what a run with it shows is what a board shows.
#pragma once

#include <optional>

#include "d2xx/d2xx_api.hpp"
#include "d2xx/eeprom_record.hpp"

namespace ft232h::sim {

// The record the chip holds after FT_EEPROM_Program was given `record` for
// an FT232H, read back field by field; kFtInvalidParameter in `refusal` (and
// nullopt) when the library refuses the record before it touches the chip.
// The alignment bytes are passed on as given.
std::optional<EepromRecord> RecordAsProgrammed(const EepromRecord& record, FtStatus& refusal);

// FT_EEPROM_Read takes a chip whose vendor id is 0xFFFF, as an erased chip's
// is, for one that holds nothing (kFtEepromNotProgrammed).
bool ReadsAsNotProgrammed(const EepromRecord& stored);

}  // namespace ft232h::sim
