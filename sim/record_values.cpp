#include "sim/record_values.hpp"

#include <algorithm>
#include <array>
#include <cstdint>

namespace ft232h::sim {

namespace {

// The chip keeps the maximum current in units of 2 mA, and the library
// programs at most 500 mA: an odd value loses its last milliampere, a larger
// one becomes 500.
constexpr std::uint16_t kMilliampsPerUnit = 2;
constexpr std::uint16_t kMostMilliamps = 500;

// Two bits per pin group: 4, 8, 12 or 16 mA. Anything else is stored as 4.
constexpr std::array<std::uint8_t, 4> kDriveCurrents{4, 8, 12, 16};

// Four bits per C bus pin, of which the library accepts functions 0 to 12.
constexpr std::uint8_t kHighestCbusFunction = 12;

// The vendor id of an erased chip.
constexpr std::uint16_t kErasedVendorId = 0xFFFF;

// A flag is one bit: any value but 0 is stored as 1.
std::uint8_t Bit(std::uint8_t value) {
    return value != 0 ? 1 : 0;
}

std::uint8_t DriveCurrent(std::uint8_t value) {
    return std::ranges::find(kDriveCurrents, value) != kDriveCurrents.end() ? value : kDriveCurrents.front();
}

}  // namespace

std::optional<EepromRecord> RecordAsProgrammed(const EepromRecord& record, FtStatus& refusal) {
    const std::array<std::uint8_t, 10> cbus{record.Cbus0, record.Cbus1, record.Cbus2, record.Cbus3, record.Cbus4,
                                            record.Cbus5, record.Cbus6, record.Cbus7, record.Cbus8, record.Cbus9};
    if (record.deviceType != kDeviceTypeFt232h || record.VendorId == 0 || record.ProductId == 0 ||
        std::ranges::any_of(cbus, [](std::uint8_t function) { return function > kHighestCbusFunction; })) {
        refusal = kFtInvalidParameter;
        return std::nullopt;
    }
    EepromRecord stored = record;
    stored.MaxPower = std::min<std::uint16_t>(record.MaxPower / kMilliampsPerUnit * kMilliampsPerUnit, kMostMilliamps);
    for (std::uint8_t EepromRecord::*flag :
         {&EepromRecord::SerNumEnable, &EepromRecord::SelfPowered, &EepromRecord::RemoteWakeup,
          &EepromRecord::PullDownEnable, &EepromRecord::ACSlowSlew, &EepromRecord::ACSchmittInput,
          &EepromRecord::ADSlowSlew, &EepromRecord::ADSchmittInput, &EepromRecord::FT1248Cpol, &EepromRecord::FT1248Lsb,
          &EepromRecord::FT1248FlowControl, &EepromRecord::PowerSaveEnable}) {
        stored.*flag = Bit(record.*flag);
    }
    stored.ACDriveCurrent = DriveCurrent(record.ACDriveCurrent);
    stored.ADDriveCurrent = DriveCurrent(record.ADDriveCurrent);
    // One channel mode field: the first mode given wins, in this order.
    bool modeTaken = false;
    for (std::uint8_t EepromRecord::*mode :
         {&EepromRecord::IsFifo, &EepromRecord::IsFifoTar, &EepromRecord::IsFastSer, &EepromRecord::IsFT1248}) {
        stored.*mode = modeTaken ? 0 : Bit(record.*mode);
        modeTaken = modeTaken || stored.*mode != 0;
    }
    // One bit: the virtual COM port driver when 1, D2XX for anything else.
    stored.DriverType = record.DriverType == 1 ? 1 : 0;
    return stored;
}

bool ReadsAsNotProgrammed(const EepromRecord& stored) {
    return stored.VendorId == kErasedVendorId;
}

}  // namespace ft232h::sim
