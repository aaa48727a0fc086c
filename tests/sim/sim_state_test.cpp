#include "sim/sim_state.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "d2xx/d2xx_api.hpp"
#include "d2xx/eeprom_record.hpp"
#include "tests/sim/test_library.hpp"

namespace ft232h::sim {
namespace {

namespace fs = std::filesystem;

constexpr FtStatus kInvalidHandle = 1;
constexpr FtStatus kDeviceNotOpened = 3;

SimState ParseOrFail(const std::string& text) {
    SimState state;
    std::string error;
    EXPECT_TRUE(ParseState(text, state, error)) << error;
    return state;
}

// A state that uses every field, with the bytes that a plain text form
// cannot carry.
SimState RichState() {
    SimState state;
    state.log = true;
    state.strictLimits = true;
    state.createCount = 4000000000U;
    state.getCount = 7;
    state.faults.push_back({EntryPoint::Open, 18, std::nullopt});
    state.faults.push_back({EntryPoint::EepromProgram, 12, 2U});

    state.devices.push_back(MakeOtherDevice("FT2232A"));

    SimDevice unterminated = MakeFt232hDevice("0123456789ABCDEF");
    unterminated.locId = 0x1234;
    unterminated.description[63] = '\x7f';
    EepromRecord record = DefaultEepromRecord();
    record.alignment9 = 0x5A;
    record.alignment15 = 0xFF;
    record.alignment41 = {1, 2, 3};
    unterminated.eeprom.record = ToRecordBytes(record);
    unterminated.eeprom.manufacturer = std::string("\x82\xa0\x00z", 4);
    unterminated.eeprom.description = " padded ";
    unterminated.eeprom.serialNumber = std::string(kMaxEepromStringLength, 'S');
    state.devices.push_back(unterminated);

    SimDevice busy = MakeFt232hDevice("FT9");
    busy.inUse = true;
    state.devices.push_back(busy);
    return state;
}

TEST(SimState, FormatsAndParsesBackEveryField) {
    const SimState state = RichState();
    const std::string text = FormatState(state);

    EXPECT_EQ(ParseOrFail(text), state) << text;
    // 16 serial characters fill the field and leave it unterminated.
    EXPECT_NE(text.find("  serial 0123456789ABCDEF\n"), std::string::npos) << text;
    EXPECT_NE(text.find("0000007f\n"), std::string::npos) << "a description that plain text cannot carry";
    EXPECT_NE(text.find("eeprom_record_hex 0800000003041460015a6400000000ff"), std::string::npos) << text;
    EXPECT_NE(text.find("serial FT2232A\n"), std::string::npos) << text;
}

TEST(SimState, ReadsTheHandWrittenForms) {
    const SimState state = ParseOrFail(
        "# two devices\r\n"
        "log 1\r\n"
        "fault FT_EEPROM_Read 0x0b device 1\r\n"
        "device 0\r\n"
        "  type 5\r\n"
        "device 1\r\n"
        "\ttype 8\r\n"
        "  serial FT1234\r\n"
        "  description_hex 41\r\n"
        "  eeprom_record_hex " +
        ToHex(ToRecordBytes(DefaultEepromRecord())) +
        "\r\n"
        "  eeprom_manufacturer A # not a comment\r\n"
        "  eeprom_serial\r\n");

    ASSERT_EQ(state.devices.size(), 2U);
    EXPECT_TRUE(state.log);
    ASSERT_EQ(state.faults.size(), 1U);
    EXPECT_EQ(state.faults[0], (SimFault{EntryPoint::EepromRead, 11, 1U}));
    EXPECT_EQ(state.devices[0].type, 5U);
    EXPECT_FALSE(state.devices[0].eeprom.programmed);
    const SimDevice& device = state.devices[1];
    EXPECT_EQ(device.serialNumber, NodeSerial("FT1234"));
    EXPECT_EQ(device.description[0], 'A');
    EXPECT_TRUE(device.eeprom.programmed);
    EXPECT_EQ(device.eeprom.manufacturer, "A # not a comment");
    EXPECT_EQ(device.eeprom.serialNumber, "");
}

TEST(SimState, RefusesMalformedStates) {
    const std::string record = ToHex(ToRecordBytes(DefaultEepromRecord()));
    const std::vector<std::string> malformed = {
        "device 0\n  seral FT1\n",
        "serial FT1\n",
        "device 1\n",
        "device 0\ndevice 0\n",
        "device 0\n  type 8 \n",
        "device 0\n  type 4294967296\n",
        "device 0\n  serial 0123456789ABCDEFG\n",
        "device 0\n  serial_hex 3g\n",
        "device 0\n  serial_hex 303\n",
        "device 0\n  serial FT1\n  serial_hex 3031\n",
        "device 0\n  description caf\xc3\xa9\n",
        "device 0\n  eeprom_record_hex " + record.substr(2) + "\n",
        "device 0\n  eeprom_manufacturer FTDI\n",
        "device 0\n  eeprom erased\n  eeprom_record_hex " + record + "\n",
        "device 0\n  eeprom_record_hex " + record + "\n  eeprom_serial " + std::string(64, 'S') + "\n",
        "log 2\n",
        "log 1\nlog 1\n",
        "fault FT_Open 0\n",
        "fault FT_Opne 18\n",
        "fault FT_Open 18 device\n",
        "fault FT_CreateDeviceInfoList 18 device 0\n",
    };
    for (const std::string& text : malformed) {
        SimState state;
        state.log = true;
        std::string error;
        EXPECT_FALSE(ParseState(text, state, error)) << text;
        EXPECT_EQ(error.rfind("line ", 0), 0U) << text << " gave: " << error;
        EXPECT_TRUE(state.log) << "a refused text must leave the state alone: " << text;
    }
}

// The built library, loaded into this process and pointed at a state file in
// a directory of the test's own.
class SimLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        directory_ = fs::temp_directory_path() / ("ft232h_sim_" + std::to_string(std::random_device{}()));
        fs::create_directories(directory_);
        statePath_ = (directory_ / "state.txt").string();
        test::SetEnvironmentValue(kStateEnvironmentVariable, statePath_);
    }

