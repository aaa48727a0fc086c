// The EEPROM setting a board with a YM2610 sound chip needs.
#pragma once

#include <cstdint>

#include "d2xx/d2xx_binding.hpp"
#include "d2xx/eeprom_record.hpp"

namespace ft232h {

// True when the nine fields the board depends on hold its values. MaxPower
// and Cbus9 are written by the set but not required by the check.
bool MatchesYm2610Profile(const EepromRecord& record);

// Writes the eleven values of the profile into `record`, leaving every other
// byte as it is.
void ApplyYm2610Profile(EepromRecord& record);

// Reads the device's EEPROM. True when it was read and matches the profile;
// false when the device cannot be opened or read, or does not match.
// Changes nothing on the device.
bool CheckYm2610Profile(const D2xxBinding& d2xx, std::int32_t deviceIndex);

// Why a set did not reach the chip, for the caller to tell the user.
struct Ym2610SetReport {
    // The chip's strings, as read, take more room together than FTDI's
    // library can program back (kMaxStoredStringBytes).
    bool stringsBeyondTheChip = false;
};

// Reads the device's EEPROM, applies the profile and programs the record back
// with the strings exactly as read. True when both the read and the
// programming succeeded; nothing is programmed when the read fails or the
// strings read do not fit the chip together, which `report` then says.
bool SetYm2610Profile(const D2xxBinding& d2xx, std::int32_t deviceIndex, Ym2610SetReport& report);

}  // namespace ft232h
