// What the FT232H's EEPROM holds of the four strings, which decides whether
// a set of strings can be programmed at all.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string_view>

#include "d2xx/eeprom_record.hpp"

namespace ft232h {

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
