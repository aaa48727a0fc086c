// The entry points the simulated library exports, under the names and in the
// calling convention of FTDI's D2XX library, so the tool binds to it exactly
// as it binds to the real one.
#pragma once

#include <cstdint>
#include <type_traits>

#include "d2xx/d2xx_api.hpp"

extern "C" {

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

}  // extern "C"

// The tool calls through these pointer types; a signature that drifted from
// them would still link and then fail only at run time.
static_assert(std::is_same_v<decltype(&FT_CreateDeviceInfoList), ft232h::FT_CreateDeviceInfoList_t>);
static_assert(std::is_same_v<decltype(&FT_GetDeviceInfoList), ft232h::FT_GetDeviceInfoList_t>);
static_assert(std::is_same_v<decltype(&FT_Open), ft232h::FT_Open_t>);
static_assert(std::is_same_v<decltype(&FT_Close), ft232h::FT_Close_t>);
static_assert(std::is_same_v<decltype(&FT_EEPROM_Read), ft232h::FT_EEPROM_Read_t>);
static_assert(std::is_same_v<decltype(&FT_EEPROM_Program), ft232h::FT_EEPROM_Program_t>);
static_assert(std::is_same_v<decltype(&FT_EraseEE), ft232h::FT_EraseEE_t>);
