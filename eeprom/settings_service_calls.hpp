// The file-system calls of the settings-file service: one small set per
// platform, passed in, so that a test can record every call a write makes,
// make any one of them fail, and replay what a power cut at any point would
// leave on the disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ft232h {

// A file the calls opened: a descriptor, or a HANDLE on Windows.
using FileHandle = std::intptr_t;

enum class FileAccess { kRead, kReadWrite };

enum class FileOpened { kOpened, kMissing, kFailed };

// What the service needs to know about an open file.
struct FileFacts {
    // A plain file: no directory, device or pipe.
    bool regular = false;
    // Nobody may write it: no write permission bit at all, or Windows'
    // read-only attribute. Root, who may write anything, is held to it too.
    bool readOnly = false;
    std::uint64_t size = 0;
    // The names (hard links) the file has.
    std::uint64_t links = 1;
};

enum class FileCreated { kCreated, kNotPermitted, kFailed };

enum class IdentityKept { kKept, kNotPermitted, kFailed };

// Each call does one thing and reports failure as false (or -1); paths are
// the service's own (bytes on POSIX, UTF-8 on Windows).
struct SettingsFileCalls {
    // The file that a write through `path` changes: the file a symbolic link
    // there leads to, through any chain of links; `path` itself otherwise,
    // also when nothing is there. False when a link leads nowhere.
    bool (*resolve)(const std::string& path, std::string& target);
    // An existing file; kMissing when nothing is at `path`. Reading never
    // waits, whatever the file is.
    FileOpened (*open)(const std::string& path, FileAccess access, FileHandle& file);
    bool (*describe)(FileHandle file, FileFacts& facts);
    // Bytes read from `offset` on, 0 at the end of the file, -1 on failure.
    std::ptrdiff_t (*readAt)(FileHandle file, std::uint64_t offset, char* buffer, std::size_t size);
    // Bytes written at `offset`, which may be fewer than asked (0 when the
    // disk has no room left), -1 on failure.
    std::ptrdiff_t (*writeAt)(FileHandle file, std::uint64_t offset, const char* bytes, std::size_t size);
    // Makes the file `size` bytes long.
    bool (*resize)(FileHandle file, std::uint64_t size);
    // A new, empty file with a fresh name in the directory of `target`,
    // open for writing, readable by others as a new file is. kNotPermitted
    // when the directory does not let us add a name to it; kFailed for any
    // other refusal (no room, a broken disk).
    FileCreated (*createBeside)(const std::string& target, std::string& created, FileHandle& file);
    // Gives `created` what `original` is: its owner, group and permissions.
    // kNotPermitted when the system does not let us give it that owner.
    IdentityKept (*keepIdentity)(FileHandle created, FileHandle original);
    // The file's data and its own metadata on the disk.
    bool (*flush)(FileHandle file);
    bool (*close)(FileHandle file);
    // Renames `from` over `to`, in one directory, in one step.
    bool (*replace)(const std::string& from, const std::string& to);
    // Makes the name `path`, as the last replace left it, durable, so that
    // the replace survives a power cut: the directory's entries on POSIX;
    // on Windows, NTFS's log, through the file now under the name.
    bool (*syncName)(const std::string& path);
    bool (*remove)(const std::string& path);
};

// The system's own calls, which the service uses unless given others.
const SettingsFileCalls& SystemSettingsFileCalls();

// A name beside `target` for a new file that no other writer picks at the
// same time: `target`, a dot, 16 hexadecimal digits spread from `seed` (a
// process id and a clock, mixed) and ".tmp".
inline std::string TemporaryNameBeside(const std::string& target, std::uint64_t seed) {
    // splitmix64's finaliser spreads every bit of the seed over the whole name.
    std::uint64_t mixed = seed * 0x9E3779B97F4A7C15u;
    mixed = (mixed ^ (mixed >> 30)) * 0xBF58476D1CE4E5B9u;
    mixed = (mixed ^ (mixed >> 27)) * 0x94D049BB133111EBu;
    mixed ^= mixed >> 31;
    constexpr std::string_view kDigits = "0123456789abcdef";
    std::string name = target;
    name += '.';
    for (int shift = 60; shift >= 0; shift -= 4) {
        name += kDigits[(mixed >> shift) & 0xF];
    }
    name += ".tmp";
    return name;
}

}  // namespace ft232h
