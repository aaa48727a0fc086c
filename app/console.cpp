#include "app/console.hpp"

#include <cstdio>
#include <string>
#include <string_view>

namespace ft232h {

std::string ShownOnTerminal(std::string_view bytes) {
    std::string shown(bytes);
    for (char& character : shown) {
        const auto byte = static_cast<unsigned char>(character);
        if (byte < 0x20 || byte == 0x7F) {
            character = '?';
        }
    }
    return shown;
}

void OutputStream::Write(std::string_view bytes) {
    if (failed_ || bytes.empty()) {
        return;
    }
    if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size() || std::fflush(stdout) != 0) {
        failed_ = true;
    }
}

}  // namespace ft232h
