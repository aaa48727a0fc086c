// Implementation here must contain only POSIX specific code.
//
// The file-system calls of the settings-file service off Windows, one or two
// system calls each.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <string>

#include "eeprom/settings_service_calls.hpp"

namespace ft232h {

namespace {

// Mode of a file we create; the umask applies on top, as for any new file.
constexpr mode_t kNewFileMode = 0644;
// A fresh name is tried this many times before giving up: a clash needs
// another process writing the same file at the same nanosecond.
constexpr int kTemporaryNameAttempts = 16;
constexpr mode_t kAnyWritePermission = S_IWUSR | S_IWGRP | S_IWOTH;

int Descriptor(FileHandle file) {
    return static_cast<int>(file);
}

// Waits for nothing: a pipe or a device at the path must not hold the tool.
int OpenFlags(int flags) {
    return flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
}

int Open(const std::string& path, int flags, mode_t mode = 0) {
    for (;;) {
        // NOLINTNEXTLINE(cppcoreguidelines-pro-type-vararg): open is variadic
        const int fd = ::open(path.c_str(), OpenFlags(flags), mode);
        if (fd >= 0 || errno != EINTR) {
            return fd;
        }
    }
}

bool Resolve(const std::string& path, std::string& target) {
    // Renaming over a symbolic link would turn it into a file of its own and
    // leave the file it names stale, so the file at the end of the chain is
    // the one replaced, in its own directory.
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
        target = path;
        return errno == ENOENT;
    }
    if (!S_ISLNK(status.st_mode)) {
        target = path;
        return true;
    }
    // A link that leads nowhere, or in a circle, is not followed: a new file
    // in its place is not what its owner set up.
    char* const resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        return false;
    }
    target = resolved;
    std::free(resolved);  // NOLINT(cppcoreguidelines-no-malloc): realpath's own buffer
    return true;
}

FileOpened OpenFile(const std::string& path, FileAccess access, FileHandle& file) {
    const int fd = Open(path, access == FileAccess::kRead ? O_RDONLY : O_RDWR);
    if (fd < 0) {
        return errno == ENOENT ? FileOpened::kMissing : FileOpened::kFailed;
    }
    file = fd;
    return FileOpened::kOpened;
}

bool Describe(FileHandle file, FileFacts& facts) {
    struct stat status {};
    if (::fstat(Descriptor(file), &status) != 0) {
        return false;
    }
    facts.regular = S_ISREG(status.st_mode);
    facts.readOnly = (status.st_mode & kAnyWritePermission) == 0;
    facts.size = status.st_size < 0 ? 0 : static_cast<std::uint64_t>(status.st_size);
    facts.links = status.st_nlink;
    return true;
}

bool FitsOffset(std::uint64_t offset) {
    return offset <= static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());
}

// A call that a signal interrupted is made again.
template <typename Call>
std::ptrdiff_t Retried(Call call) {
    for (;;) {
        const ssize_t count = call();
        if (count >= 0 || errno != EINTR) {
            return count;
        }
    }
}

std::ptrdiff_t ReadAt(FileHandle file, std::uint64_t offset, char* buffer, std::size_t size) {
    const auto at = static_cast<off_t>(offset);
    return FitsOffset(offset) ? Retried([&] { return ::pread(Descriptor(file), buffer, size, at); }) : -1;
}

std::ptrdiff_t WriteAt(FileHandle file, std::uint64_t offset, const char* bytes, std::size_t size) {
    const auto at = static_cast<off_t>(offset);
    return FitsOffset(offset) ? Retried([&] { return ::pwrite(Descriptor(file), bytes, size, at); }) : -1;
}

bool Resize(FileHandle file, std::uint64_t size) {
    return FitsOffset(size) && ::ftruncate(Descriptor(file), static_cast<off_t>(size)) == 0;
}

FileCreated CreateBeside(const std::string& target, std::string& created, FileHandle& file) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        created = TemporaryNameBeside(target, (static_cast<std::uint64_t>(getpid()) << 32) ^
                                                  static_cast<std::uint64_t>(now.tv_sec) * 1000000007u ^
                                                  static_cast<std::uint64_t>(now.tv_nsec) ^
                                                  static_cast<std::uint64_t>(attempt) << 56);
        const int fd = Open(created, O_WRONLY | O_CREAT | O_EXCL, kNewFileMode);
        if (fd >= 0) {
            file = fd;
            return FileCreated::kCreated;
        }
        // EPERM too: a directory made immutable refuses new names with it.
        if (errno == EACCES || errno == EPERM) {
            return FileCreated::kNotPermitted;
        }
        if (errno != EEXIST) {
            return FileCreated::kFailed;
        }
    }
    return FileCreated::kFailed;
}

IdentityKept KeepIdentity(FileHandle created, FileHandle original) {
    struct stat status {};
    if (::fstat(Descriptor(original), &status) != 0) {
        return IdentityKept::kFailed;
    }
    // The owner first: changing it clears the set-user and set-group bits,
    // which the mode then puts back. Only root may give a file away.
    if (::fchown(Descriptor(created), status.st_uid, status.st_gid) != 0) {
        return errno == EPERM ? IdentityKept::kNotPermitted : IdentityKept::kFailed;
    }
    // The umask narrowed the mode at creation; the file's own is what it keeps.
    return ::fchmod(Descriptor(created), status.st_mode & 07777) == 0 ? IdentityKept::kKept : IdentityKept::kFailed;
}

bool Flush(FileHandle file) {
    return ::fsync(Descriptor(file)) == 0;
}

// A failed close has still released the descriptor on Linux and macOS, so
// it is never retried.
bool Close(FileHandle file) {
    return ::close(Descriptor(file)) == 0;
}

bool Replace(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0;
}

std::string DirectoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool SyncName(const std::string& path) {
    const int fd = Open(DirectoryOf(path), O_RDONLY | O_DIRECTORY);
    if (fd < 0) {
        return false;
    }
    const bool synced = ::fsync(fd) == 0;
    return ::close(fd) == 0 && synced;
}

bool Remove(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

constexpr SettingsFileCalls kSystemCalls{
    Resolve,      OpenFile, Describe, ReadAt,  WriteAt,  Resize, CreateBeside,
    KeepIdentity, Flush,    Close,    Replace, SyncName, Remove,
};

}  // namespace

const SettingsFileCalls& SystemSettingsFileCalls() {
    return kSystemCalls;
}

}  // namespace ft232h
