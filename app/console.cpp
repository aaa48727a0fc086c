#include "app/console.hpp"

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

}  // namespace ft232h
