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
//      a string to program without a terminator in its 64 bytes; with
//      strict_limits, strings the chip cannot hold
//   12 / 13  the state file could not be saved after programming / erasing
//   15 FT_EEPROM_Read of an erased EEPROM
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
