// The behaviour of the simulated D2XX library, one function per entry point.
// The exported functions only forward here; these never throw.
//
// Every call loads the state afresh (from FT232H_SIM_STATE, or
// ftd2xx_sim_state.txt beside the library) and saves it after a change, so
// separate processes see each other's programming and erasing. A missing state
// file is a world without devices; a state file that does not load makes every
// call return kFtOtherError and says why on standard error.
//
// Statuses, besides kFtOk and injected faults:
//   1  FT_Close / EEPROM calls with a handle this library did not give out
//   2  FT_Open with an index outside the list
//   3  FT_Open of a device that is in use, or already open in this process
//   6  a null pointer; an EEPROM record whose size is not 44 or whose
//      deviceType is not the device's, or a device that is no FT232H;
//      a string to program without a terminator in its 64 bytes; a record
//      FTDI's library refuses (record_values.hpp: a zero vendor or product
//      id, a C bus function above 12)
//   12 / 13  the state file could not be saved after programming / erasing
//   15 FT_EEPROM_Read of an erased EEPROM, or of one whose vendor id is
//      0xFFFF
// FT_EEPROM_Program stores the other values as FTDI's library does
// (record_values.hpp): MaxPower in 2 mA steps up to 500, flags as 0 or 1,
// drive currents other than 4, 8, 12 and 16 as 4, one channel mode.
//   18 the state file does not load
#pragma once

#include <cstdint>

#include "d2xx/d2xx_api.hpp"

namespace ft232h::sim {

FtStatus SimCreateDeviceInfoList(std::uint32_t* count) noexcept;
FtStatus SimGetDeviceInfoList(DeviceInfoNode* nodes, std::uint32_t* count) noexcept;
FtStatus SimOpen(int deviceIndex, FtHandle* handle) noexcept;
FtStatus SimClose(FtHandle handle) noexcept;
FtStatus SimEepromRead(FtHandle handle, void* eepromData, std::uint32_t eepromDataSize, char* manufacturer,
                       char* manufacturerId, char* description, char* serialNumber) noexcept;
FtStatus SimEepromProgram(FtHandle handle, void* eepromData, std::uint32_t eepromDataSize, char* manufacturer,
                          char* manufacturerId, char* description, char* serialNumber) noexcept;
FtStatus SimEraseEe(FtHandle handle) noexcept;

}  // namespace ft232h::sim
