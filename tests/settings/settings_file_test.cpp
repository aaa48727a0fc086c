#include "eeprom/settings_file.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "eeprom/erase_init.hpp"
#include "eeprom/profile_file.hpp"
#include "tests/settings/temporary_directory.hpp"
#include "tests/support/fake_d2xx.hpp"

namespace ft232h {
namespace {

using testing::FakeCall;
using testing::FakeD2xx;
using testing::FakeEntryPoint;
using testing::ReadBytes;
using testing::TemporaryDirectory;
using testing::WriteBytes;

constexpr std::int32_t kDevice = 3;

void Put(EepromString& buffer, std::string_view text) {
    buffer.fill('\0');
    std::memcpy(buffer.data(), text.data(), text.size());
}

constexpr std::string_view kDefaultDump =
    "[DESC]\r\n"
    "Manufacturer=\"FTDI\"\r\n"
    "ManufacturerId=\"FT\"\r\n"
    "Description=\"USB <-> Serial Converter\"\r\n"
    "SerialNumber=\"\"\r\n"
    "[COMMON]\r\n"
    "deviceType=8\r\n"
    "VendorId=1027\r\n"
    "ProductId=24596\r\n"
    "SerNumEnable=1\r\n"
    "MaxPower=100\r\n"
    "SelfPowered=0\r\n"
    "RemoteWakeup=0\r\n"
    "PullDownEnable=0\r\n"
    "[FT232H]\r\n"
    "ACSlowSlew=0\r\n"
    "ACSchmittInput=0\r\n"
    "ACDriveCurrent=4\r\n"
    "ADSlowSlew=0\r\n"
    "ADSchmittInput=0\r\n"
    "ADDriveCurrent=4\r\n"
    "Cbus0=0\r\n"
    "Cbus1=0\r\n"
    "Cbus2=0\r\n"
    "Cbus3=0\r\n"
    "Cbus4=0\r\n"
    "Cbus5=0\r\n"
    "Cbus6=0\r\n"
    "Cbus7=0\r\n"
    "Cbus8=0\r\n"
    "Cbus9=0\r\n"
    "FT1248Cpol=0\r\n"
    "FT1248Lsb=0\r\n"
    "FT1248FlowControl=0\r\n"
    "IsFifo=0\r\n"
    "IsFifoTar=0\r\n"
    "IsFastSer=0\r\n"
    "IsFT1248=0\r\n"
    "PowerSaveEnable=0\r\n"
    "DriverType=1\r\n";

std::vector<std::uint8_t> BytesOf(const EepromRecord& record) {
    std::vector<std::uint8_t> bytes(sizeof record);
    std::memcpy(bytes.data(), &record, sizeof record);
    return bytes;
}

EepromRecord WithoutAlignment(EepromRecord record) {
    record.alignment9 = 0;
    record.alignment15 = 0;
    record.alignment41 = {};
    return record;
}

std::string TextOf(const EepromString& buffer) {
    return std::string(buffer.data(), std::strlen(buffer.data()));
}

void ExpectSameStrings(const EepromStrings& actual, const EepromStrings& expected) {
    EXPECT_EQ(TextOf(actual.Manufacturer), TextOf(expected.Manufacturer));
    EXPECT_EQ(TextOf(actual.ManufacturerId), TextOf(expected.ManufacturerId));
    EXPECT_EQ(TextOf(actual.Description), TextOf(expected.Description));
    EXPECT_EQ(TextOf(actual.SerialNumber), TextOf(expected.SerialNumber));
    // The bytes after the terminator are zero too, as the library gets them.
    EXPECT_EQ(actual.Manufacturer, expected.Manufacturer);
    EXPECT_EQ(actual.ManufacturerId, expected.ManufacturerId);
    EXPECT_EQ(actual.Description, expected.Description);
    EXPECT_EQ(actual.SerialNumber, expected.SerialNumber);
}

class SettingsFile : public ::testing::Test {
protected:
    bool Dump() { return ReadEepromToFile(d2xx, kDevice, dumpPath); }
    bool Program() { return WriteEepromFromFile(d2xx, kDevice, writePath, report); }
    bool Program(std::string_view fileBytes) {
        WriteBytes(writePath, fileBytes);
        return Program();
    }
    const FakeCall& Programmed() {
        const FakeCall* call = fake.LastCallOf(FakeEntryPoint::kEepromProgram);
        EXPECT_NE(call, nullptr);
        static const FakeCall kNone{};
        return call != nullptr ? *call : kNone;
    }

