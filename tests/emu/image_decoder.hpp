// An FT232H EEPROM image decoded by libftdi, so that what the tool programmed
// through FTDI's library is judged by a second, independent reading.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace ft232h::emu_test {

inline constexpr std::size_t kImageSize = 256;
using Image = std::array<std::uint8_t, kImageSize>;

// The bytes of an image file; nullopt when there are not exactly kImageSize.
std::optional<Image> ImageFromBytes(std::string_view bytes);

// The decoded fields, named after the settings file's keys where one
// corresponds (VendorId, MaxPower, Cbus0, ACDriveCurrent, ..., Manufacturer,
// Description, SerialNumber) and after libftdi's value otherwise. Numbers in
// decimal, flags 0 or 1.
using DecodedImage = std::map<std::string, std::string>;

// nullopt with `failure` set when the image is blank (all 0xFF) or libftdi
// refuses it (a wrong checksum, above all).
std::optional<DecodedImage> DecodeImage(const Image& image, std::string& failure);

}  // namespace ft232h::emu_test
