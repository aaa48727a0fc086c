// The conversions between UTF-8 and UTF-16 under each rule for what the
// other form cannot hold.
#include "eeprom/utf16.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace ft232h {
namespace {

// A pair of surrogates first and last, where a look at the unit before or
// after it could stray out of the text.
TEST(Utf16, CarriesEveryPlaneBothWays) {
    const std::string text =
        "\xF0\x9F\x98\x80"
        "A\xC3\xA9\xE3\x81\x82\xF0\x9F\x98\x80";
    const std::u16string units = u"\U0001F600A\u00E9\u3042\U0001F600";
    for (const Utf16Mismatch mismatch : {Utf16Mismatch::kRefused, Utf16Mismatch::kKept, Utf16Mismatch::kReplaced}) {
        EXPECT_EQ(Utf16FromUtf8(text, mismatch), units);
        EXPECT_EQ(Utf8FromUtf16(units, mismatch), text);
    }
}

TEST(Utf16, KeepsAnUnpairedSurrogateAsItsThreeBytes) {
    const std::u16string units = {u'a', char16_t{0xD800}, u'b', char16_t{0xDC00}};
    const std::string text =
        "a\xED\xA0\x80"
        "b\xED\xB0\x80";
    EXPECT_EQ(Utf8FromUtf16(units, Utf16Mismatch::kKept), text);
    EXPECT_EQ(Utf16FromUtf8(text, Utf16Mismatch::kKept), units);
}

TEST(Utf16, RefusesAnUnpairedSurrogateEitherWay) {
    EXPECT_EQ(Utf8FromUtf16(std::u16string{char16_t{0xDBFF}}, Utf16Mismatch::kRefused), std::nullopt);
    EXPECT_EQ(Utf16FromUtf8("\xED\xA0\x80", Utf16Mismatch::kRefused), std::nullopt);
    EXPECT_EQ(Utf16FromUtf8("\xED\xBF\xBF", Utf16Mismatch::kRefused), std::nullopt);
}

TEST(Utf16, RefusesBytesThatAreNoUtf8UnlessReplacing) {
    for (const char* bytes : {"\x80", "\xC0\x80", "\xC3", "\xE0\x9F\xBF", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80",
                              "\xF8\x90\x80\x80", "\xFF"}) {
        EXPECT_EQ(Utf16FromUtf8(bytes, Utf16Mismatch::kRefused), std::nullopt) << bytes;
        EXPECT_EQ(Utf16FromUtf8(bytes, Utf16Mismatch::kKept), std::nullopt) << bytes;
    }
}

TEST(Utf16, ReplacesEachBrokenPieceWithOneReplacementCharacter) {
    EXPECT_EQ(Utf16FromUtf8("a\xE3\x81"
                            "b",
                            Utf16Mismatch::kReplaced),
              u"a\uFFFDb");
    EXPECT_EQ(Utf16FromUtf8("\xED\xA0\x80", Utf16Mismatch::kReplaced), u"\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(Utf16FromUtf8("\xC0\xAF", Utf16Mismatch::kReplaced), u"\uFFFD\uFFFD");
    EXPECT_EQ(Utf8FromUtf16(std::u16string{u'x', char16_t{0xDC00}}, Utf16Mismatch::kReplaced), "x\xEF\xBF\xBD");
}

}  // namespace
}  // namespace ft232h
