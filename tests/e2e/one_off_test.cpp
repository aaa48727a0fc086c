// Checks of the tool that hinge on one circumstance of the disk or the
// console each: a settings file that is a directory, read-only, another
// user's, linked or on a full disk; output into a pipe nobody reads or onto
// a terminal. Each runs the built tool in a sandbox of its own against the
// simulator, as the rows do.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "tests/e2e/tool_sandbox.hpp"

namespace ft232h::e2e {
namespace {

namespace fs = std::filesystem;

// A file of the rows' own (tests/e2e/files).
std::string TableFile(const std::string& name) {
    return ReadFile(fs::path(FT232H_ROW_FILES) / name);
}

// FT232H at list positions 0 and 2 around an FT232R. Every field of device
// 0's record holds a value of its own, none of which the chip can hold from
// SerNumEnable on; device 2 holds a fresh chip's defaults. With `log 1` the
// simulator logs every call.
const std::string kTwo = "log 1\n" + TableFile("two.world");

// The device table every run on `two` prints first.
constexpr std::string_view kTwoTable =
    "FT232H が 2 個見つかりました\n"
    "--------------------------\n"
    "[NO]       [SerialNumber]\n"
    " 0          FT000001\n"
    " 2          FT000003\n"
    "--------------------------\n";

// Device 0 of `two` as its dump, as the tool writes it.
const std::string kDump0 = TableFile("dump0.ini");

// Device 2's record as it is, and once -set has given it the YM2610 profile.
constexpr std::string_view kFreshRecord =
    "0800000003041460010064000000000000000400000400000000000000000000000000000000000001000000";
constexpr std::string_view kYm2610Record =
    "08000000030414600100c8000000000000000800000800000000000808000004000000010000000000000000";

// The lines of `text` as the tool prints them, with CR LF, {dir} standing
// for the tool's directory as it prints that. The literals are Shift_JIS
// already: the project compiles its text in that set.
std::string Printed(const ToolSandbox& sandbox, std::string_view text) {
    std::string bytes;
    for (const char c : text) {
        bytes += c == '\n' ? std::string_view("\r\n") : std::string_view(&c, 1);
    }
    for (std::size_t at; (at = bytes.find("{dir}")) != std::string::npos;) {
        bytes.replace(at, 5, sandbox.PrintedPath(""));
    }
    return bytes;
}

// A sandbox whose simulator serves `world`, which a test expects unchanged
// unless it says otherwise.
class World {
public:
    explicit World(std::string_view world, bool ownFileSystem = false)
        : sandbox_(LibraryKind::kSimulator, LibraryPlace::kBesideTool, ownFileSystem), world_(world) {
        WriteFile(sandbox_.StatePath(), world_);
    }

    ToolSandbox& Sandbox() { return sandbox_; }
    const ToolSandbox& Sandbox() const { return sandbox_; }
    fs::path Path(const std::string& name) const { return sandbox_.FilePath(name); }
    std::string Printed(std::string_view text) const { return e2e::Printed(sandbox_, text); }
    void Changes(std::string_view from, std::string_view to) { world_.replace(world_.find(from), from.size(), to); }

    using Runner = ToolRun (ToolSandbox::*)(const std::vector<std::string>&) const;
    // A run that ends as every run of the tool does: status 0, and natively
    // nothing on standard error (under Wine that also carries Wine's own
    // messages). The log then holds this run's calls alone.
    ToolRun Run(const std::vector<std::string>& arguments, Runner runner = &ToolSandbox::Run) const {
        fs::remove(sandbox_.LogPath());
        ToolRun run = (sandbox_.*runner)(arguments);
        EXPECT_EQ(run.exitStatus, 0) << run.errors;
        if (!ToolUnderTest::FromEnvironment().windows) {
            EXPECT_EQ(run.errors, "");
        }
        return run;
    }

