// The code page of the tool's single-byte strings, for the settings files
// that hold their text in UTF-16: Windows' ANSI code page, as its profile
// service converts such a file's values; elsewhere code page 932
// (Shift_JIS), the page of the tool's own lines.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ft232h {

// `text` in the code page; nullopt when a character has no form there, or
// only a look-alike, so that no value is silently changed into another.
std::optional<std::string> CodePageFromUtf16(std::u16string_view text);

// The code page's `bytes` in UTF-16; nullopt when they are no text there.
std::optional<std::u16string> Utf16FromCodePage(std::string_view bytes);

}  // namespace ft232h
