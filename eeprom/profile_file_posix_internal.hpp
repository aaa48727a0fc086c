// The POSIX settings-file service with its file-system calls passed in, so a
// test can make any one of them fail and see what is left on disk.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "eeprom/profile_file.hpp"

namespace ft232h {

// Every file-system call the service makes that touches a file, with the
// POSIX signatures. A replacement reports failure as the real call does: -1
// with errno set.
struct ProfileFileCalls {
    int (*open)(const char* path, int flags, mode_t mode);
    ssize_t (*read)(int fd, void* buffer, std::size_t size);
    ssize_t (*write)(int fd, const void* buffer, std::size_t size);
    int (*fstat)(int fd, struct stat* status);
    int (*lstat)(const char* path, struct stat* status);
    // With a null `resolved`, as used here, the result is the caller's to free.
    char* (*realpath)(const char* path, char* resolved);
    int (*access)(const char* path, int mode);
    int (*fchmod)(int fd, mode_t mode);
    int (*fsync)(int fd);
    int (*close)(int fd);
    int (*rename)(const char* from, const char* to);
    int (*unlink)(const char* path);
};

// The real calls, as the functions of profile_file.hpp use them.
const ProfileFileCalls& SystemProfileFileCalls();

// Settings files are a few kilobytes; anything beyond this is not one, and
// holding it whole in memory (twice, while rewriting) would be unreasonable.
// Larger files are neither read nor written, and no write makes a file grow
// past it.
inline constexpr std::size_t kMaximumProfileFileSize = std::size_t{64} << 20;

// The functions of profile_file.hpp, making their calls through `calls`.
bool WriteProfileStrings(const ProfileFileCalls& calls, const std::string& path, std::span<const ProfileEntry> entries);
bool WriteProfileString(const ProfileFileCalls& calls, const std::string& path, std::string_view section,
                        std::string_view key, std::string_view value);
bool FlushProfile(const ProfileFileCalls& calls, const std::string& path);
std::optional<std::vector<std::string>> ReadProfileStrings(const ProfileFileCalls& calls, const std::string& path,
                                                           std::span<const ProfileKey> keys, std::size_t maximumLength);
std::optional<std::string> ReadProfileString(const ProfileFileCalls& calls, const std::string& path,
                                             std::string_view section, std::string_view key, std::size_t maximumLength);

}  // namespace ft232h