    void ExpectWorldAsSaid() const {
        EXPECT_EQ(NormalisedWorld(ReadFile(sandbox_.StatePath())), NormalisedWorld(world_))
            << "the simulator's devices";
    }

private:
    ToolSandbox sandbox_;
    std::string world_;
};

// A table row's name, which names its test.
template <class Row>
std::string NameOf(const testing::TestParamInfo<Row>& row) {
    return row.param.name;
}

// A dump whose file cannot be written names the file, so that the user
// looks at the disk rather than the board, and leaves the file as it was.
struct RefusedDump {
    const char* name;
    int device;
    bool ownFileSystem;
    void (*prepare)(const World&, const fs::path& file);
};

void PrintTo(const RefusedDump& row, std::ostream* out) {
    *out << row.name;
}

const RefusedDump kRefusedDumps[] = {
    {"IntoADirectory", 2, false, [](const World&, const fs::path& file) { fs::create_directory(file); }},
    // Left alone for root too, as Windows leaves a file with its read-only
    // attribute (which is what Wine shows for it).
    {"IntoAReadOnlyFile", 0, false,
     [](const World&, const fs::path& file) {
         WriteFile(file, "[Notes]\r\n");
         fs::permissions(file, fs::perms(0444));
     }},
    // Notes far beyond the room left, so that no new copy of the file fits.
    {"OntoAFullDisk", 0, true,
     [](const World& world, const fs::path& file) {
         std::string notes;
         for (int i = 0; i < 20000; ++i) {
             notes += "; note " + std::to_string(i) + " about this board\r\n";
         }
         WriteFile(file, notes);
         world.Sandbox().FillFileSystem(std::size_t{64} << 10);
     }},
};

class DumpRefused : public testing::TestWithParam<RefusedDump> {};

TEST_P(DumpRefused, NamesTheFileAndLeavesItAsItWas) {
    const RefusedDump& row = GetParam();
    if (row.ownFileSystem) {
        ASSERT_EQ(::geteuid(), 0U) << "a file system of the test's own takes root";
    }
    const World world(kTwo, row.ownFileSystem);
    const std::string device = std::to_string(row.device);
    const fs::path file = world.Path("ft232h_eeprom_no" + device + ".ini");
    row.prepare(world, file);
    const fs::file_status before = fs::status(file);
    const std::string content = fs::is_regular_file(before) ? ReadFile(file) : "";

    const ToolRun run = world.Run({"-r", device});
    EXPECT_EQ(run.output,
              world.Printed(std::string(kTwoTable) + "{dir}" + file.filename().string() + " に書き込めません\nNO." +
                            device + " の FT232H の eeprom 読み出しが失敗しました\n"));
    EXPECT_EQ(world.Sandbox().SimulatorCalls(),
              " Open@" + device + " EEPROM_Read@" + device + " EEPROM_Read@" + device + " Close@" + device);
    EXPECT_EQ(fs::status(file).type(), before.type());
    EXPECT_EQ(fs::status(file).permissions(), before.permissions());
    if (fs::is_regular_file(before)) {
        EXPECT_EQ(ReadFile(file), content);
    }
    world.ExpectWorldAsSaid();
}

INSTANTIATE_TEST_SUITE_P(, DumpRefused, testing::ValuesIn(kRefusedDumps), NameOf<RefusedDump>);

// A dump of device 0 into a file of the user's that already holds notes:
// the notes stay, and the file stays the file it was.
class DumpIntoTheUsersFile : public testing::Test {
protected:
    static constexpr const char* kFile = "ft232h_eeprom_no0.ini";

    void DumpDevice0() const {
        EXPECT_EQ(world.Run({"-r", "0"}).output,
                  world.Printed(std::string(kTwoTable) + "NO.0 の FT232H の eeprom を {dir}" + kFile +
                                " に書き出しました\n"));
    }
    void ExpectNotesThenDump(const std::string& name, const std::string& notes) const {
        EXPECT_EQ(ReadFile(world.Path(name)), notes + kDump0) << name;
    }
    void TearDown() override { world.ExpectWorldAsSaid(); }

