// The entry points every D2XX release has. The behaviour lives in
// sim_library.cpp; these only give it the library's names.
#include "sim/ftd2xx_exports.hpp"
#include "sim/sim_library.hpp"

extern "C" {

ft232h::FtStatus FT232H_D2XX_CALL FT_CreateDeviceInfoList(std::uint32_t* count) {
    return ft232h::sim::SimCreateDeviceInfoList(count);
}

ft232h::FtStatus FT232H_D2XX_CALL FT_GetDeviceInfoList(ft232h::DeviceInfoNode* nodes, std::uint32_t* count) {
    return ft232h::sim::SimGetDeviceInfoList(nodes, count);
}

ft232h::FtStatus FT232H_D2XX_CALL FT_Open(int deviceIndex, ft232h::FtHandle* handle) {
    return ft232h::sim::SimOpen(deviceIndex, handle);
}

ft232h::FtStatus FT232H_D2XX_CALL FT_Close(ft232h::FtHandle handle) {
    return ft232h::sim::SimClose(handle);
}

ft232h::FtStatus FT232H_D2XX_CALL FT_EraseEE(ft232h::FtHandle handle) {
    return ft232h::sim::SimEraseEe(handle);
}

}  // extern "C"
