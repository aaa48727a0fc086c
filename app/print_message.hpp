// Formatted output of the tool's messages.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <variant>

#include "app/console.hpp"

namespace ft232h {

// A path the tool built, which the console shows as a path (Console::WritePath).
struct PathText {
    std::string_view path;
};

using MessageArgument = std::variant<std::int32_t, std::string_view, PathText>;

// Prints `format` to the console with the conversions of the standard
// formatted-print family that the messages use, each taking the next
// argument in the order of the format, as printf does: %d with an optional
// width ("%2d") a number, %s and %hs a text or a path, written as given.
// "%%" prints a percent sign. A conversion without an argument left prints
// nothing. The literal text is the tool's own Shift_JIS text.
void PrintMessage(Console& console, std::string_view format, std::initializer_list<MessageArgument> arguments = {});

}  // namespace ft232h
