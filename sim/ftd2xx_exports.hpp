// The entry points the simulated library exports, under the names and in the
// calling convention of FTDI's D2XX library, so the tool binds to it exactly
// as it binds to the real one.
#pragma once

#include <cstdint>
#include <type_traits>

#include "d2xx/d2xx_api.hpp"

extern "C" {

// NOLINTBEGIN(readability-identifier-naming): FTDI's entry point names, which
// the tool looks up.

ft232h::FtStatus FT232H_D2XX_CALL FT_CreateDeviceInfoList(std::uint32_t* count);
ft232h::FtStatus FT232H_D2XX_CALL FT_GetDeviceInfoList(ft232h::DeviceInfoNode* nodes, std::uint32_t* count);
ft232h::FtStatus FT232H_D2XX_CALL FT_Open(int deviceIndex, ft232h::FtHandle* handle);
ft232h::FtStatus FT232H_D2XX_CALL FT_Close(ft232h::FtHandle handle);
ft232h::FtStatus FT232H_D2XX_CALL FT_EEPROM_Read(ft232h::FtHandle handle, void* eepromData,
                                                 std::uint32_t eepromDataSize, char* manufacturer, char* manufacturerId,
                                                 char* description, char* serialNumber);
ft232h::FtStatus FT232H_D2XX_CALL FT_EEPROM_Program(ft232h::FtHandle handle, void* eepromData,
                                                    std::uint32_t eepromDataSize, char* manufacturer,
                                                    char* manufacturerId, char* description, char* serialNumber);
ft232h::FtStatus FT232H_D2XX_CALL FT_EraseEE(ft232h::FtHandle handle);
// NOLINTEND(readability-identifier-naming)

}  // extern "C"

// The tool calls through these pointer types; a signature that drifted from
// them would still link and then fail only at run time.
static_assert(std::is_same_v<decltype(&FT_CreateDeviceInfoList), ft232h::FtCreateDeviceInfoListFunction>);
static_assert(std::is_same_v<decltype(&FT_GetDeviceInfoList), ft232h::FtGetDeviceInfoListFunction>);
static_assert(std::is_same_v<decltype(&FT_Open), ft232h::FtOpenFunction>);
static_assert(std::is_same_v<decltype(&FT_Close), ft232h::FtCloseFunction>);
static_assert(std::is_same_v<decltype(&FT_EEPROM_Read), ft232h::FtEepromReadFunction>);
static_assert(std::is_same_v<decltype(&FT_EEPROM_Program), ft232h::FtEepromProgramFunction>);
static_assert(std::is_same_v<decltype(&FT_EraseEE), ft232h::FtEraseEeFunction>);
