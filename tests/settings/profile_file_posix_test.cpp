#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "eeprom/profile_file.hpp"
#include "eeprom/profile_file_posix_internal.hpp"
#include "tests/settings/temporary_directory.hpp"

namespace ft232h {
namespace {

using testing::ReadBytes;
using testing::TemporaryDirectory;
using testing::WriteBytes;

constexpr std::size_t kLongest = 63;

class ProfileFile : public ::testing::Test {
protected:
    // Writes `bytes` as the file and reads one key back.
    std::optional<std::string> ReadFrom(std::string_view bytes, std::string_view section, std::string_view key,
                                        std::size_t maximumLength = kLongest) {
        WriteBytes(path, bytes);
        return ReadProfileString(path, section, key, maximumLength);
    }
    // Writes `bytes` as the file, sets one key and gives the file's bytes.
    std::string AfterWrite(std::string_view bytes, std::string_view section, std::string_view key,
                           std::string_view value) {
        WriteBytes(path, bytes);
        EXPECT_TRUE(WriteProfileString(path, section, key, value));
        return ReadBytes(path);
    }

    TemporaryDirectory directory;
    std::string path = directory.File("settings.ini");
};

// --- Reading ---------------------------------------------------------------

TEST_F(ProfileFile, NamesMatchWithoutRegardToCase) {
    EXPECT_EQ(ReadFrom("[desc]\r\nMANUFACTURER=x\r\n", "DESC", "Manufacturer"), "x");
    EXPECT_EQ(ReadFrom("[Common]\r\ndevicetype=8\r\n", "COMMON", "deviceType"), "8");
}

TEST_F(ProfileFile, BlanksAroundNamesAndValuesDoNotCount) {
    EXPECT_EQ(ReadFrom(" \t[ \tDESC\t ] \r\n \t Key \t= \t some value \t\r\n", "DESC", "Key"), "some value");
    EXPECT_EQ(ReadFrom("[DESC]\r\nKey=\r\n", "DESC", "Key"), "");
    EXPECT_EQ(ReadFrom("[DESC]\r\nKey= \t \r\n", "DESC", "Key"), "");
}

TEST_F(ProfileFile, OnePairOfEnclosingQuotesIsRemovedAndBlanksInsideKept) {
    EXPECT_EQ(ReadFrom("[S]\r\nk =  \"  a b  \"  \r\n", "S", "k"), "  a b  ");
    EXPECT_EQ(ReadFrom("[S]\r\nk=\"\"x\"\"\r\n", "S", "k"), "\"x\"");
    EXPECT_EQ(ReadFrom("[S]\r\nk=\"\"\r\n", "S", "k"), "");
    EXPECT_EQ(ReadFrom("[S]\r\nk='single'\r\n", "S", "k"), "single");
    // Not a pair: kept as written.
    EXPECT_EQ(ReadFrom("[S]\r\nk=\"\r\n", "S", "k"), "\"");
    EXPECT_EQ(ReadFrom("[S]\r\nk=\"half\r\n", "S", "k"), "\"half");
    EXPECT_EQ(ReadFrom("[S]\r\nk=\"mixed'\r\n", "S", "k"), "\"mixed'");
    EXPECT_EQ(ReadFrom("[S]\r\nk=a\"b\"\r\n", "S", "k"), "a\"b\"");
}

TEST_F(ProfileFile, FirstOfDuplicatedKeysAndSectionsCounts) {
    const std::string bytes = "[A]\r\nk=first\r\nK=second\r\n[B]\r\nk=other\r\n[a]\r\nk=third\r\nonly=later\r\n";
    EXPECT_EQ(ReadFrom(bytes, "A", "k"), "first");
    EXPECT_EQ(ReadFrom(bytes, "A", "only"), "");
    EXPECT_EQ(ReadFrom(bytes, "B", "k"), "other");
}

TEST_F(ProfileFile, LfAndCrLfReadAlike) {
    EXPECT_EQ(ReadFrom("[A]\nx=1\ny = 2 \n", "A", "y"), "2");
    EXPECT_EQ(ReadFrom("[A]\r\nx=1\r\ny = 2 \r\n", "A", "y"), "2");
    EXPECT_EQ(ReadFrom("[A]\r\nx=1\ny = 2", "A", "y"), "2");
}

TEST_F(ProfileFile, CommentsLinesWithoutEqualsAndKeysBeforeAnySectionAreNotKeys) {
    const std::string bytes = "k=top\r\n[A]\r\n;k=commented\r\n  ; k=indented comment\r\nk\r\n[unclosed\r\nj=1\r\n";
    EXPECT_EQ(ReadFrom(bytes, "A", "k"), "");
    // A line that is not a section line does not end the section.
    EXPECT_EQ(ReadFrom(bytes, "A", "j"), "1");
    EXPECT_EQ(ReadFrom("[A] ; a comment after the bracket\r\nk=v\r\n", "A", "k"), "v");
    // A '[' inside a line starts no section; one after blanks does.
    EXPECT_EQ(ReadFrom("x=[A]\r\nk=v\r\n", "A", "k"), "");
    EXPECT_EQ(ReadFrom("x=[A]\r\n \t[A]\r\nk=v\r\n", "A", "k"), "v");
}

TEST_F(ProfileFile, MissingSectionOrKeyIsEmptyButUnreadableFileIsNothing) {
    EXPECT_EQ(ReadFrom("[A]\r\nk=v\r\n", "B", "k"), "");
    EXPECT_EQ(ReadFrom("[A]\r\nk=v\r\n", "A", "j"), "");
    EXPECT_EQ(ReadFrom("", "A", "k"), "");
    EXPECT_EQ(ReadProfileString(directory.File("missing.ini"), "A", "k", kLongest), std::nullopt);
    EXPECT_EQ(ReadProfileString(directory.Path().string(), "A", "k", kLongest), std::nullopt);
}

TEST_F(ProfileFile, ValueBeyondTheMaximumComesBackCutOneByteLonger) {
    const std::string fits(kLongest, 'x');
    const std::string tooLong(200, 'y');
    EXPECT_EQ(ReadFrom("[A]\r\nk=" + fits + "\r\n", "A", "k"), fits);
    EXPECT_EQ(ReadFrom("[A]\r\nk=\"" + fits + "\"\r\n", "A", "k"), fits);
    EXPECT_EQ(ReadFrom("[A]\r\nk=\"" + tooLong + "\"\r\n", "A", "k"), std::string(kLongest + 1, 'y'));
}

TEST_F(ProfileFile, Utf8ByteOrderMarkIsSkippedAndUtf16FilesAreRefused) {
    EXPECT_EQ(ReadFrom("\xEF\xBB\xBF[A]\r\nk=v\r\n", "A", "k"), "v");
    EXPECT_EQ(AfterWrite("\xEF\xBB\xBF", "A", "k", "v"), "\xEF\xBB\xBF[A]\r\nk=v\r\n");
    const std::string utf16("\xFF\xFE[\0A\0]\0", 8);
    EXPECT_EQ(ReadFrom(utf16, "A", "k"), std::nullopt);
    EXPECT_FALSE(WriteProfileString(path, "A", "k", "v"));
    EXPECT_EQ(ReadBytes(path), utf16);
}

TEST_F(ProfileFile, FileBeyondTheSizeCapIsNeitherReadNorWritten) {
    // Sparse, so the test costs no disk.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "[A]\r\nk=v\r\n", 10), 10);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(kMaximumProfileFileSize) + 1), 0);
    ::close(fd);
    EXPECT_EQ(ReadProfileString(path, "A", "k", kLongest), std::nullopt);
    EXPECT_FALSE(WriteProfileString(path, "A", "k", "w"));
    EXPECT_EQ(std::filesystem::file_size(path), kMaximumProfileFileSize + 1);
}

// --- Writing ---------------------------------------------------------------

TEST_F(ProfileFile, WriteOfAnExistingKeyChangesOnlyItsValue) {
    EXPECT_EQ(AfterWrite("; head\r\n[DESC]\r\n  Key = old  \r\nkey=duplicate\n\n[Other]\nKey=1", "desc", "KEY", "new"),
              "; head\r\n[DESC]\r\n  Key = new\r\nkey=duplicate\n\n[Other]\nKey=1");
    EXPECT_EQ(AfterWrite("[A]\nk=\nz=1\n", "A", "k", "\"quoted\""), "[A]\nk=\"quoted\"\nz=1\n");
    EXPECT_EQ(AfterWrite("[A]\r\nk=old", "A", "k", ""), "[A]\r\nk=");
}

TEST_F(ProfileFile, NewKeyGoesAfterTheLastNonBlankLineOfItsSection) {
    EXPECT_EQ(AfterWrite("[A]\r\nx=1\r\n; about A\r\n\r\n \r\n[B]\r\ny=2\r\n", "a", "z", "3"),
              "[A]\r\nx=1\r\n; about A\r\nz=3\r\n\r\n \r\n[B]\r\ny=2\r\n");
    EXPECT_EQ(AfterWrite("[A]\nx=1\n\n[B]\n", "A", "z", "3"), "[A]\nx=1\nz=3\r\n\n[B]\n");
    EXPECT_EQ(AfterWrite("[A]\n\n[B]\n", "A", "z", "3"), "[A]\nz=3\r\n\n[B]\n");
    EXPECT_EQ(AfterWrite("[A]\nx=1", "A", "z", "3"), "[A]\nx=1\r\nz=3\r\n");
    EXPECT_EQ(AfterWrite("[A]", "A", "z", "3"), "[A]\r\nz=3\r\n");
    // A lone CR ends a line; CRs in a row before an LF are one break.
    EXPECT_EQ(AfterWrite("[A]\rx=1\r\r\n\r[B]\r", "A", "z", "3"), "[A]\rx=1\r\r\nz=3\r\n\r[B]\r");
    // Into the first section of that name, as reading looks only there.
    EXPECT_EQ(AfterWrite("[A]\nx=1\n[B]\n[A]\ny=2\n", "A", "y", "3"), "[A]\nx=1\ny=3\r\n[B]\n[A]\ny=2\n");
    EXPECT_EQ(ReadProfileString(path, "A", "y", kLongest), "3");
}

TEST_F(ProfileFile, NewSectionGoesAtTheEndOfTheFile) {
    EXPECT_EQ(AfterWrite("[A]\nx=1", "B", "y", "2"), "[A]\nx=1\r\n[B]\r\ny=2\r\n");
    EXPECT_EQ(AfterWrite("[A]\r\nx=1\r\n\r\n", "B", "y", "2"), "[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n");
    EXPECT_EQ(AfterWrite("", "B", "y", "2"), "[B]\r\ny=2\r\n");
    const std::string created = directory.File("created.ini");
    EXPECT_TRUE(WriteProfileString(created, "B", "y", "2"));
    EXPECT_EQ(ReadBytes(created), "[B]\r\ny=2\r\n");
}

TEST_F(ProfileFile, WriteKeepsEveryOtherByteOfTheFile) {
    constexpr char kOddLine[] = "stray line\r\n[A]\r\n\x01\xFF\xFE odd=bytes\0inside\r\n";
    const std::string before =
        std::string(kOddLine, sizeof kOddLine - 1) + "[unclosed\r\n  ;comment=1\r\n\tk\t=\tv\t\r\n\r\n[B]\ntail";
    const std::string after = AfterWrite(before, "A", "new", "1");
    const std::size_t insertAt = before.find("\r\n\r\n[B]") + 2;
    EXPECT_EQ(after, before.substr(0, insertAt) + "new=1\r\n" + before.substr(insertAt));
}

TEST_F(ProfileFile, ValueWithALineBreakIsRefusedAndTheFileLeftAlone) {
    const std::string before = "[A]\r\nk=v\r\n";
    WriteBytes(path, before);
    EXPECT_FALSE(WriteProfileString(path, "A", "k", "one\r\ntwo"));
    EXPECT_FALSE(WriteProfileString(path, "A", "k", "one\ntwo"));
    EXPECT_FALSE(WriteProfileString(path, "A", "j", "one\rtwo"));
    EXPECT_FALSE(WriteProfileString(path, "A", "j", std::string_view("nul\0inside", 10)));
    EXPECT_EQ(ReadBytes(path), before);
    EXPECT_FALSE(WriteProfileString(directory.File("new.ini"), "A", "k", "one\ntwo"));
    EXPECT_EQ(directory.Names(), std::set<std::string>{"settings.ini"});
}

TEST_F(ProfileFile, NamesThatWouldNotReadBackAreRefused) {
    EXPECT_FALSE(IsWritableProfileEntry("", "k", "v"));
    EXPECT_FALSE(IsWritableProfileEntry("A]", "k", "v"));
    EXPECT_FALSE(IsWritableProfileEntry(" A", "k", "v"));
    EXPECT_FALSE(IsWritableProfileEntry("A", "", "v"));
    EXPECT_FALSE(IsWritableProfileEntry("A", "k=", "v"));
    EXPECT_FALSE(IsWritableProfileEntry("A", ";k", "v"));
    EXPECT_FALSE(IsWritableProfileEntry("A", "[k", "v"));
    EXPECT_FALSE(IsWritableProfileEntry("A", "k\t", "v"));
    EXPECT_FALSE(IsWritableProfileEntry("A\n", "k", "v"));
    EXPECT_TRUE(IsWritableProfileEntry("A b", "k;[x]", " \"=;[]\" "));
}

TEST_F(ProfileFile, WritesToAPathThatIsNoFileFail) {
    EXPECT_FALSE(WriteProfileString(directory.Path().string(), "A", "k", "v"));
    EXPECT_FALSE(WriteProfileString(directory.File("no/such/dir.ini"), "A", "k", "v"));
}

TEST_F(ProfileFile, ReplacedFileKeepsItsModeAndNewFileGetsTheUsualOne) {
    WriteBytes(path, "[A]\r\n");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    EXPECT_TRUE(WriteProfileString(path, "A", "k", "v"));
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0640u);

