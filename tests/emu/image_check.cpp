// Prints what libftdi decodes from a 256-byte FT232H EEPROM image as
// key=value lines; a blank or corrupt image gives one line on standard
// error and status 1.
//
//   ft232h_image_check IMAGE
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/emu/image_decoder.hpp"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: ft232h_image_check IMAGE\n", stderr);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto image = ft232h::emu_test::ImageFromBytes(bytes);
    if (!in || !image) {
        std::fprintf(stderr, "%s: not a readable %zu-byte image\n", argv[1], ft232h::emu_test::kImageSize);
        return 1;
    }
    std::string failure;
    const auto decoded = ft232h::emu_test::DecodeImage(*image, failure);
    if (!decoded) {
        std::fprintf(stderr, "%s: %s\n", argv[1], failure.c_str());
        return 1;
    }
    for (const auto& [key, value] : *decoded) {
        std::printf("%s=%s\n", key.c_str(), value.c_str());
    }
    return 0;
}
