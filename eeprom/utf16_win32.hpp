// Only Win32 code includes this file.
//
// The wide calls' strings and the conversions' (utf16.hpp): on Windows
// wchar_t is 16 bits and std::wstring holds the same UTF-16 units as
// std::u16string, so the units are copied across one by one.
#pragma once

#include <string>
#include <string_view>

#include "eeprom/utf16.hpp"

namespace ft232h {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "the wide calls take UTF-16");

inline std::wstring WideOfUtf16(std::u16string_view units) {
    return {units.begin(), units.end()};
}

inline std::u16string Utf16OfWide(std::wstring_view wide) {
    return {wide.begin(), wide.end()};
}

}  // namespace ft232h
