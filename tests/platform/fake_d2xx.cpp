// A stand-in library with one D2XX entry point, whose answer tells from
// which file the loader took the library.
#include <cstdint>

extern "C" __attribute__((visibility("default"))) std::uint32_t FT_CreateDeviceInfoList(std::uint32_t* count) {
    *count = 0;
    return FT232H_FAKE_STATUS;
}
