// Formatting, the device table and the command line's reporting, against an
// in-process library and a console that keeps every byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "app/command_line.hpp"
#include "app/device_table.hpp"
#include "app/messages.hpp"
#include "app/print_message.hpp"
#include "eeprom/ym2610_profile.hpp"
#include "tests/support/fake_console.hpp"
#include "tests/support/fake_d2xx.hpp"

namespace ft232h {
namespace {

using testing::FakeConsole;
using testing::FakeD2xx;
using E = testing::FakeEntryPoint;

std::string Printed(std::string_view format, std::initializer_list<MessageArgument> arguments) {
    FakeConsole console;
    PrintMessage(console, format, arguments);
    return console.output;
}

TEST(PrintMessage, FillsNumbersAndTextsEachInTheirOwnOrder) {
    EXPECT_EQ(Printed("NO.%d of %s", {7, std::string_view("x.ini")}), "NO.7 of x.ini");
    EXPECT_EQ(Printed("%s then NO.%d", {7, std::string_view("x.ini")}), "x.ini then NO.7");
    EXPECT_EQ(Printed("%2d|%2d|%2d", {3, 42, 127}), " 3|42|127");
    EXPECT_EQ(Printed("%d", {-2147483647 - 1}), "-2147483648");
    EXPECT_EQ(Printed("[%hs]", {std::string_view("SN")}), "[SN]");
    EXPECT_EQ(Printed("100%%", {}), "100%");
}

TEST(PrintMessage, PassesArgumentBytesThroughAndNeverReadsPastTheFormat) {
    EXPECT_EQ(Printed("%s", {std::string_view("a%db\x82\xa0", 6)}), "a%db\x82\xa0");
    EXPECT_EQ(Printed("no argument: %d %s!", {}), "no argument:  !");
    EXPECT_EQ(Printed("dangling %", {}), "dangling ");
    EXPECT_EQ(Printed("width %12", {}), "width ");
}

TEST(PrintMessage, KeepsTheToolsTextApartFromWhatCameFromOutside) {
    FakeConsole console;
    PrintMessage(console, "NO.%s is %d", {std::string_view("abc"), 5});
    ASSERT_EQ(console.events.size(), 4U);
    EXPECT_EQ(console.events[0].kind, FakeConsole::Kind::kText);
    EXPECT_EQ(console.events[1].kind, FakeConsole::Kind::kArgument);
    EXPECT_EQ(console.events[1].bytes, "abc");
    EXPECT_EQ(console.events[2].bytes, " is ");
}

DeviceInfoNode Node(std::uint32_t type, const char* serial) {
    DeviceInfoNode node{};
    node.Type = type;
    std::memcpy(node.SerialNumber, serial, std::min(std::strlen(serial), sizeof node.SerialNumber));
    return node;
}

TEST(PrintDeviceTable, PrintsCountRuleHeadingLinesAndRule) {
    DeviceTable table(2);
    table[0].deviceIndex = 1;
    std::memcpy(table[0].serialNumber.data(), "FT12345", 7);
    table[1].deviceIndex = 103;
    FakeConsole console;
    PrintDeviceTable(console, table);
    EXPECT_EQ(console.output,
              std::string("FT232H \x82\xaa 2 \x8c\xc2\x8c\xa9\x82\xc2\x82\xa9\x82\xe8\x82\xdc\x82\xb5\x82\xbd\r\n") +
                  "--------------------------\r\n"
                  "[NO]       [SerialNumber]\r\n"
                  " 1          FT12345\r\n"
                  "103          \r\n"
                  "--------------------------\r\n");
}

TEST(ListFt232hDevices, KeepsTheFt232hNodesTheLibraryReports) {
    FakeD2xx fake;
    fake.devices = {Node(5, "A"), Node(8, "B"), Node(8, "C")};
    DeviceTable table;
    EXPECT_EQ(ListFt232hDevices(fake.Binding(), table), DeviceListOutcome::kListed);
    ASSERT_EQ(table.size(), 2U);
    EXPECT_EQ(table[0].deviceIndex, 1);
    EXPECT_EQ(table[1].deviceIndex, 2);
    const testing::FakeCall* get = fake.LastCallOf(E::kGetDeviceInfoList);
    ASSERT_NE(get, nullptr);
}

TEST(ListFt232hDevices, DistinguishesAFailedCountFromAFailedFetch) {
    FakeD2xx fake;
    fake.devices = {Node(8, "B")};
    DeviceTable table;
    fake.StatusOf(E::kGetDeviceInfoList) = 4;
    EXPECT_EQ(ListFt232hDevices(fake.Binding(), table), DeviceListOutcome::kListed);
    EXPECT_TRUE(table.empty());
    fake.StatusOf(E::kCreateDeviceInfoList) = 18;
    EXPECT_EQ(ListFt232hDevices(fake.Binding(), table), DeviceListOutcome::kListFailed);
    fake.StatusOf(E::kCreateDeviceInfoList) = 0;
    fake.Remove(E::kCreateDeviceInfoList);
    EXPECT_EQ(ListFt232hDevices(fake.Binding(), table), DeviceListOutcome::kListFailed);
}

TEST(ListFt232hDevices, DoesNotAskForNodesWhenThereAreNone) {
    FakeD2xx fake;
    DeviceTable table;
    EXPECT_EQ(ListFt232hDevices(fake.Binding(), table), DeviceListOutcome::kListed);
    EXPECT_TRUE(table.empty());
    EXPECT_EQ(fake.CountOf(E::kGetDeviceInfoList), 0U);
}

class CommandLine : public ::testing::Test {
protected:
    CommandLine() {
        fake.devices = {Node(8, "A"), Node(5, "B"), Node(8, "C")};
        EXPECT_EQ(ListFt232hDevices(d2xx, table), DeviceListOutcome::kListed);
        fake.calls.clear();
    }

