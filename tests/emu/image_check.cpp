// Prints what libftdi decodes from a 256-byte FT232H EEPROM image as
// key=value lines; a blank or corrupt image gives one line on standard
// error and status 1.
//
//   ft232h_image_check IMAGE
#include <algorithm>
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
    ft232h::emu_test::Image image{};
    if (!in || bytes.size() != image.size()) {
        std::fprintf(stderr, "%s: not a readable %zu-byte image\n", argv[1], image.size());
        return 1;
    }
    std::copy(bytes.begin(), bytes.end(), image.begin());
    std::string failure;
    const auto decoded = ft232h::emu_test::DecodeImage(image, failure);
    if (!decoded) {
        std::fprintf(stderr, "%s: %s\n", argv[1], failure.c_str());
        return 1;
    }
    for (const auto& [key, value] : *decoded) {
        std::printf("%s=%s\n", key.c_str(), value.c_str());
    }
    return 0;
}
