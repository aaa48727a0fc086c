#include "app/print_message.hpp"

#include <array>
#include <charconv>
#include <cstddef>
#include <string>

namespace ft232h {
namespace {

void WriteNumber(Console& console, std::int32_t value, std::size_t width) {
    std::array<char, 16> digits{};
    const auto [end, error] = std::to_chars(digits.data(), digits.data() + digits.size(), value);
    const auto length = static_cast<std::size_t>(end - digits.data());
    if (width > length) {
        console.WriteArgument(std::string(width - length, ' '));
    }
    console.WriteArgument(std::string_view(digits.data(), length));
}

void WriteLiteral(Console& console, std::string_view text) {
    if (!text.empty()) {
        console.WriteText(text);
    }
}

void WriteArgument(Console& console, const MessageArgument& argument, std::size_t width) {
    if (const auto* number = std::get_if<std::int32_t>(&argument)) {
        WriteNumber(console, *number, width);
    } else if (const auto* path = std::get_if<PathText>(&argument)) {
        console.WritePath(path->path);
    } else {
        console.WriteArgument(std::get<std::string_view>(argument));
    }
}

}  // namespace

void PrintMessage(Console& console, std::string_view format, std::initializer_list<MessageArgument> arguments) {
    const MessageArgument* next = arguments.begin();
    std::size_t literalStart = 0;
    std::size_t i = 0;
    // Shift_JIS trail bytes never take the value of '%', so a byte scan is safe.
    while (i < format.size()) {
        if (format[i] != '%') {
            ++i;
            continue;
        }
        WriteLiteral(console, format.substr(literalStart, i - literalStart));
        std::size_t j = i + 1;
        std::size_t width = 0;
        while (j < format.size() && format[j] >= '0' && format[j] <= '9') {
            width = width * 10 + static_cast<std::size_t>(format[j] - '0');
            ++j;
        }
        if (j < format.size() && format[j] == 'h') {
            ++j;
        }
        const char conversion = j < format.size() ? format[j] : '\0';
        if ((conversion == 'd' || conversion == 's') && next != arguments.end()) {
            WriteArgument(console, *next++, width);
        } else if (conversion == '%') {
            console.WriteText("%");
        }
        i = conversion == '\0' ? j : j + 1;
        literalStart = i;
    }
    WriteLiteral(console, format.substr(literalStart));
}

}  // namespace ft232h
