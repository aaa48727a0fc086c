// -r and -w: settings files beside the tool, across separate runs.
#include <string>

#include "tests/e2e/e2e_fixture.hpp"

namespace ft232h::e2e {
namespace {

using SettingsFiles = EndToEnd;

const std::string kDumpOf2 = "ft232h_eeprom_no2.ini";
const std::string kWriteFor2 = "ft232h_eeprom_to_write_no2.ini";

// The key=value lines of a file, without its layout.
std::vector<std::string> KeyLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!line.empty()) {
            lines.push_back(line);
        }
        start = end + 1;
    }
    return lines;
}

TEST_F(SettingsFiles, DumpsTheEepromBesideTheTool) {
    sim::SimState state = TwoFt232hAroundAnother();
    state.devices[2].eeprom.serialNumber = "";
    Given(state);
    EXPECT_EQ(Run({"-r", "2"}), TwoFt232hTable() + ReadDone(2, sandbox_.PrintedPath(kDumpOf2)));
    const std::vector<std::string> expected{"[DESC]",
                                            "Manufacturer=\"FTDI\"",
                                            "ManufacturerId=\"\"",  // the serial number's first two
                                            "Description=\"USB <-> Serial Converter\"",
                                            "SerialNumber=\"\"",
                                            "[COMMON]",
                                            "deviceType=8",
                                            "VendorId=1027",
                                            "ProductId=24596",
                                            "SerNumEnable=1",
                                            "MaxPower=100",
                                            "SelfPowered=0",
                                            "RemoteWakeup=0",
                                            "PullDownEnable=0",
                                            "[FT232H]",
                                            "ACSlowSlew=0",
                                            "ACSchmittInput=0",
                                            "ACDriveCurrent=4",
                                            "ADSlowSlew=0",
                                            "ADSchmittInput=0",
                                            "ADDriveCurrent=4",
                                            "Cbus0=0",
                                            "Cbus1=0",
                                            "Cbus2=0",
                                            "Cbus3=0",
                                            "Cbus4=0",
                                            "Cbus5=0",
                                            "Cbus6=0",
                                            "Cbus7=0",
                                            "Cbus8=0",
                                            "Cbus9=0",
                                            "FT1248Cpol=0",
                                            "FT1248Lsb=0",
                                            "FT1248FlowControl=0",
                                            "IsFifo=0",
                                            "IsFifoTar=0",
                                            "IsFastSer=0",
                                            "IsFT1248=0",
                                            "PowerSaveEnable=0",
                                            "DriverType=1"};
    EXPECT_EQ(KeyLines(ReadFile(sandbox_.FilePath(kDumpOf2))), expected);
    EXPECT_EQ(DeviceCalls(), (std::vector<std::string>{"FT_Open", "FT_EEPROM_Read", "FT_Close"}));
}

TEST_F(SettingsFiles, ADumpCopiedToTheWriteNameProgramsTheSameEeprom) {
    sim::SimState state = TwoFt232hAroundAnother();
    sim::SimEeprom& source = state.devices[0].eeprom;
    EepromRecord record = sim::FromRecordBytes(source.record);
    record.MaxPower = 500;
    record.Cbus3 = 13;
    record.IsFifo = 1;
    record.VendorId = 0xFFFF;
    source.record = sim::ToRecordBytes(record);
    source.description = "  blanks at both ends  ";
    source.manufacturer = "a \"quoted\" Co";  // 44 bytes of strings, all the chip holds
    Given(state);
    EXPECT_EQ(Run({"-r", "0"}), TwoFt232hTable() + ReadDone(0, sandbox_.PrintedPath("ft232h_eeprom_no0.ini")));
    std::filesystem::copy_file(sandbox_.FilePath("ft232h_eeprom_no0.ini"), sandbox_.FilePath(kWriteFor2));
    EXPECT_EQ(Run({"-w", "2"}), TwoFt232hTable() + WriteDone(2, sandbox_.PrintedPath(kWriteFor2)) + Replug(2));
    const sim::SimState after = World();
    EXPECT_EQ(after.devices[2].eeprom, after.devices[0].eeprom);
    EXPECT_EQ(after.devices[2].eeprom.description, "  blanks at both ends  ");
}

TEST_F(SettingsFiles, ADumpKeepsWhatElseTheFileHolds) {
    Given(TwoFt232hAroundAnother());
    WriteFile(sandbox_.FilePath(kDumpOf2),
              "; notes about this board\r\n[DESC]\r\nManufacturer=\"old\"\r\nOwner=lab\r\n"
              "[Extra]\r\nkept=yes\r\n");
    EXPECT_EQ(Run({"-r", "2"}), TwoFt232hTable() + ReadDone(2, sandbox_.PrintedPath(kDumpOf2)));
    const std::vector<std::string> lines = KeyLines(ReadFile(sandbox_.FilePath(kDumpOf2)));
    ASSERT_GE(lines.size(), 6U);
    EXPECT_EQ(lines[0], "; notes about this board");
    EXPECT_EQ(lines[1], "[DESC]");
    EXPECT_EQ(lines[2], "Manufacturer=\"FTDI\"");
    EXPECT_EQ(lines[3], "Owner=lab");
    EXPECT_NE(std::find(lines.begin(), lines.end(), "kept=yes"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "DriverType=1"), lines.end());
}