    const mode_t mask = ::umask(022);
    const std::string created = directory.File("created.ini");
    EXPECT_TRUE(WriteProfileString(created, "A", "k", "v"));
    ::umask(mask);
    ASSERT_EQ(::stat(created.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0644u);
}

TEST_F(ProfileFile, FlushSucceedsOnAWrittenFileAndFailsOnAMissingOne) {
    EXPECT_TRUE(WriteProfileString(path, "A", "k", "v"));
    EXPECT_TRUE(FlushProfile(path));
    EXPECT_FALSE(FlushProfile(directory.File("missing.ini")));
}

// How long this takes is measured by the benchmark, not here.
TEST_F(ProfileFile, AThirtySevenKeyDumpIntoAHundredThousandLineFileKeepsEveryLine) {
    std::string big;
    for (int line = 0; line < 100000; ++line) {
        if (line % 10 == 0) {
            big += "[Other" + std::to_string(line) + "]\r\n";
        } else {
            big += "SomeKey" + std::to_string(line) + "=\"some value of a usual length\"\r\n";
        }
    }
    WriteBytes(path, big);
    for (int key = 0; key < 37; ++key) {
        ASSERT_TRUE(WriteProfileString(path, key < 4 ? "DESC" : "FT232H", "Key" + std::to_string(key), "123"));
    }
    EXPECT_TRUE(FlushProfile(path));
    EXPECT_EQ(ReadProfileString(path, "FT232H", "Key36", kLongest), "123");
    EXPECT_TRUE(ReadBytes(path).starts_with(big));
}

// --- Failures on the way to the disk ---------------------------------------

// Counts every file-system call and fails the one numbered `failAt` (from 1)
// as a full or broken disk would. Tests run one at a time, so one counter
// serves them all.
struct Injection {
    int failAt = 0;
    int calls = 0;
    int fsyncs = 0;
    int accessResult = 0;
    bool shortWrites = false;
    // Creating a file in this directory fails as in one without write access.
    std::string unwritableDirectory = {};
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
    [](const char* p, int flags, mode_t mode) {
        if (FailsNow()) {
            return -1;
        }
        if ((flags & O_CREAT) != 0 && !injection.unwritableDirectory.empty() &&
            std::filesystem::path(p).parent_path() == injection.unwritableDirectory) {
            errno = EACCES;
            return -1;
        }
        return ::open(p, flags, mode);
    },
    [](int fd, void* buffer, std::size_t size) -> ssize_t { return FailsNow() ? -1 : ::read(fd, buffer, size); },
    [](int fd, const void* buffer, std::size_t size) -> ssize_t {
        if (FailsNow()) {
            return -1;
        }
        // Half of what was asked, as a write to a pipe or a nearly full disk may.
        return ::write(fd, buffer, injection.shortWrites && size > 1 ? size / 2 : size);
    },
    [](int fd, struct stat* status) { return FailsNow() ? -1 : ::fstat(fd, status); },
    [](const char* p, struct stat* status) { return FailsNow() ? -1 : ::lstat(p, status); },
    [](const char* p, char* resolved) { return FailsNow() ? nullptr : ::realpath(p, resolved); },
    [](const char* p, int mode) {
        if (FailsNow()) {
            return -1;
        }
        if (injection.accessResult != 0) {
            errno = EACCES;
            return -1;
        }
        return ::access(p, mode);
    },
    [](int fd, mode_t mode) { return FailsNow() ? -1 : ::fchmod(fd, mode); },
    [](int fd) {
        ++injection.fsyncs;
        return FailsNow() ? -1 : ::fsync(fd);
    },
    // A failed close has still released the descriptor, as on Linux.
    [](int fd) { return ::close(fd) != 0 || FailsNow() ? -1 : 0; },
    [](const char* from, const char* to) { return FailsNow() ? -1 : ::rename(from, to); },
    [](const char* p) { return FailsNow() ? -1 : ::unlink(p); },
};

class ProfileFileFailure : public ProfileFile {
protected:
    void SetUp() override { injection = Injection{}; }
    void TearDown() override { injection = Injection{}; }

