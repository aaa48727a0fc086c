#include "tests/e2e/chip_world.hpp"

#include <stdexcept>

#include "emu/chip.hpp"
#include "tests/emu/image_decoder.hpp"

namespace ft232h::e2e {

// The runner, the chip model and the decoder each name the image's size.
static_assert(kChipImageBytes == emu::kImageBytes && kChipImageBytes == emu_test::kImageSize);

namespace {

emu_test::Image ImageOf(const std::string& bytes) {
    const auto image = emu_test::ImageFromBytes(bytes);
    if (!image) {
        throw std::runtime_error("an image of " + std::to_string(bytes.size()) + " bytes");
    }
    return *image;
}

std::string BytesOf(const emu::Eeprom& words) {
    const auto image = emu::ImageBytes(words);
    return {image.begin(), image.end()};
}

}  // namespace

std::string FactoryImage(const std::string& serial) {
    return BytesOf(emu::FactoryImage(serial));
}

std::string WithChecksum(const std::string& image) {
    emu::Eeprom words = emu::EepromFromBytes(ImageOf(image));
    words.back() = emu::EepromChecksum(words);
    return BytesOf(words);
}

bool DecodeChip(const std::string& image, ChipFields& fields, std::string& failure) {
    const auto decoded = emu_test::DecodeImage(ImageOf(image), failure);
    if (decoded) {
        fields = *decoded;
    }
    return decoded.has_value();
}

}  // namespace ft232h::e2e
