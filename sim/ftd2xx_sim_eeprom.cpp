// FT_EEPROM_Read and FT_EEPROM_Program, which older D2XX releases lack. The
// legacy build of the simulated library leaves this file out to stand in for
// such a release.
#include "sim/ftd2xx_exports.hpp"
#include "sim/sim_library.hpp"

extern "C" {

ft232h::FtStatus FT232H_D2XX_CALL FT_EEPROM_Read(ft232h::FtHandle handle, void* eepromData,
                                                 std::uint32_t eepromDataSize, char* manufacturer, char* manufacturerId,
                                                 char* description, char* serialNumber) {
    return ft232h::sim::SimEepromRead(handle, eepromData, eepromDataSize, manufacturer, manufacturerId, description,
                                      serialNumber);
}

ft232h::FtStatus FT232H_D2XX_CALL FT_EEPROM_Program(ft232h::FtHandle handle, void* eepromData,
                                                    std::uint32_t eepromDataSize, char* manufacturer,
                                                    char* manufacturerId, char* description, char* serialNumber) {
    return ft232h::sim::SimEepromProgram(handle, eepromData, eepromDataSize, manufacturer, manufacturerId, description,
                                         serialNumber);
}

}  // extern "C"