    // The calls one successful write of `value` makes.
    int CallsOfOneWrite(std::string_view value, bool shortWrites) {
        const std::string before = ReadBytes(path);
        injection = Injection{.shortWrites = shortWrites};
        EXPECT_TRUE(WriteProfileString(kInjectingCalls, path, "A", "k", value));
        const int calls = injection.calls;
        WriteBytes(path, before);
        return calls;
    }
};

TEST_F(ProfileFileFailure, AFailedCallAnywhereLeavesTheOldFileAndNoTemporaryFile) {
    const std::string before = "; keep me\r\n[A]\r\nk=old\r\n" + std::string(100000, 'x') + "\r\n";
    WriteBytes(path, before);
    for (const bool shortWrites : {false, true}) {
        const int calls = CallsOfOneWrite("new", shortWrites);
        ASSERT_GE(calls, 8);  // open, fstat, read..., close, access, open, fchmod, write..., close, rename
        for (int failAt = 1; failAt <= calls; ++failAt) {
            SCOPED_TRACE("call " + std::to_string(failAt) + (shortWrites ? ", short writes" : ""));
            injection = Injection{.failAt = failAt, .shortWrites = shortWrites};
            EXPECT_FALSE(WriteProfileString(kInjectingCalls, path, "A", "k", "new"));
            EXPECT_EQ(ReadBytes(path), before);
            EXPECT_EQ(directory.Names(), std::set<std::string>{"settings.ini"});
        }
        injection = Injection{.failAt = calls + 1, .shortWrites = shortWrites};
        EXPECT_TRUE(WriteProfileString(kInjectingCalls, path, "A", "k", "new"));
        EXPECT_EQ(ReadProfileString(path, "A", "k", kLongest), "new");
        WriteBytes(path, before);
    }
}

TEST_F(ProfileFileFailure, ABatchReachesTheFileWholeOrNotAtAll) {
    const std::string before = "[A]\r\nk=old\r\n";
    WriteBytes(path, before);
    // The middle entry cannot be written; the others still go in, in one step.
    const std::array<ProfileEntry, 3> entries{{{"A", "k", "new"}, {"A", "bad", "x\ny"}, {"B", "j", "\" two \""}}};
    injection = Injection{};
    EXPECT_FALSE(WriteProfileStrings(kInjectingCalls, path, entries));
    const int calls = injection.calls;
    EXPECT_EQ(ReadBytes(path), "[A]\r\nk=new\r\n[B]\r\nj=\" two \"\r\n");
    for (int failAt = 1; failAt <= calls; ++failAt) {
        WriteBytes(path, before);
        injection = Injection{.failAt = failAt};
        EXPECT_FALSE(WriteProfileStrings(kInjectingCalls, path, entries)) << "call " << failAt;
        EXPECT_EQ(ReadBytes(path), before) << "call " << failAt;
    }
}

TEST_F(ProfileFileFailure, AFailedCallAnywhereCreatesNoFile) {
    const std::string created = directory.File("created.ini");
    injection = Injection{};
    ASSERT_TRUE(WriteProfileString(kInjectingCalls, created, "A", "k", "v"));
    const int calls = injection.calls;
    std::filesystem::remove(created);
    for (int failAt = 1; failAt <= calls; ++failAt) {
        SCOPED_TRACE("call " + std::to_string(failAt));
        injection = Injection{.failAt = failAt};
        EXPECT_FALSE(WriteProfileString(kInjectingCalls, created, "A", "k", "v"));
        EXPECT_TRUE(directory.Names().empty());
    }
}

TEST_F(ProfileFileFailure, AReadOnlyFileIsNotReplaced) {
    const std::string before = "[A]\r\nk=old\r\n";
    WriteBytes(path, before);
    injection = Injection{.accessResult = -1};
    EXPECT_FALSE(WriteProfileString(kInjectingCalls, path, "A", "k", "new"));
    EXPECT_EQ(ReadBytes(path), before);
}

TEST_F(ProfileFileFailure, AFailedReadMakesTheValueUnknownNotEmpty) {
    WriteBytes(path, "[A]\r\nk=v\r\n");
    injection = Injection{};
    ASSERT_EQ(ReadProfileString(kInjectingCalls, path, "A", "k", kLongest), "v");
    const int calls = injection.calls;
    for (int failAt = 1; failAt <= calls; ++failAt) {
        injection = Injection{.failAt = failAt};
        EXPECT_EQ(ReadProfileString(kInjectingCalls, path, "A", "k", kLongest), std::nullopt) << "call " << failAt;
    }
}

TEST_F(ProfileFileFailure, FlushSyncsTheFileAndItsDirectoryAndReportsAnyFailure) {
    WriteBytes(path, "[A]\r\n");
    injection = Injection{};
    EXPECT_TRUE(FlushProfile(kInjectingCalls, path));
    EXPECT_EQ(injection.fsyncs, 2);
    const int calls = injection.calls;
    for (int failAt = 1; failAt <= calls; ++failAt) {
        injection = Injection{.failAt = failAt};
        EXPECT_FALSE(FlushProfile(kInjectingCalls, path)) << "call " << failAt;
    }
}

TEST_F(ProfileFileFailure, WritesDoNotSyncTheFlushDoes) {
    injection = Injection{};
    for (int key = 0; key < 37; ++key) {
        ASSERT_TRUE(WriteProfileString(kInjectingCalls, path, "A", "k" + std::to_string(key), "v"));
    }
    EXPECT_EQ(injection.fsyncs, 0);
}

// --- Symbolic links ----------------------------------------------------------

TEST_F(ProfileFile, AWriteThroughASymbolicLinkReplacesTheFileItLeadsToAndKeepsTheLink) {
    namespace fs = std::filesystem;
    const fs::path real = directory.Path() / "real";
    const fs::path other = directory.Path() / "other";
    fs::create_directories(real);
    fs::create_directories(other);
    const std::string target = (real / "conf.ini").string();
    struct Case {
        const char* name;
        fs::path linkTarget;
        // A link between the settings file and the file, or none.
        fs::path via;
    };
    const std::vector<Case> cases = {
        {"absolute", target, {}},
        {"relative", "real/conf.ini", {}},
        {"chain with a relative hop", "other/hop.ini", "../real/conf.ini"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(path);
        fs::remove(other / "hop.ini");
        WriteBytes(target, "; mine\r\n[A]\rk=old\r");
        if (!c.via.empty()) {
            fs::create_symlink(c.via, other / "hop.ini");
        }
        fs::create_symlink(c.linkTarget, path);
        EXPECT_TRUE(WriteProfileString(path, "A", "k", "new"));
        EXPECT_TRUE(FlushProfile(path));
        EXPECT_TRUE(fs::is_symlink(path));
        EXPECT_EQ(fs::read_symlink(path), c.linkTarget);
        EXPECT_EQ(ReadBytes(target), "; mine\r\n[A]\rk=new\r");
        EXPECT_EQ(directory.Names(), (std::set<std::string>{"other", "real", "settings.ini"}));
    }
}

TEST_F(ProfileFileFailure, ALinkThatLeadsNowhereOrIntoAnUnwritableDirectoryChangesNothing) {
    namespace fs = std::filesystem;
    const fs::path real = directory.Path() / "real";
    fs::create_directories(real);
    const std::string target = (real / "conf.ini").string();
    const std::string before = "[A]\r\nk=old\r\n";
    WriteBytes(target, before);
    struct Case {
        const char* name;
        fs::path linkTarget;
        std::string unwritableDirectory = {};
    };
    const std::vector<Case> cases = {
        {"dangling", "real/missing.ini", {}},
        {"into a missing directory", "nowhere/conf.ini", {}},
        {"in a circle", "settings.ini", {}},
        {"into a directory that cannot be written", "real/conf.ini", real.string()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(path);
        fs::create_symlink(c.linkTarget, path);
        injection = Injection{.unwritableDirectory = c.unwritableDirectory};
        EXPECT_FALSE(WriteProfileString(kInjectingCalls, path, "A", "k", "new"));
        EXPECT_EQ(fs::read_symlink(path), c.linkTarget);
        EXPECT_EQ(ReadBytes(target), before);
        EXPECT_EQ(directory.Names(), (std::set<std::string>{"real", "settings.ini"}));
        EXPECT_EQ(std::distance(fs::directory_iterator(real), fs::directory_iterator()), 1);
    }
}

}  // namespace
}  // namespace ft232h
