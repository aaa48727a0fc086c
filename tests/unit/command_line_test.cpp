#include "app/command_line.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace ft232h {
namespace {

std::string_view Selected(std::string_view argument) {
    const CommandRow* row = MatchOption(argument);
    return row != nullptr ? row->optionWord : std::string_view("(none)");
}

TEST(MatchOption, SelectsTheFirstWordTheArgumentIsAPrefixOf) {
    EXPECT_EQ(Selected("-r"), "-r");
    EXPECT_EQ(Selected("-R"), "-r");
    EXPECT_EQ(Selected("-w"), "-w");
    EXPECT_EQ(Selected("-CHK"), "-chk");
    EXPECT_EQ(Selected("-c"), "-chk");
    EXPECT_EQ(Selected("-Ch"), "-chk");
    EXPECT_EQ(Selected("-s"), "-set");
    EXPECT_EQ(Selected("-SeT"), "-set");
    EXPECT_EQ(Selected("-e"), "-erase");
    EXPECT_EQ(Selected("-ERASE"), "-erase");
    EXPECT_EQ(Selected("-i"), "-init");
    EXPECT_EQ(Selected("-init"), "-init");
}

TEST(MatchOption, ALoneHyphenOrAnEmptyArgumentSelectsTheFirstRow) {
    EXPECT_EQ(Selected("-"), "-r");
    EXPECT_EQ(Selected(""), "-r");
}

TEST(MatchOption, RejectsArgumentsLongerThanEveryWordTheyStartLike) {
    EXPECT_EQ(Selected("-chk2"), "(none)");
    EXPECT_EQ(Selected("-rw"), "(none)");
    EXPECT_EQ(Selected("-initx"), "(none)");
    EXPECT_EQ(Selected("-x"), "(none)");
    EXPECT_EQ(Selected("chk"), "(none)");
    EXPECT_EQ(Selected("/r"), "(none)");
}

TEST(MatchOption, NeverFoldsBytesOutsideAscii) {
    // Only ASCII letters fold: a Shift_JIS full-width letter or a Latin-1
    // byte must not pass for an option word's letter.
    EXPECT_EQ(Selected("-\x82\x92"), "(none)");  // full-width r
    EXPECT_EQ(Selected("-\xd2"), "(none)");
    EXPECT_EQ(Selected(std::string_view("-r\0", 3)), "(none)");
}

TEST(CommandTable, HoldsTheSixCommandsInMatchingOrderWithTheirFilesAndNotices) {
    const auto table = CommandTable();
    ASSERT_EQ(table.size(), 6U);
    EXPECT_EQ(table[0].optionWord, "-r");
    EXPECT_EQ(table[0].settingsFilePrefix, "ft232h_eeprom_no");
    EXPECT_FALSE(table[0].replugNoticeAfterSuccess);
    EXPECT_EQ(table[1].optionWord, "-w");
    EXPECT_EQ(table[1].settingsFilePrefix, "ft232h_eeprom_to_write_no");
    EXPECT_TRUE(table[1].replugNoticeAfterSuccess);
    EXPECT_EQ(table[2].optionWord, "-chk");
    EXPECT_FALSE(table[2].replugNoticeAfterSuccess);
    EXPECT_EQ(table[3].optionWord, "-set");
    EXPECT_TRUE(table[3].replugNoticeAfterSuccess);
    EXPECT_EQ(table[4].optionWord, "-erase");
    EXPECT_TRUE(table[4].replugNoticeAfterSuccess);
    EXPECT_EQ(table[5].optionWord, "-init");
    EXPECT_TRUE(table[5].replugNoticeAfterSuccess);
    for (const CommandRow& row : table.subspan(2)) {
        EXPECT_TRUE(row.settingsFilePrefix.empty()) << row.optionWord;
    }
}

TEST(ParseDeviceNumber, AcceptsWholeDecimalIntegers) {
    EXPECT_EQ(ParseDeviceNumber("0"), 0);
    EXPECT_EQ(ParseDeviceNumber("2"), 2);
    EXPECT_EQ(ParseDeviceNumber("07"), 7);
    EXPECT_EQ(ParseDeviceNumber("  12"), 12);
    EXPECT_EQ(ParseDeviceNumber("\t+3"), 3);
    EXPECT_EQ(ParseDeviceNumber("-1"), -1);
    EXPECT_EQ(ParseDeviceNumber("2147483647"), 2147483647);
    EXPECT_EQ(ParseDeviceNumber("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(ParseDeviceNumber("0000000000000000000000001"), 1);
}

TEST(ParseDeviceNumber, RefusesAnythingThatIsNotExactlyANumber) {
    // Each of these would have selected device 0 or 1 by the usual decimal
    // conversion: a typo must never choose whose EEPROM is rewritten.
    for (const char* typed : {"abc", "1x", "", " ", "+", "-", "1 ", "1.0", "0x1", "\xd9\xa1", "1\n", "--1", "+-1"}) {
        EXPECT_FALSE(ParseDeviceNumber(typed).has_value()) << '"' << typed << '"';
    }
}

TEST(ParseDeviceNumber, RefusesNumbersBeyondThirtyTwoBits) {
    EXPECT_FALSE(ParseDeviceNumber("2147483648").has_value());
    EXPECT_FALSE(ParseDeviceNumber("-2147483649").has_value());
    EXPECT_FALSE(ParseDeviceNumber("4294967296").has_value());  // would wrap to 0
    EXPECT_FALSE(ParseDeviceNumber("99999999999999999999999").has_value());
}

TEST(FindDevice, FindsTheEntryWithThatListPositionNotThatTablePosition) {
    DeviceTable table(2);
    table[0].deviceIndex = 1;
    table[1].deviceIndex = 3;
    EXPECT_EQ(FindDevice(table, 3), &table[1]);
    EXPECT_EQ(FindDevice(table, 1), &table[0]);
    EXPECT_EQ(FindDevice(table, 0), nullptr);
    EXPECT_EQ(FindDevice(table, 2), nullptr);
    EXPECT_EQ(FindDevice(DeviceTable{}, 0), nullptr);
}

TEST(SettingsFilePath, JoinsDirectoryPrefixNumberAndExtension) {
    EXPECT_EQ(SettingsFilePath("/opt/tool/", kDumpFilePrefix, 1), "/opt/tool/ft232h_eeprom_no1.ini");
    EXPECT_EQ(SettingsFilePath("C:\\tools\\", kWriteFilePrefix, 12), "C:\\tools\\ft232h_eeprom_to_write_no12.ini");
    EXPECT_EQ(SettingsFilePath("/", kDumpFilePrefix, 2147483647), "/ft232h_eeprom_no2147483647.ini");
}

}  // namespace
}  // namespace ft232h
