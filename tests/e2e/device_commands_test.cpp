// -chk, -set, -erase and -init against simulated devices, one run after another.
#include <cstring>
#include <ostream>
#include <string>

#include "tests/e2e/e2e_fixture.hpp"

namespace ft232h::e2e {
namespace {

using DeviceCommands = EndToEnd;

sim::RecordBytes Ym2610Record(sim::RecordBytes record) {
    EepromRecord fields = sim::FromRecordBytes(record);
    fields.ACDriveCurrent = 8;
    fields.ADDriveCurrent = 8;
    fields.Cbus5 = 8;
    fields.Cbus6 = 8;
    fields.IsFifo = 1;
    fields.IsFifoTar = 0;
    fields.IsFastSer = 0;
    fields.IsFT1248 = 0;
    fields.DriverType = 0;
    fields.MaxPower = 200;
    fields.Cbus9 = 4;
    return sim::ToRecordBytes(fields);
}

TEST_F(DeviceCommands, SetThenCheckInALaterRun) {
    Given(TwoFt232hAroundAnother());
    const sim::SimState before = World();
    EXPECT_EQ(Run({"-chk", "2"}), TwoFt232hTable() + CheckFailed(2));
    EXPECT_EQ(Run({"-set", "2"}), TwoFt232hTable() + SetDone(2) + Replug(2));
    EXPECT_EQ(Run({"-chk", "2"}), TwoFt232hTable() + CheckPassed(2));
    EXPECT_EQ(Run({"-chk", "0"}), TwoFt232hTable() + CheckFailed(0));

    const sim::SimState after = World();
    EXPECT_EQ(after.devices[0], before.devices[0]);
    EXPECT_EQ(after.devices[1], before.devices[1]);
    const sim::SimEeprom& eeprom = after.devices[2].eeprom;
    EXPECT_EQ(eeprom.record, Ym2610Record(before.devices[2].eeprom.record));
    EXPECT_EQ(eeprom.manufacturer, "FTDI");
    EXPECT_EQ(eeprom.description, "USB <-> Serial Converter");
    EXPECT_EQ(eeprom.serialNumber, "FT000003");
}

TEST_F(DeviceCommands, SetKeepsEveryOtherByteAndTheStringsAsRead) {
    sim::SimState state = TwoFt232hAroundAnother();
    sim::SimEeprom& eeprom = state.devices[0].eeprom;
    for (std::size_t i = 4; i < eeprom.record.size(); ++i) {
        eeprom.record[i] = static_cast<std::uint8_t>(0x90 + i);  // alignment bytes included
    }
    eeprom.manufacturer = " Maker ";
    eeprom.manufacturerId = "MK";
    eeprom.description = "\x83\x65\x83\x58\x83\x67";  // Shift_JIS passes through untouched
    eeprom.serialNumber = "";
    Given(state);
    EXPECT_EQ(Run({"-set", "0"}), TwoFt232hTable() + SetDone(0) + Replug(0));
    const sim::SimState after = World();
    sim::SimEeprom expected = eeprom;
    expected.record = Ym2610Record(eeprom.record);
    expected.manufacturerId = "";  // read back from the empty serial number
    EXPECT_EQ(after.devices[0].eeprom, expected);
    EXPECT_EQ(DeviceCalls(), (std::vector<std::string>{"FT_Open", "FT_EEPROM_Read", "FT_EEPROM_Program", "FT_Close"}));
}

TEST_F(DeviceCommands, EraseLeavesAnEepromThatNoLongerReads) {
    Given(TwoFt232hAroundAnother());
    EXPECT_EQ(Run({"-erase", "0"}), TwoFt232hTable() + EraseDone(0) + Replug(0));
    EXPECT_FALSE(World().devices[0].eeprom.programmed);
    EXPECT_TRUE(World().devices[2].eeprom.programmed);
    EXPECT_EQ(Run({"-chk", "0"}), TwoFt232hTable() + CheckFailed(0));
    EXPECT_EQ(Run({"-set", "0"}), TwoFt232hTable() + SetFailed(0));
    EXPECT_FALSE(World().devices[0].eeprom.programmed);
}

TEST_F(DeviceCommands, InitProgramsTheDefaultsWithoutReading) {
    sim::SimState state = TwoFt232hAroundAnother();
    state.devices[2].eeprom.programmed = false;
    Given(state);
    EXPECT_EQ(Run({"-init", "2"}), TwoFt232hTable() + InitDone(2) + Replug(2));
    const sim::SimEeprom eeprom = World().devices[2].eeprom;
    EXPECT_TRUE(eeprom.programmed);
    EXPECT_EQ(eeprom.record, sim::ToRecordBytes(sim::DefaultEepromRecord()));
    EXPECT_EQ(eeprom.manufacturer, "FTDI");
    EXPECT_EQ(eeprom.manufacturerId, "FT");
    EXPECT_EQ(eeprom.description, "USB <-> Serial Converter");
    EXPECT_EQ(eeprom.serialNumber, "FT000000") << "made of ManufacturerId by the library";
    EXPECT_EQ(DeviceCalls(), (std::vector<std::string>{"FT_Open", "FT_EEPROM_Program", "FT_Close"}));
}

struct FailureCase {
    const char* option;
    sim::EntryPoint failing;
    std::vector<std::string> calls;  // what the run may call on the device, in order
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const FailureCase& failure, std::ostream* out) {
    *out << failure.option << " with " << sim::EntryPointName(failure.failing) << " failing";
}

class DeviceCommandFailures : public EndToEnd, public ::testing::WithParamInterface<FailureCase> {};

std::string FailureLine(const std::string& option, std::int32_t index) {
    if (option == "-chk")
        return CheckFailed(index);
    if (option == "-set")
        return SetFailed(index);
    if (option == "-erase")
        return EraseFailed(index);
    return InitFailed(index);
}

TEST_P(DeviceCommandFailures, PrintOnlyTheFailureLineAndCloseWhatTheyOpened) {
    const FailureCase& failure = GetParam();
    sim::SimState state = TwoFt232hAroundAnother();
    state.faults.push_back({failure.failing, 4, 2U});
    Given(state);
    const sim::SimState before = World();
    EXPECT_EQ(Run({failure.option, "2"}), TwoFt232hTable() + FailureLine(failure.option, 2));
    EXPECT_EQ(DeviceCalls(), failure.calls);
    EXPECT_EQ(World().devices, before.devices);
    // The fault was on device 2 only: device 0 still works.
    if (std::strcmp(failure.option, "-chk") != 0) {
        EXPECT_NE(Run({failure.option, "0"}), TwoFt232hTable() + FailureLine(failure.option, 0));
    }
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, DeviceCommandFailures,
    ::testing::Values(
        FailureCase{"-chk", sim::EntryPoint::Open, {"FT_Open"}},
        FailureCase{"-chk", sim::EntryPoint::EepromRead, {"FT_Open", "FT_EEPROM_Read", "FT_Close"}},
        FailureCase{"-set", sim::EntryPoint::Open, {"FT_Open"}},
        FailureCase{"-set", sim::EntryPoint::EepromRead, {"FT_Open", "FT_EEPROM_Read", "FT_Close"}},
        FailureCase{
            "-set", sim::EntryPoint::EepromProgram, {"FT_Open", "FT_EEPROM_Read", "FT_EEPROM_Program", "FT_Close"}},
        FailureCase{"-erase", sim::EntryPoint::Open, {"FT_Open"}},
        FailureCase{"-erase", sim::EntryPoint::EraseEe, {"FT_Open", "FT_EraseEE", "FT_Close"}},
        FailureCase{"-init", sim::EntryPoint::Open, {"FT_Open"}},
        FailureCase{"-init", sim::EntryPoint::EepromProgram, {"FT_Open", "FT_EEPROM_Program", "FT_Close"}}),
    [](const ::testing::TestParamInfo<FailureCase>& param) {
        return std::string(param.param.option + 1) + "_" +
               std::string(sim::EntryPointName(param.param.failing).substr(3));
    });

TEST_F(DeviceCommands, AFailingCloseDoesNotChangeTheOutcome) {
    sim::SimState state = TwoFt232hAroundAnother();
    state.faults.push_back({sim::EntryPoint::Close, 4, std::nullopt});
    Given(state);
    EXPECT_EQ(Run({"-set", "0"}), TwoFt232hTable() + SetDone(0) + Replug(0));
    EXPECT_EQ(Run({"-chk", "0"}), TwoFt232hTable() + CheckPassed(0));
}

TEST_F(DeviceCommands, AReaderThatGoesAwayNeitherStopsTheCommandNorChangesTheStatus) {
    Given(TwoFt232hAroundAnother());
    const ToolRun run = sandbox_.RunIntoClosedPipe({"-set", "2"});
    EXPECT_EQ(run.exitStatus, 0) << run.errors;
    EXPECT_EQ(World().devices[2].eeprom.record, Ym2610Record(TwoFt232hAroundAnother().devices[2].eeprom.record));
}

class WithAnOldLibrary : public EndToEnd {
protected:
    WithAnOldLibrary() : EndToEnd(LibraryKind::kLegacySimulator) {}
};

TEST_F(WithAnOldLibrary, CommandsNeedingMissingEntryPointsFailCleanly) {
    Given(TwoFt232hAroundAnother());
    const sim::SimState before = World();
    EXPECT_EQ(Run({"-chk", "0"}), TwoFt232hTable() + CheckFailed(0));
    EXPECT_EQ(Run({"-set", "0"}), TwoFt232hTable() + SetFailed(0));
    EXPECT_EQ(Run({"-init", "0"}), TwoFt232hTable() + InitFailed(0));
    EXPECT_EQ(DeviceCalls(),
              (std::vector<std::string>{"FT_Open", "FT_Close", "FT_Open", "FT_Close", "FT_Open", "FT_Close"}));
    EXPECT_EQ(World().devices, before.devices);
    // What the old library does have still works.
    EXPECT_EQ(Run({"-erase", "0"}), TwoFt232hTable() + EraseDone(0) + Replug(0));
}

}  // namespace
}  // namespace ft232h::e2e