TEST_F(SettingsFiles, ADumpThatCannotBeWrittenReportsAFailedRead) {
    Given(TwoFt232hAroundAnother());
    std::filesystem::create_directory(sandbox_.FilePath(kDumpOf2));
    EXPECT_EQ(Run({"-r", "2"}), TwoFt232hTable() + ReadFailed(2));
    EXPECT_EQ(DeviceCalls(), (std::vector<std::string>{"FT_Open", "FT_EEPROM_Read", "FT_Close"}));
}

TEST_F(SettingsFiles, AFailedReadLeavesTheFileAlone) {
    sim::SimState state = TwoFt232hAroundAnother();
    state.devices[2].eeprom.programmed = false;
    Given(state);
    EXPECT_EQ(Run({"-r", "2"}), TwoFt232hTable() + ReadFailed(2));
    EXPECT_FALSE(std::filesystem::exists(sandbox_.FilePath(kDumpOf2)));
}

TEST_F(SettingsFiles, ProgrammingNeedsAFileUnderTheWriteName) {
    Given(TwoFt232hAroundAnother());
    const sim::SimState before = World();
    // A file under the dump name is never read for programming.
    WriteFile(sandbox_.FilePath(kDumpOf2), "[COMMON]\r\ndeviceType=8\r\n");
    EXPECT_EQ(Run({"-w", "2"}), TwoFt232hTable() + Missing(sandbox_.PrintedPath(kWriteFor2)) + WriteFailed(2));
    EXPECT_TRUE(DeviceCalls().empty());
    EXPECT_EQ(World().devices, before.devices);
}

TEST_F(SettingsFiles, AFileWithOnlyTheDeviceTypeProgramsZerosAndEmptyStrings) {
    Given(TwoFt232hAroundAnother());
    WriteFile(sandbox_.FilePath(kWriteFor2), "[COMMON]\r\ndeviceType=8\r\n");
    EXPECT_EQ(Run({"-w", "2"}), TwoFt232hTable() + WriteDone(2, sandbox_.PrintedPath(kWriteFor2)) + Replug(2));
    const sim::SimEeprom eeprom = World().devices[2].eeprom;
    sim::RecordBytes expected{};
    expected[0] = 8;
    EXPECT_EQ(eeprom.record, expected);
    EXPECT_EQ(eeprom.manufacturer, "");
    EXPECT_EQ(eeprom.description, "");
    EXPECT_EQ(eeprom.serialNumber, "");
}

TEST_F(SettingsFiles, ValuesThatDoNotFitTheirFieldAreRefusedBeforeTheDeviceIsOpened) {
    Given(TwoFt232hAroundAnother());
    const sim::SimState before = World();
    const std::string path = sandbox_.PrintedPath(kWriteFor2);
    WriteFile(sandbox_.FilePath(kWriteFor2), "[COMMON]\r\ndeviceType=8\r\n[FT232H]\r\nCbus0=300\r\n");
    EXPECT_EQ(Run({"-w", "2"}), TwoFt232hTable() + InvalidValue(path, "Cbus0", "300") + WriteFailed(2));
    WriteFile(sandbox_.FilePath(kWriteFor2), "[COMMON]\r\nMaxPower=65536\r\n");
    EXPECT_EQ(Run({"-w", "2"}), TwoFt232hTable() + InvalidValue(path, "MaxPower", "65536") + WriteFailed(2));
    WriteFile(sandbox_.FilePath(kWriteFor2), "[COMMON]\r\nVendorId=abc\r\n");
    EXPECT_EQ(Run({"-w", "2"}), TwoFt232hTable() + InvalidValue(path, "VendorId", "abc") + WriteFailed(2));
    EXPECT_TRUE(DeviceCalls().empty());
    EXPECT_EQ(World().devices, before.devices);
}

TEST_F(SettingsFiles, AFailedProgramLeavesTheFileAsItWas) {
    sim::SimState state = TwoFt232hAroundAnother();
    state.faults.push_back({sim::EntryPoint::EepromProgram, 12, 2U});
    Given(state);
    const std::string content = "[COMMON]\r\ndeviceType=8\r\nVendorId=0x0403\r\n";
    WriteFile(sandbox_.FilePath(kWriteFor2), content);
    EXPECT_EQ(Run({"-w", "2"}), TwoFt232hTable() + WriteFailed(2));
    EXPECT_EQ(ReadFile(sandbox_.FilePath(kWriteFor2)), content);
    EXPECT_EQ(DeviceCalls(), (std::vector<std::string>{"FT_Open", "FT_EEPROM_Program", "FT_Close"}));
}

}  // namespace
}  // namespace ft232h::e2e
