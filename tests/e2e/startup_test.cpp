// Start-up, the device table, the usage text and the command line, as a user
// meets them through the built tool.
#include <string>

#include "tests/e2e/e2e_fixture.hpp"

namespace ft232h::e2e {
namespace {

using Startup = EndToEnd;

TEST(Messages, AreShiftJisBytesWithCrLf) {
    EXPECT_EQ(kNoFt232h, "FT232H \x82\xaa\x8c\xa9\x82\xc2\x82\xa9\x82\xe8\x82\xdc\x82\xb9\x82\xf1\r\n");
    EXPECT_EQ(Line("オプション"), "\x83\x49\x83\x76\x83\x56\x83\x87\x83\x93\r\n");
}

class WithoutLibrary : public EndToEnd {
protected:
    WithoutLibrary() : EndToEnd(LibraryKind::kNone) {}
};

TEST_F(WithoutLibrary, SaysTheLibraryCannotBeLoadedAndNothingElse) {
    EXPECT_EQ(Run({}), kLibraryNotLoaded);
    EXPECT_EQ(Run({"-chk", "0"}), kLibraryNotLoaded);
}

TEST_F(Startup, ReportsAFailedDeviceListAndStops) {
    sim::SimState state = TwoFt232hAroundAnother();
    state.faults.push_back({sim::EntryPoint::CreateDeviceInfoList, 18, std::nullopt});
    Given(state);
    EXPECT_EQ(Run({"-set", "0"}), kListFailed);
    EXPECT_TRUE(DeviceCalls().empty());
}

TEST_F(Startup, TreatsAFailedNodeFetchAsNoFt232h) {
    sim::SimState state = TwoFt232hAroundAnother();
    state.faults.push_back({sim::EntryPoint::GetDeviceInfoList, 4, std::nullopt});
    Given(state);
    EXPECT_EQ(Run({}), kNoFt232h);
}

TEST_F(Startup, WithoutFt232hPrintsOnlyThatNoneWasFound) {
    Given({});
    EXPECT_EQ(Run({}), kNoFt232h);
    sim::SimState others;
    others.devices = {sim::MakeOtherDevice("A"), sim::MakeOtherDevice("B", 6)};
    Given(others);
    EXPECT_EQ(Run({}), kNoFt232h);
    EXPECT_EQ(Run({"-set", "0"}), kNoFt232h);
    EXPECT_TRUE(DeviceCalls().empty());
}

TEST_F(Startup, ShowsTheTableWithGapsAndThenTheUsage) {
    Given(TwoFt232hAroundAnother());
    EXPECT_EQ(Run({}), TwoFt232hTable() + Usage());
    // An option word alone is not yet a command.
    EXPECT_EQ(Run({"-set"}), TwoFt232hTable() + Usage());
    EXPECT_TRUE(DeviceCalls().empty());
}

TEST_F(Startup, ShowsDevicesAtOddPositionsWithTheirOwnNumbers) {
    sim::SimState state;
    state.devices = {sim::MakeOtherDevice("X0"), sim::MakeFt232hDevice("FTA"), sim::MakeOtherDevice("X2"),
                     sim::MakeFt232hDevice("FTB")};
    Given(state);
    EXPECT_EQ(Run({}), Table({{1, "FTA"}, {3, "FTB"}}) + Usage());
}

TEST_F(Startup, ShowsSerialNumbersOfFifteenCharactersWholeAndCutsUnterminatedOnes) {
    sim::SimState state;
    state.devices = {sim::MakeFt232hDevice("ABCDEFGHIJKLMNO"), sim::MakeFt232hDevice("x")};
    state.devices[1].serialNumber = sim::NodeSerial("0123456789ABCDEF");  // all 16 bytes, no terminator
    state.devices[1].description = {'D', 'E', 'S', 'C'};
    Given(state);
    EXPECT_EQ(Run({}), Table({{0, "ABCDEFGHIJKLMNO"}, {1, "0123456789ABCDE"}}) + Usage());
}

TEST_F(Startup, ListsAHundredAndTwentyEightDevices) {
    sim::SimState state;
    std::vector<std::pair<std::int32_t, std::string>> expected;
    for (int i = 0; i < 128; ++i) {
        const std::string serial = "FT" + std::to_string(100000 + i);
        state.devices.push_back(i % 3 == 1 ? sim::MakeOtherDevice(serial) : sim::MakeFt232hDevice(serial));
        if (i % 3 != 1) {
            expected.emplace_back(i, serial);
        }
    }
    Given(state);
    EXPECT_EQ(Run({"-chk", "126"}), Table(expected) + CheckFailed(126));
    EXPECT_EQ(Run({"-chk", "127"}), Table(expected) + NotFound("127"));
}

TEST_F(Startup, NeverWalksPastTheNodesItReserved) {
    sim::SimState state = TwoFt232hAroundAnother();
    state.getCount = 1000;  // a library claiming more nodes than it was given room for
    Given(state);
    EXPECT_EQ(Run({}), TwoFt232hTable() + Usage());
}

TEST_F(Startup, RefusesAnAbsurdDeviceCount) {
    sim::SimState state = TwoFt232hAroundAnother();
    state.createCount = 4000000000U;
    Given(state);
    EXPECT_EQ(Run({}), kListFailed);
}

TEST_F(Startup, AnUnknownOptionGivesTheUsageAndSaysSo) {
    Given(TwoFt232hAroundAnother());
    EXPECT_EQ(Run({"-x", "0"}), TwoFt232hTable() + Usage() + kWrongOption);
    EXPECT_EQ(Run({"-chk2", "0"}), TwoFt232hTable() + Usage() + kWrongOption);
    // The option word is judged first, even when the number is no device.
    EXPECT_EQ(Run({"-rw", "9"}), TwoFt232hTable() + Usage() + kWrongOption);
    EXPECT_TRUE(DeviceCalls().empty());
}

TEST_F(Startup, MatchesOptionWordsWithoutRegardToCaseAndByPrefix) {
    Given(TwoFt232hAroundAnother());
    EXPECT_EQ(Run({"-CHK", "0"}), TwoFt232hTable() + CheckFailed(0));
    EXPECT_EQ(Run({"-c", "2"}), TwoFt232hTable() + CheckFailed(2));
    // A third argument is ignored.
    EXPECT_EQ(Run({"-chk", "0", "extra"}), TwoFt232hTable() + CheckFailed(0));
}

TEST_F(Startup, ADeviceNumberWithoutAnFt232hIsReportedAsTyped) {
    Given(TwoFt232hAroundAnother());
    EXPECT_EQ(Run({"-set", "1"}), TwoFt232hTable() + NotFound("1"));
    EXPECT_EQ(Run({"-set", "5"}), TwoFt232hTable() + NotFound("5"));
    EXPECT_EQ(Run({"-set", "-1"}), TwoFt232hTable() + NotFound("-1"));
    EXPECT_TRUE(DeviceCalls().empty());
}

TEST_F(Startup, ATypoInTheDeviceNumberSelectsNoDevice) {
    Given(TwoFt232hAroundAnother());
    EXPECT_EQ(Run({"-set", "abc"}), TwoFt232hTable() + NotFound("abc"));
    EXPECT_EQ(Run({"-erase", "0x"}), TwoFt232hTable() + NotFound("0x"));
    EXPECT_EQ(Run({"-init", "2.5"}), TwoFt232hTable() + NotFound("2.5"));
    EXPECT_EQ(Run({"-erase", "4294967296"}), TwoFt232hTable() + NotFound("4294967296"));
    EXPECT_EQ(Run({"-erase", ""}), TwoFt232hTable() + NotFound(""));
    EXPECT_TRUE(DeviceCalls().empty());
}

TEST_F(Startup, LeadingZerosAndBlanksStillSelectTheDevice) {
    sim::SimState state;
    for (int i = 0; i < 8; ++i) {
        state.devices.push_back(sim::MakeFt232hDevice("S" + std::to_string(i)));
    }
    Given(state);
    const std::string table =
        Table({{0, "S0"}, {1, "S1"}, {2, "S2"}, {3, "S3"}, {4, "S4"}, {5, "S5"}, {6, "S6"}, {7, "S7"}});
    EXPECT_EQ(Run({"-chk", "07"}), table + CheckFailed(7));
    EXPECT_EQ(Run({"-chk", " +2"}), table + CheckFailed(2));
    const auto calls = Calls();
    ASSERT_FALSE(calls.empty());
    std::vector<std::string> opened;
    for (const auto& call : calls) {
        if (call.entryPoint == "FT_Open") {
            opened.push_back(*call.Argument("index"));
        }
    }
    EXPECT_EQ(opened, (std::vector<std::string>{"7", "2"}));
}

TEST_F(Startup, PrintsPathsAndArgumentsAsTheyAreWithoutConversion) {
    if (ToolUnderTest::FromEnvironment().windows) {
        GTEST_SKIP() << "Wine re-encodes a non-UTF-8 command line before the tool sees it";
    }
    Given(TwoFt232hAroundAnother());
    // A Shift_JIS argument comes back byte for byte.
    EXPECT_EQ(Run({"-chk", "\x82\x50"}), TwoFt232hTable() + NotFound("\x82\x50"));
}

}  // namespace
}  // namespace ft232h::e2e
