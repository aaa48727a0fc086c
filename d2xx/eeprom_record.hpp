// The FT232H EEPROM image as it crosses FT_EEPROM_Read and FT_EEPROM_Program:
// a 44-byte record and four 64-byte strings.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

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

// How much of the FT232H's EEPROM the strings may take. FTDI's library
// stores Manufacturer, Description and SerialNumber as USB string
// descriptors in words 0x50-0x7E of the chip: 47 words, one header word per
// string (an empty one included) and one word per byte, a byte above 0x7F
// too (it goes in sign-extended). ManufacturerId is not stored. The library
// does not check the sum: past it, it silently overwrites the checksum and
// the descriptors before it, and a little further it crashes inside
// FT_EEPROM_Program after it has already erased the chip.
inline constexpr std::size_t kStringAreaWords = 47;
inline constexpr std::size_t kStoredStrings = 3;
inline constexpr std::size_t kMaxStoredStringBytes = kStringAreaWords - kStoredStrings;
// An empty SerialNumber is not stored empty when ManufacturerId is given:
// the library makes one of ManufacturerId's first two characters and six
// more.
inline constexpr std::size_t kGeneratedSerialNumberLength = 8;

// What each string takes of the string area, in the order of EepromStrings;
// ManufacturerId takes room only when it stands in for an empty serial
// number.
struct StoredStringBytes {
    std::size_t manufacturer = 0;
    std::size_t manufacturerId = 0;
    std::size_t description = 0;
    std::size_t serialNumber = 0;

    [[nodiscard]] std::size_t Total() const { return manufacturer + manufacturerId + description + serialNumber; }
};

constexpr StoredStringBytes StoredStringBytesOf(std::string_view manufacturer, std::string_view manufacturerId,
                                                std::string_view description, std::string_view serialNumber) {
    StoredStringBytes stored{manufacturer.size(), 0, description.size(), serialNumber.size()};
    if (serialNumber.empty() && !manufacturerId.empty()) {
        stored.manufacturerId = kGeneratedSerialNumberLength;
    }
    return stored;
}

// The strings as the library hands them over, each up to its terminator or
// 63 bytes, fit the chip together.
inline bool StringsFitTheChip(const EepromStrings& strings) {
    const auto text = [](const EepromString& buffer) {
        return std::string_view(buffer.data(), static_cast<std::size_t>(
                                                   std::find(buffer.begin(), buffer.end() - 1, '\0') - buffer.begin()));
    };
    return StoredStringBytesOf(text(strings.Manufacturer), text(strings.ManufacturerId), text(strings.Description),
                               text(strings.SerialNumber))
               .Total() <= kMaxStoredStringBytes;
}

}  // namespace ft232h
