// Every command of the built tool, unchanged, through FTDI's own D2XX library
// against virtual FT232H chips. The output must be the exact Shift_JIS bytes,
// and each resulting EEPROM image is judged by libftdi's decoder.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "emu/chip.hpp"
#include "tests/e2e/tool_sandbox.hpp"
#include "tests/emu/expected_output.hpp"
#include "tests/emu/image_decoder.hpp"

namespace ft232h::emu_test {
namespace {

using e2e::CheckFailed;
using e2e::CheckPassed;
using e2e::Replug;
using e2e::Table;

const std::string kSerial = "FT0001AA";
const std::string kOtherSerial = "FT0003CC";
const std::string kDump = "ft232h_eeprom_no0.ini";
const std::string kToWrite = "ft232h_eeprom_to_write_no0.ini";

Image Blank() {
    Image image;
    image.fill(0xFF);
    return image;
}

// A chip as it left the factory, with every field the tool maps holding a
// value of its own, so that two fields swapped anywhere show.
Image Varied(const std::string& serial) {
    ::emu::Eeprom words = ::emu::factory_image(serial);
    Image image = ::emu::image_bytes(words);
    image[0x01] = 0x85;         // FT1248 clock idle high, flow control; power save
    image[0x08] = 0xC0;         // self-powered
    image[0x09] = 45;           // 90 mA
    image[0x0C] = 0x02 | 0x08;  // group 0: 12 mA, Schmitt
    image[0x0D] = 0x01 | 0x04;  // group 1: 8 mA, slow slew
    for (std::size_t pair = 0; pair < 5; ++pair) {
        image[0x18 + pair] = static_cast<std::uint8_t>((2 * pair + 1) | ((2 * pair + 2) << 4));  // Cbus0..9 = 1..10
    }
    words = ::emu::eeprom_from_bytes(image);
    words.back() = ::emu::eeprom_checksum(words);
    return ::emu::image_bytes(words);
}

DecodedImage With(DecodedImage decoded, const DecodedImage& changes) {
    for (const auto& [key, value] : changes) {
        decoded[key] = value;
    }
    return decoded;
}

// What -set writes, as libftdi decodes it.
const DecodedImage kYm2610Profile{
    {"ACDriveCurrent", "8"}, {"ADDriveCurrent", "8"}, {"Cbus5", "8"},      {"Cbus6", "8"},      {"Cbus9", "4"},
    {"ChannelType", "1"},    {"IsFifo", "1"},         {"DriverType", "0"}, {"MaxPower", "200"},
};

// A chip on the virtual bus: its launcher spec without the image, and the
// EEPROM it starts with.
struct Chip {
    std::string spec;
    std::optional<Image> image;
};

Chip Ft232h(const Image& image, const std::string& faults = "") {
    return {"type=ft232h" + faults, image};
}

class VirtualChips : public ::testing::Test {
protected:
    void Plug(const std::vector<Chip>& chips) {
        std::string lines;
        for (std::size_t i = 0; i < chips.size(); ++i) {
            lines += chips[i].spec;
            if (chips[i].image) {
                lines += ",image=../" + ImageName(i);
                e2e::WriteFile(sandbox_.FilePath(ImageName(i)),
                               std::string(chips[i].image->begin(), chips[i].image->end()));
            }
            lines += "\n";
        }
        e2e::WriteFile(sandbox_.FilePath("chips.txt"), lines);
    }

    // Whatever happens, the tool ends with status 0 and says nothing on
    // standard error (nor does the launcher, nor FTDI's library).
    std::string Run(const std::vector<std::string>& arguments) const {
        const e2e::ToolRun run = sandbox_.Run(arguments);
        EXPECT_EQ(run.exitStatus, 0) << run.errors;
        EXPECT_EQ(run.errors, "");
        return run.output;
    }

    Image ImageOf(std::size_t chip) const {
        const std::string bytes = e2e::ReadFile(sandbox_.FilePath(ImageName(chip)));
        Image image{};
        EXPECT_EQ(bytes.size(), image.size());
        std::copy_n(bytes.begin(), std::min(bytes.size(), image.size()), image.begin());
        return image;
    }

    DecodedImage Decoded(std::size_t chip) const {
        std::string failure;
        auto decoded = DecodeImage(ImageOf(chip), failure);
        EXPECT_TRUE(decoded) << failure;
        return decoded.value_or(DecodedImage{});
    }

    std::string Path(const std::string& name) const { return sandbox_.PrintedPath(name); }

