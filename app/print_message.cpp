#include "app/print_message.hpp"

#include <array>
#include <charconv>
#include <cstddef>
#include <string>

namespace ft232h {
namespace {

// Takes the next argument that `wanted` accepts, skipping the others.
template <typename Wanted>
const MessageArgument* Next(std::initializer_list<MessageArgument> arguments, std::size_t& position, Wanted wanted) {
    while (position < arguments.size()) {
        const MessageArgument& argument = *(arguments.begin() + position);
        ++position;
        if (wanted(argument)) {
            return &argument;
        }
    }
    return nullptr;
}

bool IsNumber(const MessageArgument& argument) {
    return std::holds_alternative<std::int32_t>(argument);
}

bool IsText(const MessageArgument& argument) {
    return !IsNumber(argument);
}

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

}  // namespace

void PrintMessage(Console& console, std::string_view format, std::initializer_list<MessageArgument> arguments) {
    std::size_t nextNumber = 0;
    std::size_t nextText = 0;
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
        if (conversion == 'd') {
            if (const auto* number = Next(arguments, nextNumber, IsNumber)) {
                WriteNumber(console, std::get<std::int32_t>(*number), width);
            }
        } else if (conversion == 's') {
            if (const auto* text = Next(arguments, nextText, IsText)) {
                if (const auto* path = std::get_if<PathText>(text)) {
                    console.WritePath(path->path);
                } else {
                    console.WriteArgument(std::get<std::string_view>(*text));
                }
            }
        } else if (conversion == '%') {
            console.WriteText("%");
        }
        i = conversion == '\0' ? j : j + 1;
        literalStart = i;
    }
    WriteLiteral(console, format.substr(literalStart));
}

}  // namespace ft232h
