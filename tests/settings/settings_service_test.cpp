// The settings-file service where no run of the tool reaches: a file-system
// call failing at any point and what that leaves behind, an in-place
// rewrite, the system calls that make a write durable, the new file's name,
// and section lines the tool's own files never hold.
#include "eeprom/settings_service.hpp"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "d2xx/d2xx_binding.hpp"
#include "eeprom/erase_init.hpp"
#include "eeprom/settings_file.hpp"
#include "eeprom/settings_service_calls.hpp"
#include "eeprom/settings_text.hpp"
#include "sim/sim_in_process.hpp"
#include "sim/sim_state.hpp"
#include "tests/settings/recorded_calls.hpp"
#include "tests/settings/temporary_directory.hpp"

// Every file and directory this process syncs, as its device and inode. The
// service calls fsync directly, so this definition takes its place.
std::set<std::pair<dev_t, ino_t>> synced;

extern "C" int fsync(int fd) {
    struct stat status {};
    if (::fstat(fd, &status) == 0) {
        synced.emplace(status.st_dev, status.st_ino);
    }
    static const auto kReal = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fsync"));
    return kReal(fd);
}

namespace ft232h {
namespace {

// The recorded calls, the scratch directory and its file helpers.
using namespace testing;  // NOLINT(google-build-using-namespace)

std::pair<dev_t, ino_t> IdentityOf(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    return {status.st_dev, status.st_ino};
}

class SettingsService : public ::testing::Test {
protected:
    // Whatever a test's last write or read did, it left no file open.
    void TearDown() override {
        int open = 0;
        for (const RecordedCall& call : script.calls) {
            const bool opened = (call.kind == CallKind::kOpen || call.kind == CallKind::kCreate) && call.file != -1;
            open += opened ? 1 : call.kind == CallKind::kClose ? -1 : 0;
        }
        EXPECT_EQ(open, 0) << "files left open";
        Rescript();
    }

    SettingsWrite Write(std::string_view value, const SettingsFileCalls& calls = RecordedCalls(),
                        std::string_view key = "k") {
        const SettingsEntry entry{"A", key, value};
        return WriteSettings(path, std::span(&entry, 1), calls);
    }
    // The value of A.k, or nullopt when the file does not read.
    std::optional<std::string> Read(const SettingsFileCalls& calls = RecordedCalls()) {
        const SettingsKey wanted{"A", "k"};
        SettingsRead read = ReadSettings(path, std::span(&wanted, 1), 63, calls);
        return read.file == SettingsFileRead::kRead ? std::optional(read.values.front().text) : std::nullopt;
    }

