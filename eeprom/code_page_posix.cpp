// Implementation here must contain only POSIX specific code.
#include <iconv.h>

#include <cerrno>
#include <optional>
#include <string>

#include "eeprom/code_page.hpp"

namespace ft232h {

namespace {

// A byte order named, so that iconv neither reads nor writes a mark.
constexpr const char* kUtf16 = "UTF-16LE";
constexpr const char* kCodePage = "CP932";

// All of `in` converted, or nullopt at the first byte iconv cannot take.
std::optional<std::string> Convert(const char* to, const char* from, std::string_view in) {
    // Not const: iconv_t is a pointer, and const would bind to the pointer.
    iconv_t converter = iconv_open(to, from);
    // iconv_open's own failure value, (iconv_t)-1: an integer made a pointer.
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast,performance-no-int-to-ptr)
    if (converter == reinterpret_cast<iconv_t>(-1)) {
        return std::nullopt;
    }
    std::string input(in);
    // Two bytes of UTF-16 never become more than two of the code page, and
    // one byte of the code page never more than two of UTF-16.
    std::string out(input.size() * 2, '\0');
    char* source = input.data();
    std::size_t sourceLeft = input.size();
    char* target = out.data();
    std::size_t targetLeft = out.size();
    const std::size_t converted = iconv(converter, &source, &sourceLeft, &target, &targetLeft);
    // An incomplete sequence at the end is left over rather than refused.
    const bool whole = converted != static_cast<std::size_t>(-1) && sourceLeft == 0 &&
                       iconv(converter, nullptr, nullptr, &target, &targetLeft) != static_cast<std::size_t>(-1);
    iconv_close(converter);
    if (!whole) {
        return std::nullopt;
    }
    out.resize(out.size() - targetLeft);
    return out;
}

}  // namespace

std::optional<std::string> CodePageFromUtf16(std::u16string_view text) {
    std::string littleEndian;
    littleEndian.reserve(text.size() * 2);
    for (const char16_t unit : text) {
        littleEndian.push_back(static_cast<char>(unit & 0xFF));
        littleEndian.push_back(static_cast<char>(unit >> 8));
    }
    std::optional<std::string> bytes = Convert(kCodePage, kUtf16, littleEndian);
    // iconv also takes look-alikes one way (U+301C for the 0x8160 that
    // reads back as U+FF5E); Windows takes only what comes back the same,
    // and so a file means the same on both.
    if (!bytes || Convert(kUtf16, kCodePage, *bytes) != littleEndian) {
        return std::nullopt;
    }
    return bytes;
}

std::optional<std::u16string> Utf16FromCodePage(std::string_view bytes) {
    const std::optional<std::string> converted = Convert(kUtf16, kCodePage, bytes);
    if (!converted) {
        return std::nullopt;
    }
    std::u16string text;
    text.reserve(converted->size() / 2);
    for (std::size_t i = 0; i + 1 < converted->size(); i += 2) {
        text.push_back(static_cast<char16_t>(static_cast<unsigned char>((*converted)[i]) |
                                             static_cast<unsigned char>((*converted)[i + 1]) << 8));
    }
    return text;
}

}  // namespace ft232h
