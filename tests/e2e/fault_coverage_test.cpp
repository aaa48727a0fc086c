// The failures of each command's steps that the other suites leave out: a
// device that does not open for -r and -w, a failing read under an existing
// dump, a failing close after every command that changes something, a
// library without the EEPROM calls for -r and -w, and a settings file that
// exists but cannot be read. Each command reports its own failure line and
// leaves the devices and the files as they were.
#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/e2e_fixture.hpp"

namespace ft232h::e2e {
namespace {

using FaultCoverage = EndToEnd;

const std::string kDumpOf2 = "ft232h_eeprom_no2.ini";
const std::string kWriteFor2 = "ft232h_eeprom_to_write_no2.ini";
const std::string kProgramming = "[COMMON]\r\ndeviceType=8\r\nVendorId=1027\r\nProductId=24596\r\n";

sim::SimState FailingOnDevice2(sim::EntryPoint entryPoint) {
    sim::SimState state = TwoFt232hAroundAnother();
    state.faults.push_back({entryPoint, 4, 2U});
    return state;
}

TEST_F(FaultCoverage, ADumpOfADeviceThatDoesNotOpenWritesNoFile) {
    Given(FailingOnDevice2(sim::EntryPoint::Open));
    EXPECT_EQ(Run({"-r", "2"}), TwoFt232hTable() + ReadFailed(2));
    EXPECT_FALSE(std::filesystem::exists(sandbox_.FilePath(kDumpOf2)));
    EXPECT_EQ(DeviceCalls(), (std::vector<std::string>{"FT_Open"}));
}

TEST_F(FaultCoverage, ADumpWhoseReadFailsClosesTheDeviceAndKeepsTheOldFile) {
    Given(FailingOnDevice2(sim::EntryPoint::EepromRead));
    const std::string old = "[DESC]\r\nManufacturer=\"old\"\r\n";
    WriteFile(sandbox_.FilePath(kDumpOf2), old);
    EXPECT_EQ(Run({"-r", "2"}), TwoFt232hTable() + ReadFailed(2));
    EXPECT_EQ(ReadFile(sandbox_.FilePath(kDumpOf2)), old);
    EXPECT_EQ(DeviceCalls(), (std::vector<std::string>{"FT_Open", "FT_EEPROM_Read", "FT_Close"}));
}

TEST_F(FaultCoverage, ProgrammingADeviceThatDoesNotOpenChangesNothing) {
    Given(FailingOnDevice2(sim::EntryPoint::Open));
    const sim::SimState before = World();
    WriteFile(sandbox_.FilePath(kWriteFor2), kProgramming);
    EXPECT_EQ(Run({"-w", "2"}), TwoFt232hTable() + WriteFailed(2));
    EXPECT_EQ(DeviceCalls(), (std::vector<std::string>{"FT_Open"}));
    EXPECT_EQ(World().devices, before.devices);
    EXPECT_EQ(ReadFile(sandbox_.FilePath(kWriteFor2)), kProgramming);
}

TEST_F(FaultCoverage, ASettingsFileThatCannotBeReadProgramsNothing) {
    Given(TwoFt232hAroundAnother());
    const sim::SimState before = World();
    std::filesystem::create_directory(sandbox_.FilePath(kWriteFor2));
    EXPECT_EQ(Run({"-w", "2"}),
              TwoFt232hTable() + Line(sandbox_.PrintedPath(kWriteFor2) + " を読み込めません") + WriteFailed(2));
    EXPECT_TRUE(DeviceCalls().empty());
    EXPECT_EQ(World().devices, before.devices);
}

// FT_Close's status means nothing to the tool: what was done is done.
TEST_F(FaultCoverage, AFailingCloseChangesTheOutcomeOfNoCommand) {
    sim::SimState state = TwoFt232hAroundAnother();
    state.faults.push_back({sim::EntryPoint::Close, 4, std::nullopt});
    Given(state);
    EXPECT_EQ(Run({"-erase", "2"}), TwoFt232hTable() + EraseDone(2) + Replug(2));
    EXPECT_FALSE(World().devices[2].eeprom.programmed);
    EXPECT_EQ(Run({"-init", "2"}), TwoFt232hTable() + InitDone(2) + Replug(2));
    EXPECT_TRUE(World().devices[2].eeprom.programmed);
    EXPECT_EQ(Run({"-r", "2"}), TwoFt232hTable() + ReadDone(2, sandbox_.PrintedPath(kDumpOf2)));
    EXPECT_TRUE(std::filesystem::exists(sandbox_.FilePath(kDumpOf2)));
    WriteFile(sandbox_.FilePath(kWriteFor2), kProgramming);
    EXPECT_EQ(Run({"-w", "2"}), TwoFt232hTable() + WriteDone(2, sandbox_.PrintedPath(kWriteFor2)) + Replug(2));
    EXPECT_EQ(DeviceCalls(), (std::vector<std::string>{"FT_Open", "FT_EraseEE", "FT_Close", "FT_Open",
                                                       "FT_EEPROM_Program", "FT_Close", "FT_Open", "FT_EEPROM_Read",
                                                       "FT_Close", "FT_Open", "FT_EEPROM_Program", "FT_Close"}));
}

class FaultCoverageWithAnOldLibrary : public EndToEnd {
protected:
    FaultCoverageWithAnOldLibrary() : EndToEnd(LibraryKind::kLegacySimulator) {}
};

TEST_F(FaultCoverageWithAnOldLibrary, DumpAndProgramFailCleanlyWithoutTheEepromCalls) {
    Given(TwoFt232hAroundAnother());
    const sim::SimState before = World();
    EXPECT_EQ(Run({"-r", "2"}), TwoFt232hTable() + ReadFailed(2));
    EXPECT_FALSE(std::filesystem::exists(sandbox_.FilePath(kDumpOf2)));
    WriteFile(sandbox_.FilePath(kWriteFor2), kProgramming);
    EXPECT_EQ(Run({"-w", "2"}), TwoFt232hTable() + WriteFailed(2));
    EXPECT_EQ(DeviceCalls(), (std::vector<std::string>{"FT_Open", "FT_Close", "FT_Open", "FT_Close"}));
    EXPECT_EQ(World().devices, before.devices);
}

}  // namespace
}  // namespace ft232h::e2e
