// The settings-file service where no run of the tool reaches: a file-system
// call failing at any point and what that leaves behind, what a replaced file
// keeps of itself, and the system calls that make a write durable.
#include "eeprom/profile_file.hpp"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <utility>

#include "eeprom/profile_file_calls.hpp"
#include "eeprom/profile_text.hpp"
#include "eeprom/settings_file.hpp"
#include "tests/settings/recorded_calls.hpp"
#include "tests/settings/temporary_directory.hpp"
#include "tests/support/fake_d2xx.hpp"

// Every file and directory this process syncs, as its device and inode. The
// service calls fsync directly, so this definition takes its place.
std::set<std::pair<dev_t, ino_t>> synced;

extern "C" int fsync(int fd) {
    struct stat status {};
    if (::fstat(fd, &status) == 0) {
        synced.emplace(status.st_dev, status.st_ino);
    }
    static const auto real = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fsync"));
    return real(fd);
}

namespace ft232h {
namespace {

using testing::CallKind;
using testing::ReadBytes;
using testing::RecordedCalls;
using testing::Rescript;
using testing::script;
using testing::TemporaryDirectory;
using testing::WriteBytes;

struct stat StatusOf(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    return status;
}

std::pair<dev_t, ino_t> IdentityOf(const std::string& path) {
    const struct stat status = StatusOf(path);
    return {status.st_dev, status.st_ino};
}

class ProfileFile : public ::testing::Test {
protected:
    void TearDown() override { Rescript(); }

    ProfileWrite Write(std::string_view value) { return WriteProfileString(RecordedCalls(), path, "A", "k", value); }

    TemporaryDirectory directory;
    std::string path = directory.File("settings.ini");
};

TEST_F(ProfileFile, AFailedCallAnywhereLeavesTheFileAsItWasAndNoTemporaryFile) {
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
            ASSERT_EQ(Write("new"), ProfileWrite::kWritten);
            ASSERT_EQ(ReadProfileString(path, "A", "k", 63), "new");
            const std::size_t calls = script.calls.size();
            for (std::size_t failAt = 1; failAt <= calls; ++failAt) {
                reset();
                Rescript(failAt, shortWrites);
                EXPECT_EQ(Write("new"), ProfileWrite::kFileFailed);
                const CallKind failed = script.calls.at(failAt - 1).kind;
                SCOPED_TRACE("call " + std::to_string(failAt) + " of kind " + std::to_string(static_cast<int>(failed)));
                const bool renamed = failed == CallKind::kSyncName;
                EXPECT_EQ(directory.Names(),
                          exists || renamed ? std::set<std::string>{"settings.ini"} : std::set<std::string>{})
                    << "call " << failAt;
                // Only when the rename is made but cannot be made durable is
                // the new content there, and reported as a failure.
                if (exists) {
                    EXPECT_EQ(ReadBytes(path), renamed ? written : existing) << "call " << failAt;
                }
            }
            // The directory's sync is the last call, and only after it does a
            // write count as done.
            EXPECT_EQ(script.calls.back().kind, CallKind::kSyncName);
        }
    }
}

TEST_F(ProfileFile, AnEntryThatCannotBeWrittenKeepsTheOthersOutAndTouchesNothing) {
    WriteBytes(path, "[A]\r\nk=old\r\n");
    const ProfileEntry entries[] = {{"A", "k", "new"}, {"A", "j", "two\r\nlines"}};
    EXPECT_EQ(WriteProfileStrings(RecordedCalls(), path, entries), ProfileWrite::kRefused);
    EXPECT_EQ(ReadBytes(path), "[A]\r\nk=old\r\n");
    EXPECT_TRUE(script.calls.empty());
}

TEST_F(ProfileFile, AFileWithoutAnyWritePermissionIsReadOnlyForRootToo) {
    WriteBytes(path, "[A]\r\nk=old\r\n");
    ::chmod(path.c_str(), 0444);
    EXPECT_EQ(Write("new"), ProfileWrite::kFileFailed);
    EXPECT_EQ(ReadBytes(path), "[A]\r\nk=old\r\n");
    // One write bit for anyone is enough for root, as for Windows' attribute.
    ::chmod(path.c_str(), 0440 | (::geteuid() == 0 ? S_IWOTH : S_IWUSR));
    EXPECT_EQ(Write("new"), ProfileWrite::kWritten);
}

TEST_F(ProfileFile, AReplacedFileKeepsItsModeWhateverTheUmaskAndANewOneGetsTheUsualOne) {
    const mode_t mask = ::umask(022);
    WriteBytes(path, "[A]\r\n");
    ::chmod(path.c_str(), 0664);
    const ProfileWrite replaced = WriteProfileString(path, "A", "k", "v");
    const std::string created = directory.File("created.ini");
    const ProfileWrite written = WriteProfileString(created, "A", "k", "v");
    ::umask(mask);
    ASSERT_EQ(replaced, ProfileWrite::kWritten);
    ASSERT_EQ(written, ProfileWrite::kWritten);
    EXPECT_EQ(std::filesystem::status(path).permissions(), std::filesystem::perms(0664));
    EXPECT_EQ(std::filesystem::status(created).permissions(), std::filesystem::perms(0644));
}

