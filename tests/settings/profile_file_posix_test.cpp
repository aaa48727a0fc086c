// The POSIX settings-file service where no run of the tool reaches: a
// file-system call failing at any point, what that leaves behind, the
// durability of a dump and the mode of a replaced file.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <set>
#include <string>
#include <utility>

#include "eeprom/profile_file.hpp"
#include "eeprom/profile_file_posix_internal.hpp"
#include "eeprom/settings_file.hpp"
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

using testing::ReadBytes;
using testing::TemporaryDirectory;
using testing::WriteBytes;

std::pair<dev_t, ino_t> IdentityOf(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    return {status.st_dev, status.st_ino};
}

// Fails the file-system call numbered `failAt` (from 1) as a broken disk
// would; tests run one at a time, so one counter serves them all.
struct Injection {
    int failAt = 0;
    int calls = 0;
    bool shortWrites = false;
    bool readOnly = false;
};
Injection injection;

bool FailsNow() {
    if (++injection.calls == injection.failAt) {
        errno = EIO;
        return true;
    }
    return false;
}

constexpr ProfileFileCalls kInjectingCalls{
    [](const char* p, int flags, mode_t mode) { return FailsNow() ? -1 : ::open(p, flags, mode); },
    [](int fd, void* buffer, std::size_t size) -> ssize_t { return FailsNow() ? -1 : ::read(fd, buffer, size); },
    // Half of what was asked, as a write to a nearly full disk may.
    [](int fd, const void* buffer, std::size_t size) -> ssize_t {
        return FailsNow() ? -1 : ::write(fd, buffer, injection.shortWrites && size > 1 ? size / 2 : size);
    },
    [](int fd, struct stat* status) { return FailsNow() ? -1 : ::fstat(fd, status); },
    [](const char* p, struct stat* status) { return FailsNow() ? -1 : ::lstat(p, status); },
    [](const char* p, char* resolved) { return FailsNow() ? nullptr : ::realpath(p, resolved); },
    // Root may write anything, so a read-only file is one that says so here.
    [](const char* p, int mode) {
        if (FailsNow() || injection.readOnly) {
            errno = EACCES;
            return -1;
        }
        return ::access(p, mode);
    },
    [](int fd, mode_t mode) { return FailsNow() ? -1 : ::fchmod(fd, mode); },
    [](int fd) { return FailsNow() ? -1 : ::fsync(fd); },
    // A failed close has still released the descriptor, as on Linux.
    [](int fd) { return ::close(fd) != 0 || FailsNow() ? -1 : 0; },
    [](const char* from, const char* to) { return FailsNow() ? -1 : ::rename(from, to); },
    [](const char* p) { return FailsNow() ? -1 : ::unlink(p); },
};

class ProfileFile : public ::testing::Test {
protected:
    void TearDown() override { injection = Injection{}; }

    TemporaryDirectory directory;
    std::string path = directory.File("settings.ini");
};

TEST_F(ProfileFile, AFailedCallAnywhereLeavesTheFileAsItWasAndNoTemporaryFile) {
    // Large enough that a short write leaves most of it for the next one.
    const std::string existing = "; keep me\r\n[A]\r\nk=old\r\n" + std::string(100000, 'x') + "\r\n";
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
            injection = Injection{.shortWrites = shortWrites};
            ASSERT_TRUE(WriteProfileString(kInjectingCalls, path, "A", "k", "new"));
            ASSERT_EQ(ReadProfileString(path, "A", "k", 63), "new");
            const int calls = injection.calls;
            for (int failAt = 1; failAt <= calls; ++failAt) {
                SCOPED_TRACE("call " + std::to_string(failAt));
                reset();
                injection = Injection{.failAt = failAt, .shortWrites = shortWrites};
                EXPECT_FALSE(WriteProfileString(kInjectingCalls, path, "A", "k", "new"));
                EXPECT_EQ(directory.Names(), exists ? std::set<std::string>{"settings.ini"} : std::set<std::string>{});
                if (exists) {
                    EXPECT_EQ(ReadBytes(path), existing);
                }
            }
        }
    }
}

TEST_F(ProfileFile, AReadOnlyFileIsNotReplaced) {
    WriteBytes(path, "[A]\r\nk=old\r\n");
    injection = Injection{.readOnly = true};
    EXPECT_FALSE(WriteProfileString(kInjectingCalls, path, "A", "k", "new"));
    EXPECT_EQ(ReadBytes(path), "[A]\r\nk=old\r\n");
}

TEST_F(ProfileFile, AFailedReadMakesTheValueUnknownNotEmpty) {
    WriteBytes(path, "[A]\r\nk=v\r\n");
    ASSERT_EQ(ReadProfileString(kInjectingCalls, path, "A", "k", 63), "v");
    const int calls = injection.calls;
    for (int failAt = 1; failAt <= calls; ++failAt) {
        injection = Injection{.failAt = failAt};
        EXPECT_EQ(ReadProfileString(kInjectingCalls, path, "A", "k", 63), std::nullopt) << "call " << failAt;
    }
}

TEST_F(ProfileFile, AFileIsNeverReadNorWrittenBeyondTheSizeCap) {
    // Sparse, so the test costs no disk.
    WriteBytes(path, "[A]\r\nk=v\r\n");
    std::filesystem::resize_file(path, kMaximumProfileFileSize + 1);
    EXPECT_EQ(ReadProfileString(path, "A", "k", 63), std::nullopt);
    EXPECT_FALSE(WriteProfileString(path, "A", "k", "w"));
    EXPECT_EQ(std::filesystem::file_size(path), kMaximumProfileFileSize + 1);
    // At the cap a file is read, but a key that would take it over is not written.
    std::filesystem::resize_file(path, kMaximumProfileFileSize);
    EXPECT_FALSE(WriteProfileString(path, "A", "k2", "w"));
    EXPECT_EQ(std::filesystem::file_size(path), kMaximumProfileFileSize);
}

TEST_F(ProfileFile, ADumpEndsWithTheFileAndItsDirectorySynced) {
    testing::FakeD2xx fake;
    synced.clear();
    ASSERT_TRUE(ReadEepromToFile(fake.Binding(), 0, path));
    EXPECT_EQ(synced, (std::set{IdentityOf(path), IdentityOf(directory.Path().string())}));
}

TEST_F(ProfileFile, FlushReportsAnyFailedCall) {
    WriteBytes(path, "[A]\r\n");
    ASSERT_TRUE(FlushProfile(kInjectingCalls, path));
    const int calls = injection.calls;
    for (int failAt = 1; failAt <= calls; ++failAt) {
        injection = Injection{.failAt = failAt};
        EXPECT_FALSE(FlushProfile(kInjectingCalls, path)) << "call " << failAt;
    }
}

TEST_F(ProfileFile, AReplacedFileKeepsItsModeWhateverTheUmaskAndANewOneGetsTheUsualOne) {
    const mode_t mask = ::umask(022);
    WriteBytes(path, "[A]\r\n");
    ::chmod(path.c_str(), 0664);
    const bool replaced = WriteProfileString(path, "A", "k", "v");
    const std::string created = directory.File("created.ini");
    const bool written = WriteProfileString(created, "A", "k", "v");
    ::umask(mask);
    ASSERT_TRUE(replaced && written);
    EXPECT_EQ(std::filesystem::status(path).permissions(), std::filesystem::perms(0664));
    EXPECT_EQ(std::filesystem::status(created).permissions(), std::filesystem::perms(0644));
}

}  // namespace
}  // namespace ft232h