    TemporaryDirectory directory;
    std::string dumpPath = directory.File("ft232h_eeprom_no3.ini");
    std::string writePath = directory.File("ft232h_eeprom_to_write_no3.ini");
    FakeD2xx fake;
    D2xxBinding d2xx = fake.Binding();
    SettingsFileReport report;
};

// The refused values as "key=shown", in the order reported.
std::vector<std::string> Refusals(const SettingsFileReport& report) {
    std::vector<std::string> lines;
    for (const RefusedValue& refused : report.refused) {
        lines.push_back(std::string(refused.key) + "=" + refused.shown);
    }
    return lines;
}

using Sequence = std::vector<FakeEntryPoint>;
const Sequence kOpenReadClose = {FakeEntryPoint::kOpen, FakeEntryPoint::kEepromRead, FakeEntryPoint::kClose};

// --- Dump ------------------------------------------------------------------

TEST_F(SettingsFile, DumpOfTheDefaultImageGivesTheListedLinesInOrder) {
    fake.eeprom = DefaultEepromRecord();
    fake.eepromStrings = DefaultEepromStrings();
    ASSERT_TRUE(Dump());
    EXPECT_EQ(ReadBytes(dumpPath), kDefaultDump);
    EXPECT_EQ(fake.Sequence(), kOpenReadClose);
    EXPECT_EQ(fake.calls[0].deviceIndex, kDevice);
    const FakeCall& read = fake.calls[1];
    EXPECT_EQ(read.handle, fake.handle);
    EXPECT_EQ(read.recordSize, 44u);
    EXPECT_EQ(read.record.deviceType, 8u);
    EXPECT_EQ(fake.calls[2].handle, fake.handle);
}

TEST_F(SettingsFile, DumpOfAStringWithALineBreakFailsButWritesEveryOtherKey) {
    fake.eeprom = DefaultEepromRecord();
    fake.eepromStrings = DefaultEepromStrings();
    Put(fake.eepromStrings.Description, "two\r\nlines");
    EXPECT_FALSE(Dump());
    std::string expected(kDefaultDump);
    const std::size_t line = expected.find("Description=");
    expected.erase(line, expected.find("\r\n", line) + 2 - line);
    EXPECT_EQ(ReadBytes(dumpPath), expected);
    EXPECT_EQ(fake.Sequence(), kOpenReadClose);
}

TEST_F(SettingsFile, DumpWhoseReadFailsWritesNothingAndCloses) {
    fake.StatusOf(FakeEntryPoint::kEepromRead) = kFtEepromReadFailed;
    EXPECT_FALSE(Dump());
    EXPECT_FALSE(std::filesystem::exists(dumpPath));
    EXPECT_EQ(fake.Sequence(), kOpenReadClose);
}

// --- Program ---------------------------------------------------------------

TEST_F(SettingsFile, ProgramOfTheDefaultDumpGivesTheDefaultImage) {
    ASSERT_TRUE(Program(kDefaultDump));
    EXPECT_EQ(BytesOf(Programmed().record), BytesOf(DefaultEepromRecord()));
    ExpectSameStrings(Programmed().strings, DefaultEepromStrings());
}

TEST_F(SettingsFile, ProgramReadsDecimalAndHexadecimalNumbersToTheFullWidthOfTheirField) {
    ASSERT_TRUE(
        Program("[common]\n"
                "DEVICETYPE = 4294967295\n"
                "VendorId=0x0403\n"
                "ProductId=0x6014\n"
                "MaxPower=\"65535\"\n"
                "SelfPowered=\n"
                "[FT232H]\n"
                "Cbus0=255\n"
                "Cbus1=007\n"
                "Cbus2=0xff\n"));
    const EepromRecord& record = Programmed().record;
    EXPECT_EQ(record.deviceType, 4294967295u);
    EXPECT_EQ(record.VendorId, 0x0403);
    EXPECT_EQ(record.ProductId, 0x6014);
    EXPECT_EQ(record.MaxPower, 65535);
    EXPECT_EQ(record.SelfPowered, 0);
    EXPECT_EQ(record.Cbus0, 255);
    EXPECT_EQ(record.Cbus1, 7);
    EXPECT_EQ(record.Cbus2, 255);
}

TEST_F(SettingsFile, ProgramRefusesValuesThatAreNoNumberOrDoNotFitAndNamesThem) {
    struct Case {
        std::string section;
        std::string line;
        std::string key;
        std::string shown;
    };
    const std::string tooLong(64, 'D');
    const std::vector<Case> cases = {
        {"FT232H", "Cbus0=300", "Cbus0", "300"},
        {"COMMON", "MaxPower=65536", "MaxPower", "65536"},
        {"COMMON", "deviceType=4294967296", "deviceType", "4294967296"},
        {"COMMON", "deviceType=0x100000000", "deviceType", "0x100000000"},
        {"COMMON", "deviceType=99999999999999999999999", "deviceType", "99999999999999999999999"},
        {"COMMON", "VendorId=-1", "VendorId", "-1"},
        {"COMMON", "VendorId=+1", "VendorId", "+1"},
        {"FT232H", "Cbus0=abc", "Cbus0", "abc"},
        {"FT232H", "Cbus0=0x", "Cbus0", "0x"},
        {"FT232H", "Cbus0=0xg", "Cbus0", "0xg"},
        {"FT232H", "Cbus0=1 2", "Cbus0", "1 2"},
        {"FT232H", "Cbus0=1.0", "Cbus0", "1.0"},
        {"DESC", "Description=\"" + tooLong + "\"", "Description", std::string(63, 'D') + "..."},
        {"DESC", "SerialNumber=" + std::string(500, 'S'), "SerialNumber", std::string(63, 'S') + "..."},
        {"DESC", "SerialNumber=" + std::string(45, 'S'), "SerialNumber", std::string(45, 'S')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_FALSE(Program("[" + c.section + "]\r\n" + c.line + "\r\n"));
        EXPECT_EQ(Refusals(report), std::vector<std::string>{c.key + "=" + c.shown});
        EXPECT_TRUE(fake.calls.empty());
    }
}

TEST_F(SettingsFile, ProgramReportsEveryBadValueInOneRun) {
    EXPECT_FALSE(Program("[COMMON]\r\nVendorId=x\r\n[FT232H]\r\nCbus9=256\r\n"));
    EXPECT_EQ(Refusals(report), (std::vector<std::string>{"VendorId=x", "Cbus9=256"}));
    EXPECT_TRUE(fake.calls.empty());
}

TEST_F(SettingsFile, ProgramTakesStringsThatFillTheChip) {
    const std::string longest(kMaxStoredStringBytes - 5, 'M');
    ASSERT_TRUE(Program("[DESC]\r\nManufacturer=\"" + longest + "\"\r\nSerialNumber=  FT123  \r\n"));
    EXPECT_EQ(TextOf(Programmed().strings.Manufacturer), longest);
    EXPECT_EQ(TextOf(Programmed().strings.SerialNumber), "FT123");
}

// --- Both ways -------------------------------------------------------------

// Files laid out as Windows reads them, though not as the dump writes them:
// line ends other than CR LF, blanks other than space and tab, NUL bytes, a
// name alone, a byte order mark. Each programs what Windows reads in it
// (written plainly beside it) or is refused; a dump into it keeps the bytes
// it does not own and programs the device's own image back.
TEST_F(SettingsFile, FilesLaidOutAsWindowsReadsThemProgramAndDumpAsThere) {
    using namespace std::string_literals;
    struct Case {
        const char* name;
        std::string file;
        std::string plain;
        std::vector<std::string> refused;
        std::vector<std::string> kept;
    };
    const std::vector<Case> cases = {
        {"lone CR", "[COMMON]\rVendorId=6\r", "[COMMON]\r\nVendorId=6\r\n", {}, {"[COMMON]\r"}},
        {"lone CR between two keys",
         "[DESC]\r\nManufacturer=Acme\rSerialNumber=X1",
         "[DESC]\r\nManufacturer=Acme\r\nSerialNumber=X1\r\n",
         {},
         {}},
        {"lone CR lines after an owned key",
         "[COMMON]\r\nMaxPower=90\r[Notes]\rOwner=me\r\n",
         "[COMMON]\r\nMaxPower=90\r\n",
         {},
         {"[COMMON]\r\n", "[Notes]\rOwner=me\r\n"}},
        {"LF CR",
         "[COMMON]\n\rVendorId=6\n\rProductId=7\n\r",
         "[COMMON]\r\nVendorId=6\r\nProductId=7\r\n",
         {},
         {"[COMMON]\n\r"}},
        {"vertical tab before a number",
         "[FT232H]\r\nIsFifo=\x0b"
         "0\r\n",
         "[FT232H]\r\nIsFifo=0\r\n",
         {},
         {}},
        {"vertical tab after quotes", "[DESC]\r\nManufacturerId=\"\"\x0b\r\n", "[DESC]\r\nManufacturerId=\r\n", {}, {}},
        {"form feed and ^Z around a name and a number",
         "[FT232H]\r\n\x0c"
         "Cbus1\x1a=\x0c"
         "3\x1a\r\n",
         "[FT232H]\r\nCbus1=3\r\n",
         {},
         {}},
        {"NUL after a number", "[FT232H]\r\nCbus7=4\0\r\n"s, "[FT232H]\r\nCbus7=4\r\n", {}, {}},
        {"NUL as the whole text", "[DESC]\r\nDescription=\0junk\r\n"s, "[DESC]\r\n", {}, {}},
        {"a name alone hides the key below",
         "[FT232H]\r\nCbus8\r\nCbus8=2\r\n",
         "[FT232H]\r\n",
         {},
         {"\r\nCbus8=2\r\n"}},
        {"0X", "[FT232H]\r\nCbus0=0X8\r\n", "", {"Cbus0=0X8"}, {}},
        {"UTF-8 byte order mark, bytes kept raw",
         "\xEF\xBB\xBF[DESC]\r\nManufacturer=\"\x93"
         "Acme\"\r\n",
         "[DESC]\r\nManufacturer=\"\x93"
         "Acme\"\r\n",
         {},
         {"\xEF\xBB\xBF[DESC]\r\n"}},
        {"all of them",
         "\xEF\xBB\xBF[COMMON]\rVendorId=\x0b"
         "6\0 junk\n\r; note\r[FT232H]\rCbus8\rCbus8=2\rIsFifo=\x1a"
         "1\r"s,
         "[COMMON]\r\nVendorId=6\r\n[FT232H]\r\nIsFifo=1\r\n",
         {},
         {"\xEF\xBB\xBF[COMMON]\r", "; note\r", "\rCbus8=2\r"}},
    };
    EepromRecord image;
    for (std::size_t i = 0; i < sizeof image; ++i) {
        reinterpret_cast<unsigned char*>(&image)[i] = static_cast<unsigned char>(i * 7 + 1);
    }
    image = WithoutAlignment(image);
    EepromStrings strings{};
    Put(strings.Manufacturer,
        "\x93"
        "Acme");
    Put(strings.ManufacturerId, "AC");
    Put(strings.Description, " Board ");
    Put(strings.SerialNumber, "X1");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake.calls.clear();
        if (!c.refused.empty()) {
            EXPECT_FALSE(Program(c.file));
            EXPECT_EQ(Refusals(report), c.refused);
            EXPECT_TRUE(fake.calls.empty());
        } else {
            ASSERT_TRUE(Program(c.plain));
            const FakeCall expected = Programmed();
            ASSERT_TRUE(Program(c.file));
            EXPECT_EQ(BytesOf(Programmed().record), BytesOf(expected.record));
            ExpectSameStrings(Programmed().strings, expected.strings);
        }

        fake.eeprom = image;
        fake.eepromStrings = strings;
        WriteBytes(dumpPath, c.file);
        ASSERT_TRUE(Dump());
        const std::string dumped = ReadBytes(dumpPath);
        for (const std::string& kept : c.kept) {
            EXPECT_NE(dumped.find(kept), std::string::npos) << ::testing::PrintToString(kept);
        }
        WriteBytes(writePath, dumped);
        ASSERT_TRUE(Program()) << ::testing::PrintToString(dumped);
        EXPECT_EQ(BytesOf(Programmed().record), BytesOf(image));
        ExpectSameStrings(Programmed().strings, strings);
    }
}

// Any image the library can hold comes back unchanged through a dump, a copy
// and a program. Set FT232H_TEST_SEED to repeat a run.
TEST_F(SettingsFile, AnyImageSurvivesDumpCopyAndProgram) {
    std::uint32_t seed = std::random_device{}();
    if (const char* fixed = std::getenv("FT232H_TEST_SEED")) {
        seed = static_cast<std::uint32_t>(std::strtoul(fixed, nullptr, 10));
    }
    std::cout << "seed " << seed << " (FT232H_TEST_SEED)\n";
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> textByte(1, 255);
    // ManufacturerId is not stored on the chip; the other three share what it
    // holds, an empty serial number counting as the one the library makes.
    std::uniform_int_distribution<std::size_t> idLength(0, 63);
    std::uniform_int_distribution<std::size_t> storedLength(0, kMaxStoredStringBytes / kStoredStrings);
    const auto randomText = [&](EepromString& buffer, std::uniform_int_distribution<std::size_t>& length) {
        std::string text(length(random), ' ');
        for (char& c : text) {
            do {
                c = static_cast<char>(textByte(random));
            } while (c == '\r' || c == '\n');
        }
        // Blanks and quotes at the ends are what trimming and unquoting
        // would eat if the dump did not protect them.
        if (!text.empty() && random() % 4 == 0) {
            text.front() = " \t\"'"[random() % 4];
            text.back() = " \t\"'"[random() % 4];
        }
        Put(buffer, text);
    };
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        EepromRecord record;
        for (std::size_t i = 0; i < sizeof record; ++i) {
            reinterpret_cast<unsigned char*>(&record)[i] = static_cast<unsigned char>(byte(random));
        }
        EepromStrings strings;
        randomText(strings.Manufacturer, storedLength);
        randomText(strings.ManufacturerId, idLength);
        randomText(strings.Description, storedLength);
        randomText(strings.SerialNumber, storedLength);
        fake.eeprom = record;
        fake.eepromStrings = strings;
        fake.calls.clear();
        // The same file each round: later dumps rewrite the values in place.
        ASSERT_TRUE(Dump());
        WriteBytes(writePath, ReadBytes(dumpPath));
        ASSERT_TRUE(Program()) << ::testing::PrintToString(Refusals(report));
        EXPECT_EQ(BytesOf(Programmed().record), BytesOf(WithoutAlignment(record)));
        ExpectSameStrings(Programmed().strings, strings);
        if (HasFailure()) {
            break;
        }
    }
}

}  // namespace
}  // namespace ft232h
