#include "eeprom/erase_init.hpp"

#include <algorithm>
#include <string_view>

namespace ft232h {
namespace {

constexpr std::uint16_t kFtdiVendorId = 0x0403;
constexpr std::uint16_t kFt232hProductId = 0x6014;
constexpr std::uint16_t kDefaultMaxPower = 100;
constexpr std::uint8_t kDriveCurrent4mA = 4;
constexpr std::uint8_t kDriverVirtualComPort = 1;

void CopyInto(EepromString& buffer, std::string_view text) {
    std::copy(text.begin(), text.end(), buffer.begin());
}

}  // namespace

EepromRecord DefaultEepromRecord() {
    EepromRecord record;
    record.deviceType = kDeviceTypeFt232h;
    record.VendorId = kFtdiVendorId;
    record.ProductId = kFt232hProductId;
    record.SerNumEnable = 1;
    record.MaxPower = kDefaultMaxPower;
    record.ACDriveCurrent = kDriveCurrent4mA;
    record.ADDriveCurrent = kDriveCurrent4mA;
    record.DriverType = kDriverVirtualComPort;
    return record;
}

EepromStrings DefaultEepromStrings() {
    EepromStrings strings;
    CopyInto(strings.Manufacturer, "FTDI");
    CopyInto(strings.ManufacturerId, "FT");
    CopyInto(strings.Description, "USB <-> Serial Converter");
    return strings;
}

bool EraseEeprom(const D2xxBinding& d2xx, std::int32_t deviceIndex) {
    return WithOpenDevice(d2xx, deviceIndex, [&](FtHandle handle) { return d2xx.EraseEeprom(handle) == kFtOk; });
}

bool InitEeprom(const D2xxBinding& d2xx, std::int32_t deviceIndex) {
    EepromRecord record = DefaultEepromRecord();
    EepromStrings strings = DefaultEepromStrings();
    return WithOpenDevice(d2xx, deviceIndex,
                          [&](FtHandle handle) { return d2xx.ProgramEeprom(handle, record, strings) == kFtOk; });
}

}  // namespace ft232h
