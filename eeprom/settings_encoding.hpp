// Settings files whose text is UTF-16, as Windows' profile service reads and
// writes them: PowerShell 5.1 and Notepad's "Unicode" make such files. Their
// text is handled as UTF-8 by the same rules as any other file, so that
// every character of it, a comment in any script included, stays as it was;
// values cross into the tool's code page (code_page.hpp) and back.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ft232h {

enum class SettingsEncoding { kSingleByte, kUtf16LittleEndian, kUtf16BigEndian };

// What a file's bytes announce: UTF-16 after a byte-order mark of either
// order, single bytes otherwise.
SettingsEncoding EncodingOf(std::string_view fileBytes);

// The text of a UTF-16 file, its mark left out, in UTF-8. An unpaired
// surrogate, which a UTF-16 file may hold, takes the three bytes UTF-8 would
// give its number (the form called WTF-8), so that the file comes back byte
// for byte. nullopt for an odd number of bytes: that is no UTF-16 file.
std::optional<std::string> TextOfUtf16File(std::string_view fileBytes, SettingsEncoding encoding);

// The bytes of a UTF-16 file holding `text` (as TextOfUtf16File gives it),
// the mark first. nullopt when `text` is not such text.
std::optional<std::string> Utf16FileOf(std::string_view text, SettingsEncoding encoding);

// A value of such text in the code page; nullopt when the code page lacks
// one of its characters.
std::optional<std::string> CodePageFromText(std::string_view text);

// The same for showing the value to a user: '?' where a character is lacking.
std::string ShownInCodePage(std::string_view text);

// The code page's `bytes` as such text; nullopt when they are no text there,
// or would not come back as the same bytes.
std::optional<std::string> TextFromCodePage(std::string_view bytes);

}  // namespace ft232h
