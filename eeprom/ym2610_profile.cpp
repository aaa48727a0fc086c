#include "eeprom/ym2610_profile.hpp"

#include "eeprom/confirmed_read.hpp"
#include "eeprom/string_area.hpp"

namespace ft232h {
namespace {

// The board talks to the chip through the 245-style FIFO with 8 mA drive on
// both buses, uses C bus pins 5 and 6 as I/O pins (and pin 9 as the power
// enable), and needs the D2XX driver rather than the virtual COM port.
constexpr std::uint8_t kDriveCurrent8mA = 8;
constexpr std::uint8_t kCbusIoMode = 8;
constexpr std::uint8_t kCbusPowerEnable = 4;
constexpr std::uint8_t kDriverD2xx = 0;
constexpr std::uint16_t kMaxPower = 200;

}  // namespace

bool MatchesYm2610Profile(const EepromRecord& record) {
    return record.ACDriveCurrent == kDriveCurrent8mA && record.ADDriveCurrent == kDriveCurrent8mA &&
           record.Cbus5 == kCbusIoMode && record.Cbus6 == kCbusIoMode && record.IsFifo == 1 && record.IsFifoTar == 0 &&
           record.IsFastSer == 0 && record.IsFT1248 == 0 && record.DriverType == kDriverD2xx;
}

void ApplyYm2610Profile(EepromRecord& record) {
    record.ACDriveCurrent = kDriveCurrent8mA;
    record.ADDriveCurrent = kDriveCurrent8mA;
    record.Cbus5 = kCbusIoMode;
    record.Cbus6 = kCbusIoMode;
    record.IsFifo = 1;
    record.IsFifoTar = 0;
    record.IsFastSer = 0;
    record.IsFT1248 = 0;
    record.DriverType = kDriverD2xx;
    record.MaxPower = kMaxPower;
    record.Cbus9 = kCbusPowerEnable;
}

bool CheckYm2610Profile(const D2xxBinding& d2xx, std::int32_t deviceIndex) {
    return WithOpenDevice(d2xx, deviceIndex, [&](FtHandle handle) {
        EepromRecord record;
        EepromStrings strings;
        return ReadConfirmedEeprom(d2xx, handle, record, strings) && MatchesYm2610Profile(record);
    });
}

bool SetYm2610Profile(const D2xxBinding& d2xx, std::int32_t deviceIndex, Ym2610SetReport& report) {
    report = Ym2610SetReport{};
    return WithOpenDevice(d2xx, deviceIndex, [&](FtHandle handle) {
        EepromRecord record;
        EepromStrings strings;
        if (!ReadConfirmedEeprom(d2xx, handle, record, strings)) {
            return false;
        }
        // Strings that do not fit the chip together can be read from an image
        // FTDI's library did not lay out (two strings sharing one descriptor,
        // say); programming them back would crash it after it erased the chip.
        if (!StringsFitTheChip(strings)) {
            report.stringsBeyondTheChip = true;
            return false;
        }
        ApplyYm2610Profile(record);
        // The strings go back exactly as the read left them.
        return d2xx.ProgramEeprom(handle, record, strings) == kFtOk;
    });
}

}  // namespace ft232h
