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
// formatted-print family that the messages use: %d with an optional width
// ("%2d") takes the next number argument; %s and %hs take the next text or
// path argument, written as given. Numbers and texts are taken each in their own
// order, so one argument list serves every line of a command whatever the
// order of its conversions ("%s ... NO.%d" and "NO.%d ... %s" alike). "%%"
// prints a percent sign. A conversion without an argument left prints
// nothing. The literal text is the tool's own Shift_JIS text.
void PrintMessage(Console& console, std::string_view format, std::initializer_list<MessageArgument> arguments = {});

}  // namespace ft232h