    void TearDown() override {
        test::ClearEnvironmentValue(kStateEnvironmentVariable);
        std::error_code ignored;
        fs::remove_all(directory_, ignored);
    }

    void Write(const SimState& state) {
        std::string error;
        ASSERT_TRUE(SaveStateFile(statePath_, state, error)) << error;
    }

    SimState Read() const {
        SimState state;
        std::string error;
        EXPECT_EQ(LoadStateFile(statePath_, state, error), LoadResult::Loaded) << error;
        return state;
    }

    std::vector<SimLogEntry> Log() const {
        std::vector<SimLogEntry> entries;
        std::string error;
        EXPECT_TRUE(ReadLogFile((directory_ / kLogFileName).string(), entries, error)) << error;
        return entries;
    }

    // Binds the seven entry points of the library at `path`.
    void Bind(const char* path = FT232H_SIM_LIBRARY) {
        library_ = std::make_unique<test::TestLibrary>(path);
        ASSERT_TRUE(library_->Loaded()) << path;
        create_ = library_->Find<FT_CreateDeviceInfoList_t>("FT_CreateDeviceInfoList");
        get_ = library_->Find<FT_GetDeviceInfoList_t>("FT_GetDeviceInfoList");
        open_ = library_->Find<FT_Open_t>("FT_Open");
        close_ = library_->Find<FT_Close_t>("FT_Close");
        read_ = library_->Find<FT_EEPROM_Read_t>("FT_EEPROM_Read");
        program_ = library_->Find<FT_EEPROM_Program_t>("FT_EEPROM_Program");
        erase_ = library_->Find<FT_EraseEE_t>("FT_EraseEE");
        ASSERT_TRUE(create_ && get_ && open_ && close_ && erase_);
    }

    FtHandle Open(int index) {
        FtHandle handle = nullptr;
        EXPECT_EQ(open_(index, &handle), kFtOk) << "index " << index;
        EXPECT_NE(handle, nullptr);
        return handle;
    }

    FtStatus ReadEeprom(FtHandle handle, EepromRecord& record, EepromStrings& strings,
                        std::uint32_t size = kEepromRecordSize) {
        return read_(handle, &record, size, strings.Manufacturer.data(), strings.ManufacturerId.data(),
                     strings.Description.data(), strings.SerialNumber.data());
    }