    std::string Run(std::string_view option, std::string_view number) {
        console.output.clear();
        console.events.clear();
        RunCommandLine(console, d2xx, table, std::string("/opt/tool/"), option, number);
        return console.output;
    }

    static std::string Line(const char* format, std::int32_t index, std::string_view path = {}) {
        FakeConsole line;
        PrintMessage(line, format, {index, path});
        return line.output;
    }

    FakeD2xx fake;
    D2xxBinding d2xx = fake.Binding();
    DeviceTable table;
    FakeConsole console;
};

TEST_F(CommandLine, TheNoticeFollowsOnlyASuccessfulChange) {
    EXPECT_EQ(Run("-chk", "2"), Line(messages::kCheckFailed, 2));
    fake.eeprom.deviceType = 8;
    EXPECT_EQ(Run("-set", "2"), Line(messages::kSetDone, 2) + Line(messages::kReplugNotice, 2));
    ASSERT_EQ(console.events.size(), 8U);
    EXPECT_EQ(console.events[3].kind, FakeConsole::Kind::kBeginNotice);
    EXPECT_EQ(console.events.back().kind, FakeConsole::Kind::kEndNotice);
    EXPECT_EQ(Run("-chk", "2"), Line(messages::kCheckPassed, 2));
    EXPECT_EQ(Run("-erase", "0"), Line(messages::kEraseDone, 0) + Line(messages::kReplugNotice, 0));
    EXPECT_EQ(Run("-init", "0"), Line(messages::kInitDone, 0) + Line(messages::kReplugNotice, 0));
    fake.StatusOf(E::kEepromProgram) = 12;
    EXPECT_EQ(Run("-set", "0"), Line(messages::kSetFailed, 0));
    EXPECT_EQ(Run("-init", "0"), Line(messages::kInitFailed, 0));
    fake.StatusOf(E::kEraseEe) = 13;
    EXPECT_EQ(Run("-erase", "0"), Line(messages::kEraseFailed, 0));
    for (const auto& event : console.events) {
        EXPECT_NE(event.kind, FakeConsole::Kind::kBeginNotice);
    }
}

TEST_F(CommandLine, SettingsFilesLieInTheToolsDirectory) {
    fake.StatusOf(E::kEepromRead) = 11;
    EXPECT_EQ(Run("-r", "2"), Line(messages::kReadFailed, 2));
    EXPECT_EQ(Run("-W", "0"),
              "/opt/tool/ft232h_eeprom_to_write_no0.ini \x82\xaa\x82\xa0\x82\xe8\x82\xdc\x82\xb9\x82\xf1\r\n" +
                  Line(messages::kWriteFailed, 0));
}

TEST_F(CommandLine, WithoutTheToolsDirectoryTheFileCommandsFailUntouched) {
    RunCommandLine(console, d2xx, table, std::nullopt, "-r", "0");
    EXPECT_EQ(console.output, Line(messages::kReadFailed, 0));
    EXPECT_TRUE(fake.calls.empty());
}

}  // namespace
}  // namespace ft232h
