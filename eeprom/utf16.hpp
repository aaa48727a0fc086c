// UTF-8 and UTF-16, each to the other, on every platform: the text of UTF-16
// settings files, and on Windows the wide calls' strings. Every caller says
// what becomes of what the other form cannot hold, so that each keeps the
// rule it needs (a path must be exact; a file's text must come back byte
// for byte; a line shown to the user must show something).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ft232h {

constexpr bool IsHighSurrogate(std::uint32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

constexpr bool IsLowSurrogate(std::uint32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// What a conversion does with an unpaired surrogate, in UTF-16 or encoded in
// UTF-8 (ED A0 80 to ED BF BF), and with bytes that are no UTF-8 at all.
enum class Utf16Mismatch {
    // The conversion fails (nullopt): Windows' conversions with
    // MB_ERR_INVALID_CHARS and WC_ERR_INVALID_CHARS do the same.
    kRefused,
    // A surrogate takes the three bytes UTF-8 would give its number (the form
    // called WTF-8) and comes back from them, so that any UTF-16 survives a
    // round trip; bytes that are no UTF-8 still fail the conversion.
    kKept,
    // U+FFFD stands for each, as in Windows' conversions without those
    // flags: one for an unpaired surrogate, and one for each byte that starts
    // no sequence or each start of a sequence that breaks off (Unicode's
    // recommended practice). Never nullopt.
    kReplaced,
};

std::optional<std::u16string> Utf16FromUtf8(std::string_view text, Utf16Mismatch mismatch);

std::optional<std::string> Utf8FromUtf16(std::u16string_view units, Utf16Mismatch mismatch);

}  // namespace ft232h
