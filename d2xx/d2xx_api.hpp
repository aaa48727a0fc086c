// The D2XX library's calling convention, status values and list node, declared
// here rather than taken from the vendor header so the tool builds without it.
#pragma once

#include <cstddef>
#include <cstdint>

// Every D2XX entry point is __stdcall on Windows. On 64-bit Windows that is a
// no-op, but a 32-bit build that leaves it out corrupts the stack on each call.
#if defined(_WIN32)
#define FT232H_D2XX_CALL __stdcall
#else
#define FT232H_D2XX_CALL
#endif

namespace ft232h {

// 0 is success; the tool never tells non-zero values apart.
using FtStatus = std::uint32_t;
using FtHandle = void*;

inline constexpr FtStatus kFtOk = 0;
inline constexpr FtStatus kFtDeviceNotFound = 2;
inline constexpr FtStatus kFtInvalidParameter = 6;
inline constexpr FtStatus kFtEepromReadFailed = 11;
inline constexpr FtStatus kFtEepromNotProgrammed = 15;
inline constexpr FtStatus kFtOtherError = 18;

inline constexpr std::uint32_t kDeviceTypeFt232h = 8;
// What the library lists as the type of a device it could not examine.
inline constexpr std::uint32_t kDeviceTypeUnknown = 3;
// Bit 0 of a list node's Flags: the device is open.
inline constexpr std::uint32_t kDeviceFlagOpened = 1;

// One entry of FT_GetDeviceInfoList's array, in the library's own layout: the
// trailing handle makes it 100 bytes on 32-bit builds and 104 on 64-bit ones,
// so the array must be sized by this type, never by a fixed 100.
// NOLINTBEGIN(readability-identifier-naming): FT_DEVICE_LIST_INFO_NODE's own
// field names.
struct DeviceInfoNode {
    std::uint32_t Flags;
    std::uint32_t Type;
    std::uint32_t ID;
    std::uint32_t LocId;
    // C arrays, as the library declares them: the layout is the library's.
    char SerialNumber[16];  // NOLINT(cppcoreguidelines-avoid-c-arrays,modernize-avoid-c-arrays)
    char Description[64];   // NOLINT(cppcoreguidelines-avoid-c-arrays,modernize-avoid-c-arrays)
    void* ftHandle;
};
// NOLINTEND(readability-identifier-naming)
static_assert(offsetof(DeviceInfoNode, Type) == 4);
static_assert(offsetof(DeviceInfoNode, SerialNumber) == 16);
static_assert(offsetof(DeviceInfoNode, ftHandle) == 96);
static_assert(sizeof(DeviceInfoNode) == (sizeof(void*) == 4 ? 100 : 104));

// The seven entry points the tool uses, in the library's own signatures.
// FT_EEPROM_Read and FT_EEPROM_Program take the record as void* with its size.
using FtCreateDeviceInfoListFunction = FtStatus(FT232H_D2XX_CALL*)(std::uint32_t* count);
using FtGetDeviceInfoListFunction = FtStatus(FT232H_D2XX_CALL*)(DeviceInfoNode* nodes, std::uint32_t* count);
using FtOpenFunction = FtStatus(FT232H_D2XX_CALL*)(int deviceIndex, FtHandle* handle);
using FtCloseFunction = FtStatus(FT232H_D2XX_CALL*)(FtHandle handle);
using FtEepromReadFunction = FtStatus(FT232H_D2XX_CALL*)(FtHandle handle, void* eepromData,
                                                         std::uint32_t eepromDataSize, char* manufacturer,
                                                         char* manufacturerId, char* description, char* serialNumber);
using FtEepromProgramFunction = FtEepromReadFunction;
using FtEraseEeFunction = FtStatus(FT232H_D2XX_CALL*)(FtHandle handle);

}  // namespace ft232h