// Root may give a file away, so the replacement keeps the owner; a user
// who may not is answered with an in-place rewrite, which keeps it too.
TEST_F(ProfileFile, AFileKeepsItsOwnerAndGroup) {
    WriteBytes(path, "[A]\r\nk=old\r\n");
    const passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(path.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    }
    const struct stat before = StatusOf(path);
    ASSERT_EQ(Write("new"), ProfileWrite::kWritten);
    struct stat after = StatusOf(path);
    EXPECT_EQ(std::pair(after.st_uid, after.st_gid), std::pair(before.st_uid, before.st_gid));
    EXPECT_NE(after.st_ino, before.st_ino) << "not replaced";

    Rescript(0, false, IdentityKept::kNotPermitted);
    ASSERT_EQ(Write("newer"), ProfileWrite::kWritten);
    EXPECT_EQ(ReadBytes(path), "[A]\r\nk=newer\r\n");
    EXPECT_EQ(StatusOf(path).st_ino, after.st_ino) << "not rewritten in place";
    EXPECT_EQ(directory.Names(), std::set<std::string>{"settings.ini"});
}

TEST_F(ProfileFile, AFileWithOtherNamesIsRewrittenInPlaceUnderAllOfThem) {
    const std::string other = directory.File("other.ini");
    for (const std::string& value : {std::string("longer value"), std::string("v")}) {
        WriteBytes(path, "[A]\r\nk=old\r\n; tail\r\n");
        std::filesystem::remove(other);
        ASSERT_EQ(::link(path.c_str(), other.c_str()), 0);
        ASSERT_EQ(Write(value), ProfileWrite::kWritten);
        EXPECT_EQ(ReadBytes(other), "[A]\r\nk=" + value + "\r\n; tail\r\n");
        EXPECT_EQ(IdentityOf(path), IdentityOf(other));
        std::filesystem::remove(path);
    }
}

// In place, a disk that fills up part-way gets the old bytes back.
TEST_F(ProfileFile, AnInPlaceRewriteThatFailsPutsTheOldBytesBack) {
    const std::string existing = "[A]\r\nk=old\r\n" + std::string(100000, 'x') + "\r\n";
    const std::string other = directory.File("other.ini");
    const auto prepare = [&] {
        WriteBytes(path, existing);
        std::filesystem::remove(other);
        ASSERT_EQ(::link(path.c_str(), other.c_str()), 0);
    };
    prepare();
    Rescript(0, true);
    ASSERT_EQ(Write("much longer than before"), ProfileWrite::kWritten);
    const std::size_t calls = script.calls.size();
    for (std::size_t failAt = 1; failAt <= calls; ++failAt) {
        prepare();
        Rescript(failAt, true);
        EXPECT_EQ(Write("much longer than before"), ProfileWrite::kFileFailed) << "call " << failAt;
        // A close that fails comes after the new bytes are on the disk.
        if (script.calls.at(failAt - 1).kind != CallKind::kClose) {
            EXPECT_EQ(ReadBytes(other), existing) << "call " << failAt;
        }
    }
}

TEST_F(ProfileFile, AFailedReadMakesTheValueUnknownNotEmpty) {
    WriteBytes(path, "[A]\r\nk=v\r\n");
    ASSERT_EQ(ReadProfileString(RecordedCalls(), path, "A", "k", 63), "v");
    const std::size_t calls = script.calls.size();
    for (std::size_t failAt = 1; failAt <= calls; ++failAt) {
        Rescript(failAt);
        EXPECT_EQ(ReadProfileString(RecordedCalls(), path, "A", "k", 63), std::nullopt) << "call " << failAt;
    }
}

TEST_F(ProfileFile, AFileIsNeverReadNorWrittenBeyondTheSizeCap) {
    // Sparse, so the test costs no disk.
    WriteBytes(path, "[A]\r\nk=v\r\n");
    std::filesystem::resize_file(path, kMaximumProfileFileSize + 1);
    EXPECT_EQ(ReadProfileString(path, "A", "k", 63), std::nullopt);
    EXPECT_EQ(WriteProfileString(path, "A", "k", "w"), ProfileWrite::kFileFailed);
    EXPECT_EQ(std::filesystem::file_size(path), kMaximumProfileFileSize + 1);
    // At the cap a file is read, but a key that would take it over is not written.
    std::filesystem::resize_file(path, kMaximumProfileFileSize);
    EXPECT_EQ(WriteProfileString(path, "A", "k2", "w"), ProfileWrite::kFileFailed);
    EXPECT_EQ(std::filesystem::file_size(path), kMaximumProfileFileSize);
}

// The order of the calls is the crash test's to judge; this is that the
// system's calls really sync what they say.
TEST_F(ProfileFile, ADumpEndsWithTheFileAndItsDirectorySynced) {
    testing::FakeD2xx fake;
    SettingsFileReport report;
    synced.clear();
    ASSERT_TRUE(ReadEepromToFile(fake.Binding(), 0, path, report));
    EXPECT_EQ(synced, (std::set{IdentityOf(path), IdentityOf(directory.Path().string())}));
}

}  // namespace
}  // namespace ft232h
