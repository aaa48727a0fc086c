// The FT232H EEPROM image as it crosses FT_EEPROM_Read and FT_EEPROM_Program:
// a 44-byte record and four 64-byte strings.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace ft232h {

inline constexpr std::uint32_t kEepromRecordSize = 44;
inline constexpr std::size_t kEepromStringSize = 64;

// The library's FT_EEPROM_232H: a common header followed by the FT232H fields.
// Little-endian, as every platform the library supports. The alignment bytes
// are named so that a record built from scratch has them 0 and a record read
// from the library keeps whatever the library left there.
// NOLINTBEGIN(readability-identifier-naming): FT_EEPROM_232H's own field
// names, which are also the keys of the settings file.
struct EepromRecord {
    std::uint32_t deviceType = 0;
    std::uint16_t VendorId = 0;
    std::uint16_t ProductId = 0;
    std::uint8_t SerNumEnable = 0;
    std::uint8_t alignment9 = 0;
    std::uint16_t MaxPower = 0;
    std::uint8_t SelfPowered = 0;
    std::uint8_t RemoteWakeup = 0;
    std::uint8_t PullDownEnable = 0;
    std::uint8_t alignment15 = 0;
    std::uint8_t ACSlowSlew = 0;
    std::uint8_t ACSchmittInput = 0;
    std::uint8_t ACDriveCurrent = 0;
    std::uint8_t ADSlowSlew = 0;
    std::uint8_t ADSchmittInput = 0;
    std::uint8_t ADDriveCurrent = 0;
    std::uint8_t Cbus0 = 0;
    std::uint8_t Cbus1 = 0;
    std::uint8_t Cbus2 = 0;
    std::uint8_t Cbus3 = 0;
    std::uint8_t Cbus4 = 0;
    std::uint8_t Cbus5 = 0;
    std::uint8_t Cbus6 = 0;
    std::uint8_t Cbus7 = 0;
    std::uint8_t Cbus8 = 0;
    std::uint8_t Cbus9 = 0;
    std::uint8_t FT1248Cpol = 0;
    std::uint8_t FT1248Lsb = 0;
    std::uint8_t FT1248FlowControl = 0;
    std::uint8_t IsFifo = 0;
    std::uint8_t IsFifoTar = 0;
    std::uint8_t IsFastSer = 0;
    std::uint8_t IsFT1248 = 0;
    std::uint8_t PowerSaveEnable = 0;
    std::uint8_t DriverType = 0;
    std::array<std::uint8_t, 3> alignment41{};
};
// NOLINTEND(readability-identifier-naming)
static_assert(sizeof(EepromRecord) == kEepromRecordSize);
static_assert(offsetof(EepromRecord, VendorId) == 4);
static_assert(offsetof(EepromRecord, SerNumEnable) == 8);
static_assert(offsetof(EepromRecord, MaxPower) == 10);
static_assert(offsetof(EepromRecord, SelfPowered) == 12);
static_assert(offsetof(EepromRecord, ACSlowSlew) == 16);
static_assert(offsetof(EepromRecord, Cbus0) == 22);
static_assert(offsetof(EepromRecord, Cbus5) == 27);
static_assert(offsetof(EepromRecord, Cbus6) == 28);
static_assert(offsetof(EepromRecord, Cbus9) == 31);
static_assert(offsetof(EepromRecord, FT1248Cpol) == 32);
static_assert(offsetof(EepromRecord, IsFifo) == 35);
static_assert(offsetof(EepromRecord, DriverType) == 40);

using EepromString = std::array<char, kEepromStringSize>;

// Always passed to the library in this order.
// NOLINTBEGIN(readability-identifier-naming): the names FT_EEPROM_Read gives
// its string parameters, which are also the keys of the settings file.
struct EepromStrings {
    EepromString Manufacturer{};
    EepromString ManufacturerId{};
    EepromString Description{};
    EepromString SerialNumber{};
};
// NOLINTEND(readability-identifier-naming)

}  // namespace ft232h
