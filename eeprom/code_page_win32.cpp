// Implementation here must contain only Win32 specific code.
#include <windows.h>

#include <climits>
#include <optional>
#include <string>

#include "eeprom/code_page.hpp"

namespace ft232h {

std::optional<std::string> CodePageFromUtf16(std::u16string_view text) {
    if (text.empty()) {
        return std::string();
    }
    if (text.size() > static_cast<std::size_t>(INT_MAX / 2)) {
        return std::nullopt;
    }
    const auto* const wide = reinterpret_cast<const wchar_t*>(text.data());
    const int units = static_cast<int>(text.size());
    // Windows' profile service maps with best fit ('é' may come back as 'e')
    // and puts '?' for the rest; both would program another string than the
    // file holds.
    BOOL lacking = FALSE;
    const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, units, nullptr, 0, nullptr, &lacking);
    if (length <= 0 || lacking != FALSE) {
        return std::nullopt;
    }
    std::string bytes(static_cast<std::size_t>(length), '\0');
    if (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, units, bytes.data(), length, nullptr, &lacking) !=
            length ||
        lacking != FALSE) {
        return std::nullopt;
    }
    // A lone surrogate passes WideCharToMultiByte as a default character of
    // its own on some systems: only text that comes back the same is taken.
    const std::optional<std::u16string> back = Utf16FromCodePage(bytes);
    if (!back || *back != text) {
        return std::nullopt;
    }
    return bytes;
}

std::optional<std::u16string> Utf16FromCodePage(std::string_view bytes) {
    if (bytes.empty()) {
        return std::u16string();
    }
    if (bytes.size() > static_cast<std::size_t>(INT_MAX)) {
        return std::nullopt;
    }
    const int length = static_cast<int>(bytes.size());
    const int units = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes.data(), length, nullptr, 0);
    if (units <= 0) {
        return std::nullopt;
    }
    std::u16string text(static_cast<std::size_t>(units), u'\0');
    if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes.data(), length, reinterpret_cast<wchar_t*>(text.data()),
                            units) != units) {
        return std::nullopt;
    }
    return text;
}

}  // namespace ft232h