    TemporaryDirectory directory;
    std::string path = directory.File("settings.ini");
};

TEST_F(SettingsService, AFailedCallAnywhereLeavesTheFileAsItWasAndNoTemporaryFile) {
    // Large enough that a short write leaves most of it for the next one.
    const std::string existing = "; keep me\r\n[A]\r\nk=old\r\n" + std::string(100000, 'x') + "\r\n";
    const std::string written = "; keep me\r\n[A]\r\nk=new\r\n" + std::string(100000, 'x') + "\r\n";
    for (const bool exists : {true, false}) {
        for (const bool shortWrites : {false, true}) {
            SCOPED_TRACE(std::string(exists ? "existing file" : "new file") + (shortWrites ? ", short writes" : ""));
            const auto reset = [&] {
                std::filesystem::remove(path);
                if (exists) {
                    WriteBytes(path, existing);
                }
            };
            reset();
            Rescript(0, shortWrites);
            ASSERT_EQ(Write("new"), SettingsWrite::kWritten);
            // Only after the name is made durable does a write count as done.
            ASSERT_EQ(script.calls.back().kind, CallKind::kSyncName);
            // Among them the new file's creation: a refusal other than the
            // folder's (no room, a broken disk) rewrites nothing in place.
            const std::size_t calls = script.calls.size();
            for (std::size_t failAt = 1; failAt <= calls; ++failAt) {
                reset();
                Rescript(failAt, shortWrites);
                EXPECT_EQ(Write("new"), SettingsWrite::kFileFailed) << "call " << failAt;
                // Only when the rename is made but cannot be made durable is
                // the new content there, and reported as a failure.
                const bool renamed = failAt == calls;
                EXPECT_EQ(directory.Names(),
                          exists || renamed ? std::set<std::string>{"settings.ini"} : std::set<std::string>{})
                    << "call " << failAt;
                if (exists) {
                    EXPECT_EQ(ReadBytes(path), renamed ? written : existing) << "call " << failAt;
                }
            }
        }
    }
}

// Where the new file cannot be given the old one's owner, or cannot be made
// beside it at all (a folder the user may not write), the file is rewritten
// in place: the same bytes a replacement gives, in the same file, so every
// name, the owner and the mode stay. With no file there, there is nothing to
// rewrite. A new file gets the usual mode whatever the umask.
TEST_F(SettingsService, AFileThatCannotBeReplacedIsRewrittenInPlace) {
    const mode_t mask = ::umask(022);
    const std::string existing = "[A]\r\nk=old\r\n; tail\r\n";
    WriteBytes(path, existing);
    ASSERT_EQ(Write("v"), SettingsWrite::kWritten);
    const std::string replaced = ReadBytes(path);
    ASSERT_EQ(replaced, "[A]\r\nk=v\r\n; tail\r\n");
    const std::pair<std::optional<IdentityKept>, std::optional<FileCreated>> refusals[] = {
        {IdentityKept::kNotPermitted, std::nullopt}, {std::nullopt, FileCreated::kNotPermitted}};
    for (const auto& [identity, created] : refusals) {
        SCOPED_TRACE(identity ? "owner refused" : "folder refused");
        WriteBytes(path, existing);
        ::chmod(path.c_str(), 0664);
        const std::pair<dev_t, ino_t> before = IdentityOf(path);
        Rescript(0, false, identity, created);
        EXPECT_EQ(Write("v"), SettingsWrite::kWritten);
        EXPECT_EQ(ReadBytes(path), replaced);
        EXPECT_EQ(IdentityOf(path), before);
        EXPECT_EQ(std::filesystem::status(path).permissions(), std::filesystem::perms(0664));
        EXPECT_EQ(directory.Names(), std::set<std::string>{"settings.ini"});
    }
    std::filesystem::remove(path);
    Rescript(0, false, std::nullopt, FileCreated::kNotPermitted);
    EXPECT_EQ(Write("v"), SettingsWrite::kFileFailed);
    EXPECT_EQ(directory.Names(), std::set<std::string>{});
    Rescript();
    EXPECT_EQ(Write("v"), SettingsWrite::kWritten);
    ::umask(mask);
    EXPECT_EQ(std::filesystem::status(path).permissions(), std::filesystem::perms(0644));
}

// In place, a disk that fills up part-way gets the old bytes back.
TEST_F(SettingsService, AnInPlaceRewriteThatFailsPutsTheOldBytesBack) {
    const std::string existing = "[A]\r\nk=old\r\n" + std::string(100000, 'x') + "\r\n";
    const std::string other = directory.File("other.ini");
    const auto prepare = [&] {
        WriteBytes(path, existing);
        std::filesystem::remove(other);
        ASSERT_EQ(::link(path.c_str(), other.c_str()), 0);
    };
    prepare();
    Rescript(0, true);
    ASSERT_EQ(Write("much longer than before"), SettingsWrite::kWritten);
    const std::size_t calls = script.calls.size();
    for (std::size_t failAt = 1; failAt <= calls; ++failAt) {
        prepare();
        Rescript(failAt, true);
        EXPECT_EQ(Write("much longer than before"), SettingsWrite::kFileFailed) << "call " << failAt;
        // A close that fails comes after the new bytes are on the disk.
        if (script.calls.at(failAt - 1).kind != CallKind::kClose) {
            EXPECT_EQ(ReadBytes(other), existing) << "call " << failAt;
        }
    }
}

TEST_F(SettingsService, AnEntryAUtf16FileCannotHoldLeavesTheFileAsItWas) {
    const std::string utf16("\xFF\xFE[\0A\0]\0\r\0\n\0", 12);
    WriteBytes(path, utf16);
    // A lead byte without its second is no text in code page 932.
    EXPECT_EQ(Write("\x83"), SettingsWrite::kRefused);
    EXPECT_EQ(ReadBytes(path), utf16);
}

TEST_F(SettingsService, AFailedReadMakesTheValueUnknownNotEmpty) {
    WriteBytes(path, "[A]\r\nk=v\r\n");
    ASSERT_EQ(Read(), "v");
    const std::size_t calls = script.calls.size();
    for (std::size_t failAt = 1; failAt <= calls; ++failAt) {
        Rescript(failAt);
        EXPECT_EQ(Read(), std::nullopt) << "call " << failAt;
    }
}

TEST_F(SettingsService, AFileIsNeverReadNorWrittenBeyondTheSizeCap) {
    // Sparse, so the test costs no disk.
    WriteBytes(path, "[A]\r\nk=v\r\n");
    std::filesystem::resize_file(path, kMaximumSettingsFileSize + 1);
    EXPECT_EQ(Read(SystemSettingsFileCalls()), std::nullopt);
    EXPECT_EQ(Write("w", SystemSettingsFileCalls()), SettingsWrite::kFileFailed);
    EXPECT_EQ(std::filesystem::file_size(path), kMaximumSettingsFileSize + 1);
    // At the cap a file is read, but a key that would take it over is not written.
    std::filesystem::resize_file(path, kMaximumSettingsFileSize);
    EXPECT_EQ(Read(SystemSettingsFileCalls()), "v");
    EXPECT_EQ(Write("w", SystemSettingsFileCalls(), "k2"), SettingsWrite::kFileFailed);
    EXPECT_EQ(std::filesystem::file_size(path), kMaximumSettingsFileSize);
    // A file that grows past the cap after it was looked at is refused as
    // well, not cut at the cap.
    std::filesystem::resize_file(path, kMaximumSettingsFileSize + 1);
    SettingsFileCalls grown = SystemSettingsFileCalls();
    grown.describe = [](FileHandle file, FileFacts& facts) {
        const bool described = SystemSettingsFileCalls().describe(file, facts);
        facts.size = 10;
        return described;
    };
    EXPECT_EQ(Read(grown), std::nullopt);
}

// The order of the calls is the crash test's to judge; this is that the
// system's calls really sync what they say.
TEST_F(SettingsService, ADumpEndsWithTheFileAndItsDirectorySynced) {
    // The simulated library's world lies in a directory of its own, so that
    // only the dump's own syncs are seen.
    const TemporaryDirectory world;
    sim::SimState state;
    sim::SimDevice& device = state.devices.emplace_back();
    device.type = kDeviceTypeFt232h;
    device.eeprom.programmed = true;
    device.eeprom.record = sim::ToRecordBytes(DefaultEepromRecord());
    const std::string statePath = world.File("state.txt");
    std::string error;
    ASSERT_TRUE(sim::SaveStateFile(statePath, state, error)) << error;
    ASSERT_EQ(setenv(sim::kStateEnvironmentVariable, statePath.c_str(), 1), 0);
    const D2xxBinding d2xx(sim::InProcessLibrary());
    SettingsFileReport report;
    synced.clear();
    ASSERT_TRUE(ReadEepromToFile(d2xx, 0, path, report));
    EXPECT_EQ(synced, (std::set{IdentityOf(path), IdentityOf(directory.Path().string())}));
}

// The digits are splitmix64's output for the seed, so that seeds differing
// in any one bit (another process, clock or attempt) give names differing
// all over. The generator's reference implementation, started from 0, gives
// these as its first three outputs.
TEST(TemporaryNameBeside, IsTheTargetThenTheSeedThroughSplitmix64InHexadecimal) {
    const std::pair<std::uint64_t, std::string> cases[] = {
        {1, "/d/s.ini.e220a8397b1dcdaf.tmp"},
        {2, "/d/s.ini.6e789e6aa1b965f4.tmp"},
        {3, "/d/s.ini.06c45d188009454f.tmp"},
    };
    for (const auto& [seed, name] : cases) {
        EXPECT_EQ(TemporaryNameBeside("/d/s.ini", seed), name);
    }
}

// Blanks before a section line's '[' do not hide it, as on Windows, also
// below other lines, whichever way those lines end.
TEST(SettingsText, ReadsASectionWhoseBracketFollowsBlanksBelowOtherLines) {
    const SettingsKey wanted{"COMMON", "k"};
    for (const std::string lineEnd : {"\r\n", "\n", "\r"}) {
        const std::string bytes = "[OTHER]" + lineEnd + "x=1" + lineEnd + " \t[COMMON]" + lineEnd + "k=v" + lineEnd;
        EXPECT_EQ(SettingsTextValues(bytes, std::span(&wanted, 1), 63), std::vector<std::string>{"v"})
            << ::testing::PrintToString(lineEnd);
    }
}

}  // namespace
}  // namespace ft232h
