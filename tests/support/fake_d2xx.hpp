// An in-process stand-in for the D2XX library: a SharedLibrary whose entry
// points are plain functions that answer from a script and record every call.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "d2xx/d2xx_api.hpp"
#include "d2xx/d2xx_binding.hpp"
#include "d2xx/eeprom_record.hpp"

namespace ft232h::testing {

enum class FakeEntryPoint : std::size_t {
    kCreateDeviceInfoList,
    kGetDeviceInfoList,
    kOpen,
    kClose,
    kEepromRead,
    kEepromProgram,
    kEraseEe,
};
inline constexpr std::size_t kFakeEntryPointCount = 7;

// The library's own name of the entry point ("FT_EEPROM_Read").
std::string_view NameOf(FakeEntryPoint entryPoint);

// One call as the library saw it. Only the members that the entry point
// takes are filled.
struct FakeCall {
    FakeEntryPoint entryPoint{};
    std::int32_t deviceIndex = 0;  // FT_Open
    FtHandle handle = nullptr;     // FT_Close, FT_EEPROM_*, FT_EraseEE
    std::uint32_t recordSize = 0;  // FT_EEPROM_Read, FT_EEPROM_Program
    // FT_EEPROM_Read: the record as passed in, before it is filled.
    // FT_EEPROM_Program: the record and strings as passed.
    EepromRecord record{};
    EepromStrings strings{};
};

// The library as a test scripts it. Only one may exist at a time: the entry
// points are plain functions and find it through the one active instance.
//
// Every entry point records its call first, then returns the status scripted
// for it (0 unless set). On 0: FT_CreateDeviceInfoList reports
// devices.size(); FT_GetDeviceInfoList copies `devices` and reports their
// number; FT_Open gives `handle`; FT_EEPROM_Read fills the record and strings
// from `eeprom` and `eepromStrings`; FT_EEPROM_Program stores what it is given
// there (so a later read returns it). A record size other than 44 gets
// kFtInvalidParameter without any effect.
class FakeD2xx {
public:
    FakeD2xx();
    ~FakeD2xx();
    FakeD2xx(const FakeD2xx&) = delete;
    FakeD2xx& operator=(const FakeD2xx&) = delete;

    // A binding whose library is this fake; it must not outlive the fake.
    [[nodiscard]] D2xxBinding Binding();

    FtStatus& StatusOf(FakeEntryPoint entryPoint) { return statuses[static_cast<std::size_t>(entryPoint)]; }
    // The library then lacks the entry point: resolving it gives nullptr.
    void Remove(FakeEntryPoint entryPoint) { missing[static_cast<std::size_t>(entryPoint)] = true; }

    // The entry points called, in order.
    [[nodiscard]] std::vector<FakeEntryPoint> Sequence() const;
    [[nodiscard]] std::size_t CountOf(FakeEntryPoint entryPoint) const;
    // The last call of that entry point; nullptr when there was none.
    [[nodiscard]] const FakeCall* LastCallOf(FakeEntryPoint entryPoint) const;

    std::array<FtStatus, kFakeEntryPointCount> statuses{};
    std::array<bool, kFakeEntryPointCount> missing{};
    std::vector<DeviceInfoNode> devices;
    EepromRecord eeprom{};
    EepromStrings eepromStrings{};
    FtHandle handle;  // defaults to an address unique to this fake
    std::vector<FakeCall> calls;
};

}  // namespace ft232h::testing