    World world{kTwo};
};

// As root (sudo) into another user's file: its owner, group and mode stay,
// the mode one that the umask of 022 set here would not give a new file.
TEST_F(DumpIntoTheUsersFile, KeepsItsOwnerGroupAndMode) {
    if (ToolUnderTest::FromEnvironment().windows) {
        GTEST_SKIP() << "Windows has neither Unix owners nor modes, and Wine keeps none of them";
    }
    ASSERT_EQ(::geteuid(), 0U) << "giving a file to another user takes root";
    const passwd& nobody = UserNamed("nobody");
    const fs::path file = world.Path(kFile);
    WriteFile(file, "[Notes]\r\n");
    ASSERT_EQ(::chown(file.c_str(), nobody.pw_uid, nobody.pw_gid), 0);
    fs::permissions(file, fs::perms(0664));
    const mode_t umaskBefore = ::umask(022);
    DumpDevice0();
    ::umask(umaskBefore);
    struct stat status {};
    ASSERT_EQ(::stat(file.c_str(), &status), 0);
    EXPECT_EQ(status.st_uid, nobody.pw_uid);
    EXPECT_EQ(status.st_gid, nobody.pw_gid);
    EXPECT_EQ(status.st_mode & 07777, 0664U);
    ExpectNotesThenDump(kFile, "[Notes]\r\n");
}

// Rewritten in place, so that both names still show the same file.
TEST_F(DumpIntoTheUsersFile, KeepsItsHardLinks) {
    WriteFile(world.Path(kFile), "[Notes]\r\n");
    fs::create_hard_link(world.Path(kFile), world.Path("board_a.ini"));
    DumpDevice0();
    ExpectNotesThenDump(kFile, "[Notes]\r\n");
    EXPECT_EQ(ReadFile(world.Path("board_a.ini")), ReadFile(world.Path(kFile)));
}

// Either settings file may be a symbolic link to a file elsewhere: the dump
// updates that file, and -w reads it (and names device 0's values, which
// the chip cannot hold: every value from SerNumEnable on).
TEST_F(DumpIntoTheUsersFile, FollowsSymbolicLinksOfEitherName) {
    const std::string toWrite = "ft232h_eeprom_to_write_no2.ini";
    fs::create_directory(world.Path("store"));
    WriteFile(world.Path("store/dump.ini"), "[Extra]\r\n");
    fs::create_symlink("store/dump.ini", world.Path(kFile));
    fs::create_symlink("store/dump.ini", world.Path(toWrite));
    DumpDevice0();

    std::string refused(kTwoTable);
    std::istringstream lines{kDump0.substr(kDump0.find("SerNumEnable="))};
    for (std::string line; std::getline(lines, line);) {
        if (!line.starts_with("[")) {
            refused += "{dir}" + toWrite + " の " + line.substr(0, line.size() - 1) + " は不正な値です\n";
        }
    }
    refused += "NO.2 の FT232H の eeprom 書き込みが失敗しました\n";
    EXPECT_EQ(world.Run({"-w", "2"}).output, world.Printed(refused));
    EXPECT_EQ(world.Sandbox().SimulatorCalls(), "");
    ExpectNotesThenDump("store/dump.ini", "[Extra]\r\n");
    EXPECT_TRUE(fs::is_symlink(world.Path(kFile)));
    EXPECT_TRUE(fs::is_symlink(world.Path(toWrite)));
}

// A file to program from that cannot be read at all (a directory by that
// name) is named, and nothing is programmed; the dump's name beside it is
// not read in its place.
TEST(WriteRefused, FromAFileThatCannotBeRead) {
    const World world(kTwo);
    WriteFile(world.Path("ft232h_eeprom_no2.ini"), "[COMMON]\r\ndeviceType=8\r\n");
    fs::create_directory(world.Path("ft232h_eeprom_to_write_no2.ini"));
    EXPECT_EQ(world.Run({"-w", "2"}).output,
              world.Printed(std::string(kTwoTable) + "{dir}ft232h_eeprom_to_write_no2.ini を読み込めません\n"
                                                     "NO.2 の FT232H の eeprom 書き込みが失敗しました\n"));
    EXPECT_EQ(world.Sandbox().SimulatorCalls(), "");
    world.ExpectWorldAsSaid();
}

// A reader that goes away neither stops the command nor changes the status.
TEST(Output, IntoAPipeNobodyReadsTheCommandStillCompletes) {
    World world(kTwo);
    world.Run({"-set", "2"}, &ToolSandbox::RunIntoClosedPipe);
    world.Changes(kFreshRecord, kYm2610Record);
    world.ExpectWorldAsSaid();
}

// What a terminal must receive (its own set; the console's escapes too).
struct TerminalRun {
    const char* name;
    const char* world;
    const char* language;
    std::vector<std::string> arguments;
    const char* shown;
    bool nativeOnly;
};

void PrintTo(const TerminalRun& row, std::ostream* out) {
    *out << row.name;
}

const TerminalRun kTerminalRuns[] = {
    // A device string cannot steer the terminal (under Wine, the Windows
    // console): its control bytes are shown as ?.
    {"ControlBytesOfASerialShowAsQuestionMarks",
     "log 1\ndevice 0\n  type 8\n  serial_hex 46541b5b33316d58\n",
     "",
     {"-chk", "0"},
     "FT?[31mX",
     false},
    // Without Japanese in the terminal's set, each character of a line is
    // one '?': プログラム's ム too, whose second byte (83 80) is the lowest
    // that can follow a lead byte above the ASCII range.
    {"EachJapaneseCharacterIsOneQuestionMarkWithoutJapanese",
     "log 1\ndevice 0\n  in_use 1\n",
     "C",
     {},
     "NO.0 ? FTDI ???????????????????????????????\r",
     true},
};

class OutputOnATerminal : public testing::TestWithParam<TerminalRun> {};

TEST_P(OutputOnATerminal, Shows) {
    const TerminalRun& row = GetParam();
    if (row.nativeOnly && ToolUnderTest::FromEnvironment().windows) {
        GTEST_SKIP() << "a Windows console takes the tool's text as UTF-16 and shows it in its own set";
    }
    World world(row.world);
    world.Sandbox().SetLanguage(row.language);
    const ToolRun run = world.Run(row.arguments, &ToolSandbox::RunOnTerminal);
    EXPECT_NE(run.output.find(row.shown), std::string::npos)
        << "the terminal received " << testing::PrintToString(run.output);
    world.ExpectWorldAsSaid();
}

INSTANTIATE_TEST_SUITE_P(, OutputOnATerminal, testing::ValuesIn(kTerminalRuns), NameOf<TerminalRun>);

}  // namespace
}  // namespace ft232h::e2e