    // The dump's key=value lines, quotes removed.
    std::map<std::string, std::string> Settings() const {
        std::map<std::string, std::string> settings;
        std::istringstream lines(e2e::ReadFile(sandbox_.FilePath(kDump)));
        for (std::string line; std::getline(lines, line);) {
            line.pop_back();  // CR
            if (const auto equals = line.find('='); equals != std::string::npos) {
                const std::string value = line.substr(equals + 1);
                settings[line.substr(0, equals)] = value.starts_with('"') ? value.substr(1, value.size() - 2) : value;
            }
        }
        return settings;
    }

    // The dump of chip 0 with `changes`, as the file -w programs.
    void WriteEdited(const std::map<std::string, std::string>& changes) {
        EXPECT_EQ(Run({"-r", "0"}), Table({{0, kSerial}}) + e2e::ReadDone(0, Path(kDump)));
        std::string file;
        std::istringstream lines(e2e::ReadFile(sandbox_.FilePath(kDump)));
        for (std::string line; std::getline(lines, line);) {
            const auto change = changes.find(line.substr(0, line.find('=')));
            file += (change == changes.end() ? line : change->first + "=\"" + change->second + "\"\r") + "\n";
        }
        e2e::WriteFile(sandbox_.FilePath(kToWrite), file);
    }

    static std::string ImageName(std::size_t chip) { return "chip" + std::to_string(chip) + ".bin"; }