    FtStatus ProgramEeprom(FtHandle handle, EepromRecord& record, EepromStrings& strings) {
        return program_(handle, &record, kEepromRecordSize, strings.Manufacturer.data(), strings.ManufacturerId.data(),
                        strings.Description.data(), strings.SerialNumber.data());
    }

    static EepromRecord ReadableRecord() {
        EepromRecord record;
        record.deviceType = kDeviceTypeFt232h;
        return record;
    }

    static void SetString(EepromString& target, const std::string& text) {
        target.fill('\0');
        std::copy(text.begin(), text.end(), target.begin());
    }

    fs::path directory_;
    std::string statePath_;
    std::unique_ptr<test::TestLibrary> library_;
    FT_CreateDeviceInfoList_t create_ = nullptr;
    FT_GetDeviceInfoList_t get_ = nullptr;
    FT_Open_t open_ = nullptr;
    FT_Close_t close_ = nullptr;
    FT_EEPROM_Read_t read_ = nullptr;
    FT_EEPROM_Program_t program_ = nullptr;
    FT_EraseEE_t erase_ = nullptr;
};

TEST_F(SimLibrary, FillsNoMoreNodesThanTheCallerHasAndReportsOverriddenCounts) {
    SimState state;
    state.devices = {MakeFt232hDevice("A"), MakeFt232hDevice("B"), MakeFt232hDevice("C")};
    state.createCount = 1;
    Write(state);
    ASSERT_NO_FATAL_FAILURE(Bind());

    std::uint32_t count = 0;
    ASSERT_EQ(create_(&count), kFtOk);
    EXPECT_EQ(count, 1U);
    std::array<DeviceInfoNode, 2> nodes{};
    nodes[1].Type = 0xDEAD;
    ASSERT_EQ(get_(nodes.data(), &count), kFtOk);
    EXPECT_EQ(nodes[0].SerialNumber[0], 'A');
    EXPECT_EQ(nodes[1].Type, 0xDEADU) << "wrote beyond the count passed in";
    EXPECT_EQ(count, 3U) << "the count written back tells the whole list";

    state.createCount = 0xFFFFFFFF;
    state.getCount = 9;
    Write(state);
    ASSERT_EQ(create_(&count), kFtOk);
    EXPECT_EQ(count, 0xFFFFFFFFU);
    count = 1;
    ASSERT_EQ(get_(nodes.data(), &count), kFtOk);
    EXPECT_EQ(count, 9U);
}

TEST_F(SimLibrary, RefusesWhatTheRealLibraryRefuses) {
    SimState state;
    state.devices = {MakeOtherDevice("X"), MakeFt232hDevice("FT1"), MakeFt232hDevice("FT2")};
    state.devices[2].inUse = true;
    Write(state);
    ASSERT_NO_FATAL_FAILURE(Bind());

    FtHandle handle = nullptr;
    EXPECT_EQ(open_(3, &handle), kFtDeviceNotFound);
    EXPECT_EQ(open_(-1, &handle), kFtDeviceNotFound);
    EXPECT_EQ(open_(2, &handle), kDeviceNotOpened);
    EXPECT_EQ(handle, nullptr);
    int notAHandle = 0;
    EXPECT_EQ(close_(&notAHandle), kInvalidHandle);
    EXPECT_EQ(erase_(&notAHandle), kInvalidHandle);

    const FtHandle other = Open(0);
    EepromRecord record = ReadableRecord();
    EepromStrings strings;
    EXPECT_EQ(ReadEeprom(other, record, strings), kFtInvalidParameter) << "no FT232H";

    const FtHandle ft232h = Open(1);
    EXPECT_EQ(open_(1, &handle), kDeviceNotOpened) << "already open";
    EXPECT_EQ(ReadEeprom(ft232h, record, strings, 43), kFtInvalidParameter);
    record.deviceType = kDeviceTypeFt2232h;
    EXPECT_EQ(ReadEeprom(ft232h, record, strings), kFtInvalidParameter);

    record = DefaultEepromRecord();
    std::fill(strings.Description.begin(), strings.Description.end(), 'D');
    EXPECT_EQ(ProgramEeprom(ft232h, record, strings), kFtInvalidParameter) << "unterminated string";
    EXPECT_EQ(Read(), state) << "a refused call changes nothing";
    EXPECT_EQ(close_(other), kFtOk);
    EXPECT_EQ(close_(ft232h), kFtOk);
}

