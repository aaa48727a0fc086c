// Implementation here must not depend on any platform: UTF-16 files and
// their UTF-8 text; only the code page's conversions are the system's.
#include "eeprom/profile_encoding.hpp"

#include <cstdint>

#include "eeprom/code_page.hpp"

namespace ft232h {

namespace {

constexpr std::string_view kLittleEndianMark = "\xFF\xFE";
constexpr std::string_view kBigEndianMark = "\xFE\xFF";

constexpr bool IsHighSurrogate(std::uint32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

constexpr bool IsLowSurrogate(std::uint32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

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

std::string TextOfUnits(std::u16string_view units) {
    std::string text;
    text.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        const std::uint32_t unit = units[i];
        if (IsHighSurrogate(unit) && i + 1 < units.size() && IsLowSurrogate(units[i + 1])) {
            AppendUtf8(text, 0x10000 + ((unit - 0xD800) << 10) + (units[++i] - 0xDC00));
        } else {
            AppendUtf8(text, unit);
        }
    }
    return text;
}

// The UTF-16 units of such text; nullopt for bytes no such text holds.
std::optional<std::u16string> UnitsOfText(std::string_view text) {
    std::u16string units;
    units.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80    ? 1
                                   : lead > 0xF4  ? 0
                                   : lead >= 0xF0 ? 4
                                   : lead >= 0xE0 ? 3
                                   : lead >= 0xC2 ? 2
                                                  : 0;
        if (length == 0 || i + length > text.size()) {
            return std::nullopt;
        }
        std::uint32_t codePoint = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return std::nullopt;
            }
            codePoint = codePoint << 6 | (next & 0x3F);
        }
        // The shortest form only, as AppendUtf8 writes it.
        constexpr std::uint32_t kLowest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (codePoint < kLowest[length] || codePoint > 0x10FFFF) {
            return std::nullopt;
        }
        if (codePoint >= 0x10000) {
            units.push_back(static_cast<char16_t>(0xD800 + ((codePoint - 0x10000) >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 + ((codePoint - 0x10000) & 0x3FF)));
        } else {
            units.push_back(static_cast<char16_t>(codePoint));
        }
        i += length;
    }
    return units;
}

}  // namespace

ProfileEncoding EncodingOf(std::string_view fileBytes) {
    if (fileBytes.starts_with(kLittleEndianMark)) {
        return ProfileEncoding::kUtf16LittleEndian;
    }
    if (fileBytes.starts_with(kBigEndianMark)) {
        return ProfileEncoding::kUtf16BigEndian;
    }
    return ProfileEncoding::kSingleByte;
}

std::optional<std::string> TextOfUtf16File(std::string_view fileBytes, ProfileEncoding encoding) {
    if (fileBytes.size() % 2 != 0) {
        return std::nullopt;
    }
    const bool bigEndian = encoding == ProfileEncoding::kUtf16BigEndian;
    std::u16string units;
    units.reserve(fileBytes.size() / 2);
    for (std::size_t i = kLittleEndianMark.size(); i < fileBytes.size(); i += 2) {
        const auto first = static_cast<unsigned char>(fileBytes[i]);
        const auto second = static_cast<unsigned char>(fileBytes[i + 1]);
        units.push_back(static_cast<char16_t>(bigEndian ? first << 8 | second : second << 8 | first));
    }
    return TextOfUnits(units);
}

std::optional<std::string> Utf16FileOf(std::string_view text, ProfileEncoding encoding) {
    const std::optional<std::u16string> units = UnitsOfText(text);
    if (!units) {
        return std::nullopt;
    }
    const bool bigEndian = encoding == ProfileEncoding::kUtf16BigEndian;
    std::string bytes(bigEndian ? kBigEndianMark : kLittleEndianMark);
    bytes.reserve(bytes.size() + units->size() * 2);
    for (const char16_t unit : *units) {
        const auto high = static_cast<char>(unit >> 8);
        const auto low = static_cast<char>(unit & 0xFF);
        bytes.push_back(bigEndian ? high : low);
        bytes.push_back(bigEndian ? low : high);
    }
    return bytes;
}

std::optional<std::string> CodePageFromText(std::string_view text) {
    const std::optional<std::u16string> units = UnitsOfText(text);
    return units ? CodePageFromUtf16(*units) : std::nullopt;
}

std::string ShownInCodePage(std::string_view text) {
    const std::optional<std::u16string> units = UnitsOfText(text);
    if (!units) {
        return "?";
    }
    std::string shown;
    for (std::size_t i = 0; i < units->size(); ++i) {
        const std::size_t length =
            IsHighSurrogate((*units)[i]) && i + 1 < units->size() && IsLowSurrogate((*units)[i + 1]) ? 2 : 1;
        const std::optional<std::string> character = CodePageFromUtf16(units->substr(i, length));
        shown += character ? *character : "?";
        i += length - 1;
    }
    return shown;
}

std::optional<std::string> TextFromCodePage(std::string_view bytes) {
    const std::optional<std::u16string> units = Utf16FromCodePage(bytes);
    return units ? std::optional<std::string>(TextOfUnits(*units)) : std::nullopt;
}

}  // namespace ft232h