    e2e::ToolSandbox sandbox_;
};

TEST_F(VirtualChips, ListsAFreshChipBySerialFromItsEeprom) {
    Plug({Ft232h(Varied(kSerial))});
    EXPECT_EQ(Run({}), Table({{0, kSerial}}) + e2e::Usage());
    EXPECT_EQ(ImageOf(0), Varied(kSerial));
}

TEST_F(VirtualChips, SetWritesTheProfileAndKeepsEverythingElse) {
    Plug({Ft232h(Varied(kSerial))});
    const DecodedImage before = Decoded(0);
    EXPECT_EQ(Run({"-chk", "0"}), Table({{0, kSerial}}) + CheckFailed(0));
    EXPECT_EQ(Run({"-set", "0"}), Table({{0, kSerial}}) + e2e::SetDone(0) + Replug(0));
    EXPECT_EQ(Run({"-chk", "0"}), Table({{0, kSerial}}) + CheckPassed(0));
    EXPECT_EQ(Decoded(0), With(before, kYm2610Profile));
}

TEST_F(VirtualChips, DumpHoldsWhatLibftdiDecodes) {
    Plug({Ft232h(Varied(kSerial))});
    EXPECT_EQ(Run({"-r", "0"}), Table({{0, kSerial}}) + e2e::ReadDone(0, Path(kDump)));
    const auto settings = Settings();
    std::size_t compared = 0;
    for (const auto& [key, value] : Decoded(0)) {
        if (const auto found = settings.find(key); found != settings.end()) {
            EXPECT_EQ(found->second, value) << key;
            ++compared;
        }
    }
    // All but deviceType and ManufacturerId, which the chip does not store.
    EXPECT_EQ(compared, 35U);
}

TEST_F(VirtualChips, EditedDumpChangesExactlyTheEditedFields) {
    Plug({Ft232h(Varied(kSerial))});
    const DecodedImage before = Decoded(0);
    const DecodedImage edits{{"MaxPower", "500"},     {"Cbus3", "12"},
                             {"ADSchmittInput", "1"}, {"ACSlowSlew", "1"},
                             {"RemoteWakeup", "1"},   {"PullDownEnable", "1"},
                             {"FT1248Lsb", "1"},      {"IsFifoTar", "1"},
                             {"ChannelType", "2"},    {"Description", "YM2610 board"}};
    WriteEdited(edits);
    EXPECT_EQ(Run({"-w", "0"}), Table({{0, kSerial}}) + e2e::WriteDone(0, Path(kToWrite)) + Replug(0));
    EXPECT_EQ(Decoded(0), With(before, edits));
}

TEST_F(VirtualChips, DumpProgrammedBackGivesTheSameImage) {
    Plug({Ft232h(Varied(kSerial))});
    const DecodedImage before = Decoded(0);
    WriteEdited({});
    EXPECT_EQ(Run({"-w", "0"}), Table({{0, kSerial}}) + e2e::WriteDone(0, Path(kToWrite)) + Replug(0));
    EXPECT_EQ(Decoded(0), before);
    EXPECT_EQ(ImageOf(0), Varied(kSerial));
}

TEST_F(VirtualChips, EraseLeavesABlankChipThatNeitherChecksNorDumps) {
    Plug({Ft232h(Varied(kSerial))});
    EXPECT_EQ(Run({"-erase", "0"}), Table({{0, kSerial}}) + e2e::EraseDone(0) + Replug(0));
    EXPECT_EQ(ImageOf(0), Blank());
    EXPECT_EQ(Run({"-chk", "0"}), Table({{0, ""}}) + CheckFailed(0));
    EXPECT_EQ(Run({"-r", "0"}), Table({{0, ""}}) + e2e::ReadFailed(0));
    EXPECT_EQ(ImageOf(0), Blank());
}

TEST_F(VirtualChips, InitGivesTheDefaultImage) {
    Plug({Ft232h(Blank())});
    EXPECT_EQ(Run({"-init", "0"}), Table({{0, ""}}) + e2e::InitDone(0) + Replug(0));
    const DecodedImage defaults{
        {"VendorId", "1027"},      {"ProductId", "24596"},   {"MaxPower", "100"},
        {"SerNumEnable", "1"},     {"ACDriveCurrent", "4"},  {"ADDriveCurrent", "4"},
        {"DriverType", "1"},       {"Manufacturer", "FTDI"}, {"Description", "USB <-> Serial Converter"},
        {"ReleaseNumber", "2304"}, {"ChipSize", "256"},      {"ChipType", "86"}};
    DecodedImage decoded = Decoded(0);
    // FTDI's library makes a serial number of ManufacturerId's "FT" and six
    // characters of its own.
    const std::string serial = decoded["SerialNumber"];
    EXPECT_TRUE(serial.starts_with("FT") && serial.size() == 8) << serial;
    decoded.erase("SerialNumber");
    for (const auto& [key, value] : decoded) {
        const auto found = defaults.find(key);
        EXPECT_EQ(value, found == defaults.end() ? "0" : found->second) << key;
    }
}

// A chip that acknowledges writes and keeps its old contents: every command
// that programs it must say it failed, and not ask for a replug.
struct DroppedWrite {
    const char* option;
    std::string (*failureLine)(std::int32_t);
};

void PrintTo(const DroppedWrite& dropped, std::ostream* out) {
    *out << dropped.option;
}

class DroppedWrites : public VirtualChips, public ::testing::WithParamInterface<DroppedWrite> {};

TEST_P(DroppedWrites, ReportTheFailureWithoutTheNotice) {
    Plug({Ft232h(Varied(kSerial), ",fault=drop-writes")});
    WriteEdited({{"MaxPower", "300"}});
    EXPECT_EQ(Run({GetParam().option, "0"}), Table({{0, kSerial}}) + GetParam().failureLine(0));
    EXPECT_EQ(ImageOf(0), Varied(kSerial));
}

INSTANTIATE_TEST_SUITE_P(Commands, DroppedWrites,
                         ::testing::Values(DroppedWrite{"-set", e2e::SetFailed}, DroppedWrite{"-w", e2e::WriteFailed},
                                           DroppedWrite{"-init", e2e::InitFailed}),
                         [](const auto& test) { return std::string(test.param.option + 1); });

// Strings around what the chip can hold: 44 bytes for the three stored ones
// together, an empty serial number counting as the 8 characters FTDI's
// library makes of ManufacturerId.
struct Strings {
    const char* name;
    std::string manufacturer;
    std::string manufacturerId;
    std::string description;
    std::string serialNumber;
    std::vector<std::string> refused;  // the keys reported, in file order; none: programmed
};

void PrintTo(const Strings& strings, std::ostream* out) {
    *out << strings.name;
}

class StringLimits : public VirtualChips, public ::testing::WithParamInterface<Strings> {};

TEST_P(StringLimits, AreRefusedBeforeTheChipIsTouchedOrProgrammedIntact) {
    const Strings& strings = GetParam();
    Plug({Ft232h(Varied(kSerial))});
    const DecodedImage before = Decoded(0);
    const std::map<std::string, std::string> values{{"Manufacturer", strings.manufacturer},
                                                    {"ManufacturerId", strings.manufacturerId},
                                                    {"Description", strings.description},
                                                    {"SerialNumber", strings.serialNumber}};
    WriteEdited(values);
    if (strings.refused.empty()) {
        EXPECT_EQ(Run({"-w", "0"}), Table({{0, kSerial}}) + e2e::WriteDone(0, Path(kToWrite)) + Replug(0));
        EXPECT_EQ(Decoded(0), With(before, {{"Manufacturer", strings.manufacturer},
                                            {"Description", strings.description},
                                            {"SerialNumber", strings.serialNumber}}));
        return;
    }
    std::string expected = Table({{0, kSerial}});
    for (const std::string& key : strings.refused) {
        expected += e2e::InvalidValue(Path(kToWrite), key, values.at(key));
    }
    EXPECT_EQ(Run({"-w", "0"}), expected + e2e::WriteFailed(0));
    EXPECT_EQ(ImageOf(0), Varied(kSerial));
}

const std::string kShiftJis = "\x83\x65\x83\x58\x83\x67";  // three characters, six bytes

INSTANTIATE_TEST_SUITE_P(
    Chip, StringLimits,
    ::testing::Values(Strings{"AllThreeAtTheLimit", "FTDI", "FT", std::string(32, 'D'), kSerial, {}},
                      Strings{"AllThreeOneOver",
                              "FTDI",
                              "FT",
                              std::string(33, 'D'),
                              kSerial,
                              {"Manufacturer", "Description", "SerialNumber"}},
                      Strings{"SerialNumberAloneAtTheLimit", "", "", "", std::string(44, 'S'), {}},
                      Strings{"SerialNumberAloneOneOver", "", "", "", std::string(45, 'S'), {"SerialNumber"}},
                      Strings{"ManufacturerAloneOneOver", std::string(45, 'M'), "", "", "", {"Manufacturer"}},
                      Strings{"GeneratedSerialNumberOneOver",
                              "FTDI",
                              "FT",
                              std::string(33, 'D'),
                              "",
                              {"Manufacturer", "ManufacturerId", "Description"}},
                      Strings{"ShiftJisAtTheLimit", "FTDI", "FT", kShiftJis + std::string(26, 'D'), kSerial, {}},
                      Strings{"ShiftJisOneOver",
                              "FTDI",
                              "FT",
                              kShiftJis + std::string(27, 'D'),
                              kSerial,
                              {"Manufacturer", "Description", "SerialNumber"}}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(VirtualChips, ListsTwoChipsAroundAnotherAndProgramsOnlyTheOneAsked) {
    Plug({Ft232h(Varied(kSerial)), Chip{"type=ft2232h", std::nullopt}, Ft232h(Varied(kOtherSerial))});
    const std::string table = Table({{0, kSerial}, {3, kOtherSerial}});
    EXPECT_EQ(Run({}), table + e2e::Usage());
    EXPECT_EQ(Run({"-set", "1"}), table + e2e::NotFound("1"));
    const DecodedImage before = Decoded(2);
    EXPECT_EQ(Run({"-set", "3"}), table + e2e::SetDone(3) + Replug(3));
    EXPECT_EQ(Decoded(2), With(before, kYm2610Profile));
    EXPECT_EQ(ImageOf(0), Varied(kSerial));
}

// An image FTDI's library did not lay out can hold more text than the chip
// takes back: here Manufacturer shares Description's descriptor. Programmed
// back, the strings would crash the library after it erased the chip.
TEST_F(VirtualChips, SetLeavesAChipAloneWhoseStringsWouldNotFitBack) {
    Image image = Varied(kSerial);
    image[0x0E] = image[0x10];
    image[0x0F] = image[0x11];
    ::emu::Eeprom words = ::emu::eeprom_from_bytes(image);
    words.back() = ::emu::eeprom_checksum(words);
    image = ::emu::image_bytes(words);
    Plug({Ft232h(image)});
    ASSERT_EQ(Decoded(0)["Manufacturer"], Decoded(0)["Description"]);
    EXPECT_EQ(Run({"-set", "0"}), Table({{0, kSerial}}) + e2e::SetFailed(0));
    EXPECT_EQ(ImageOf(0), image);
}

// FTDI's library tells nothing of a chip another program holds but that it
// is open, so the tool cannot take it for an FT232H.
TEST_F(VirtualChips, LeavesAChipInUseAlone) {
    Plug({Ft232h(Varied(kSerial), ",fault=in-use"), Ft232h(Varied(kOtherSerial))});
    const std::string table = Table({{1, kOtherSerial}});
    EXPECT_EQ(Run({"-set", "0"}), table + e2e::NotFound("0"));
    EXPECT_EQ(Run({"-set", "1"}), table + e2e::SetDone(1) + Replug(1));
    EXPECT_EQ(ImageOf(0), Varied(kSerial));
}

}  // namespace
}  // namespace ft232h::emu_test