TEST_F(SimLibrary, EnforcesTheChipsStringLimitsOnlyWhenAsked) {
    SimState state;
    state.devices = {MakeFt232hDevice("FT1")};
    Write(state);
    ASSERT_NO_FATAL_FAILURE(Bind());

    EepromRecord record = DefaultEepromRecord();
    EepromStrings strings;
    SetString(strings.Manufacturer, "Manufacturer-Name-20");
    SetString(strings.ManufacturerId, "FT");
    SetString(strings.Description, "Description-Text-21ch");
    SetString(strings.SerialNumber, "S1234");
    FtHandle handle = Open(0);
    EXPECT_EQ(ProgramEeprom(handle, record, strings), kFtOk);

    state.strictLimits = true;
    Write(state);
    EXPECT_EQ(ProgramEeprom(handle, record, strings), kFtInvalidParameter) << "46 bytes";
    SetString(strings.SerialNumber, "S12");
    EXPECT_EQ(ProgramEeprom(handle, record, strings), kFtOk) << "44 bytes";
    SetString(strings.SerialNumber, "");
    EXPECT_EQ(ProgramEeprom(handle, record, strings), kFtInvalidParameter) << "the serial number made of FT";
    SetString(strings.ManufacturerId, "");
    EXPECT_EQ(ProgramEeprom(handle, record, strings), kFtOk) << "41 bytes, no serial number";
    EXPECT_EQ(close_(handle), kFtOk);
}

TEST_F(SimLibrary, InjectsFaultsAndLogsEveryCall) {
    SimState state;
    state.log = true;
    state.devices = {MakeFt232hDevice("FT0"), MakeFt232hDevice("FT1")};
    state.faults = {{EntryPoint::Open, 18, 0U}, {EntryPoint::EepromRead, 11, 1U}, {EntryPoint::Close, 4, std::nullopt}};
    Write(state);
    ASSERT_NO_FATAL_FAILURE(Bind());

    std::uint32_t count = 0;
    ASSERT_EQ(create_(&count), kFtOk);
    std::vector<DeviceInfoNode> nodes(count);
    ASSERT_EQ(get_(nodes.data(), &count), kFtOk);
    FtHandle handle = nullptr;
    EXPECT_EQ(open_(0, &handle), 18U);
    handle = Open(1);
    EepromRecord record = ReadableRecord();
    EepromStrings strings;
    EXPECT_EQ(ReadEeprom(handle, record, strings), kFtEepromReadFailed);
    EXPECT_EQ(record.VendorId, 0U) << "a failed read leaves the record alone";
    record = DefaultEepromRecord();
    SetString(strings.Manufacturer, "FTDI");
    EXPECT_EQ(ProgramEeprom(handle, record, strings), kFtOk);
    EXPECT_EQ(close_(handle), 4U);

    const std::vector<SimLogEntry> log = Log();
    std::vector<std::string> lines;
    for (const SimLogEntry& entry : log) {
        lines.push_back(FormatLogEntry(entry));
    }
    const std::vector<std::string> expected = {
        "FT_CreateDeviceInfoList count=2 -> 0",
        "FT_GetDeviceInfoList count_in=2 count_out=2 filled=2 -> 0",
        "FT_Open index=0 -> 18",
        "FT_Open index=1 -> 0",
        "FT_EEPROM_Read device=1 size=44 device_type=8 -> 11",
        "FT_EEPROM_Program device=1 size=44 record=" + ToHex(ToRecordBytes(record)) +
            " manufacturer=46544449 manufacturer_id= description= serial= -> 0",
        "FT_Close device=1 -> 4",
    };
    EXPECT_EQ(lines, expected);

    // The failed close left the device open.
    state.faults.clear();
    Write(state);
    EXPECT_EQ(close_(handle), kFtOk);
}

TEST_F(SimLibrary, ServesNoDevicesWithoutAStateAndFailsOnABrokenOne) {
    ASSERT_NO_FATAL_FAILURE(Bind());
    std::uint32_t count = 5;
    EXPECT_EQ(create_(&count), kFtOk);
    EXPECT_EQ(count, 0U);

    std::ofstream(statePath_) << "device 0\n  tpye 8\n";
    EXPECT_EQ(create_(&count), kFtOtherError);
}

}  // namespace
}  // namespace ft232h::sim
