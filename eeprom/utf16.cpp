// Implementation here must not depend on any platform.
#include "eeprom/utf16.hpp"

#include <cstdint>

namespace ft232h {

namespace {

constexpr char16_t kReplacementCharacter = u'\uFFFD';

void AppendUtf8(std::string& text, std::uint32_t codePoint) {
    auto byte = [&](std::uint32_t value) { text.push_back(static_cast<char>(value)); };
    if (codePoint < 0x80) {
        byte(codePoint);
    } else if (codePoint < 0x800) {
        byte(0xC0 | codePoint >> 6);
        byte(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        byte(0xE0 | codePoint >> 12);
        byte(0x80 | (codePoint >> 6 & 0x3F));
        byte(0x80 | (codePoint & 0x3F));
    } else {
        byte(0xF0 | codePoint >> 18);
        byte(0x80 | (codePoint >> 12 & 0x3F));
        byte(0x80 | (codePoint >> 6 & 0x3F));
        byte(0x80 | (codePoint & 0x3F));
    }
}

// How long the sequence a lead byte starts is, and which bytes may come
// second; the bytes after that are any continuation byte. Ruling out the
// second byte is what keeps every number to its shortest form and below
// U+110000, and (unless kept) the surrogates out. Length 0: no lead byte.
struct LeadByte {
    std::size_t length = 0;
    unsigned char lowestSecond = 0x80;
    unsigned char highestSecond = 0xBF;
};

constexpr LeadByte LeadByteOf(unsigned char lead, bool surrogatesKept) {
    if (lead < 0x80) {
        return {1};
    }
    if (lead < 0xC2) {
        return {0};
    }
    if (lead < 0xE0) {
        return {2};
    }
    if (lead == 0xE0) {
        return {3, 0xA0};
    }
    if (lead == 0xED) {
        return {3, 0x80, static_cast<unsigned char>(surrogatesKept ? 0xBF : 0x9F)};
    }
    if (lead < 0xF0) {
        return {3};
    }
    if (lead == 0xF0) {
        return {4, 0x90};
    }
    if (lead < 0xF4) {
        return {4};
    }
    if (lead == 0xF4) {
        return {4, 0x80, 0x8F};
    }
    return {0};
}

}  // namespace

std::optional<std::u16string> Utf16FromUtf8(std::string_view text, Utf16Mismatch mismatch) {
    std::u16string units;
    units.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const LeadByte form = LeadByteOf(lead, mismatch == Utf16Mismatch::kKept);
        std::uint32_t codePoint = form.length == 1 ? lead : lead & (0x7Fu >> form.length);
        std::size_t taken = form.length == 0 ? 0 : 1;
        while (taken > 0 && taken < form.length && i + taken < text.size()) {
            const auto next = static_cast<unsigned char>(text[i + taken]);
            const bool second = taken == 1;
            if (next < (second ? form.lowestSecond : 0x80) || next > (second ? form.highestSecond : 0xBF)) {
                break;
            }
            codePoint = codePoint << 6 | (next & 0x3Fu);
            ++taken;
        }
        if (form.length == 0 || taken < form.length) {
            if (mismatch != Utf16Mismatch::kReplaced) {
                return std::nullopt;
            }
            units.push_back(kReplacementCharacter);
            i += taken == 0 ? 1 : taken;
            continue;
        }
        if (codePoint >= 0x10000) {
            units.push_back(static_cast<char16_t>(0xD800 + ((codePoint - 0x10000) >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 + ((codePoint - 0x10000) & 0x3FF)));
        } else {
            units.push_back(static_cast<char16_t>(codePoint));
        }
        i += taken;
    }
    return units;
}

std::optional<std::string> Utf8FromUtf16(std::u16string_view units, Utf16Mismatch mismatch) {
    std::string text;
    text.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        const std::uint32_t unit = units[i];
        if (IsHighSurrogate(unit) && i + 1 < units.size() && IsLowSurrogate(units[i + 1])) {
            AppendUtf8(text, 0x10000 + ((unit - 0xD800) << 10) + (units[++i] - 0xDC00));
        } else if ((IsHighSurrogate(unit) || IsLowSurrogate(unit)) && mismatch != Utf16Mismatch::kKept) {
            if (mismatch == Utf16Mismatch::kRefused) {
                return std::nullopt;
            }
            AppendUtf8(text, kReplacementCharacter);
        } else {
            AppendUtf8(text, unit);
        }
    }
    return text;
}

}  // namespace ft232h
