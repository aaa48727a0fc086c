// Implementation here must not depend on any platform: UTF-16 files and
// their UTF-8 text; only the code page's conversions are the system's.
#include "eeprom/settings_encoding.hpp"

#include "eeprom/code_page.hpp"
#include "eeprom/utf16.hpp"

namespace ft232h {

namespace {

constexpr std::string_view kLittleEndianMark = "\xFF\xFE";
constexpr std::string_view kBigEndianMark = "\xFE\xFF";

}  // namespace

SettingsEncoding EncodingOf(std::string_view fileBytes) {
    if (fileBytes.starts_with(kLittleEndianMark)) {
        return SettingsEncoding::kUtf16LittleEndian;
    }
    if (fileBytes.starts_with(kBigEndianMark)) {
        return SettingsEncoding::kUtf16BigEndian;
    }
    return SettingsEncoding::kSingleByte;
}

std::optional<std::string> TextOfUtf16File(std::string_view fileBytes, SettingsEncoding encoding) {
    if (fileBytes.size() % 2 != 0) {
        return std::nullopt;
    }
    const bool bigEndian = encoding == SettingsEncoding::kUtf16BigEndian;
    std::u16string units;
    units.reserve(fileBytes.size() / 2);
    for (std::size_t i = kLittleEndianMark.size(); i < fileBytes.size(); i += 2) {
        const auto first = static_cast<unsigned char>(fileBytes[i]);
        const auto second = static_cast<unsigned char>(fileBytes[i + 1]);
        units.push_back(static_cast<char16_t>(bigEndian ? first << 8 | second : second << 8 | first));
    }
    return Utf8FromUtf16(units, Utf16Mismatch::kKept);
}

std::optional<std::string> Utf16FileOf(std::string_view text, SettingsEncoding encoding) {
    const std::optional<std::u16string> units = Utf16FromUtf8(text, Utf16Mismatch::kKept);
    if (!units) {
        return std::nullopt;
    }
    const bool bigEndian = encoding == SettingsEncoding::kUtf16BigEndian;
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
    const std::optional<std::u16string> units = Utf16FromUtf8(text, Utf16Mismatch::kKept);
    return units ? CodePageFromUtf16(*units) : std::nullopt;
}

std::string ShownInCodePage(std::string_view text) {
    const std::optional<std::u16string> units = Utf16FromUtf8(text, Utf16Mismatch::kKept);
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
    // Code page 932 holds some characters under two codes (NEC's and IBM's
    // rows): the text gives one of them back, so a dump would change a
    // string of the chip that used the other.
    if (!units || CodePageFromUtf16(*units) != std::optional<std::string>(bytes)) {
        return std::nullopt;
    }
    return Utf8FromUtf16(*units, Utf16Mismatch::kKept);
}

}  // namespace ft232h
