// The settings-file service: "initialization file" sections and key=value
// lines, read and written key by key. On Windows it is the system's own
// profile API; elsewhere our implementation behaves as that API does on what
// a user can meet, so one settings file works on both.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ft232h {

// Paths are full paths: given a bare file name, the Windows API would look in
// the Windows directory rather than the current one.

// The bytes that Windows takes for blanks around names and values: space,
// tab, vertical tab, form feed and the old end-of-file mark ^Z (0x1A).
constexpr bool IsProfileBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1A';
}

// True when the entry can be written and read back unchanged: a non-empty
// section without ']', a non-empty key without '=' that does not start like
// a comment or a section line, names without blanks (IsProfileBlank) at
// either end, and none of the three holding CR, LF or NUL (a line-based file
// of C strings cannot carry them). The value's own blanks are kept only when
// it is quoted.
bool IsWritableProfileEntry(std::string_view section, std::string_view key, std::string_view value);

// Sets `key` in `section` of the file at `path` to `value` exactly as given,
// creating the file and the section when missing. A new key goes after the
// last non-blank line of its section, a new section at the end of the file;
// every other line of the file is kept as it was. A symbolic link at `path`
// stays, and the file it leads to gets the change. False, with the file left
// as it was, when the file could not be written, a link at `path` leads
// nowhere, or the entry is not writable (IsWritableProfileEntry).
bool WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value);

struct ProfileEntry {
    std::string_view section;
    std::string_view key;
    std::string_view value;
};

// Sets each entry in turn as WriteProfileString does. An entry that is not
// writable is left out and the others still go in. Our own service puts
// them all into the file in one replacement, so the file holds either all
// of them or none, and a large file is rewritten once rather than once per
// key. True only when every entry was written.
bool WriteProfileStrings(const std::string& path, std::span<const ProfileEntry> entries);

// Makes the writes done so far complete and durable before returning.
// False when that could not be ensured.
bool FlushProfile(const std::string& path);

// The value of `key` in `section`: lines end at CR LF, LF or a lone CR, a
// NUL ends a line's text, names match without regard to case, blanks around
// the value are dropped and one pair of enclosing quotes (double or single,
// as Windows does) is removed. Empty when the section or the key is missing,
// or the key has no value (the first of duplicated sections and keys counts,
// a line holding only the key's name among them). A value longer than `maximumLength` bytes comes
// back cut to `maximumLength` + 1 bytes, so a caller can tell that it was
// too long without ever holding an unbounded line.
// nullopt when the file itself is missing or cannot be read: a caller that
// took that for "every key missing" would act on values nobody wrote.
std::optional<std::string> ReadProfileString(const std::string& path, std::string_view section, std::string_view key,
                                             std::size_t maximumLength);

struct ProfileKey {
    std::string_view section;
    std::string_view key;
};

// The values of `keys`, in their order, each as ReadProfileString gives it,
// taken from one reading of the file so that they all come from the same
// version of it. nullopt as for ReadProfileString.
std::optional<std::vector<std::string>> ReadProfileStrings(const std::string& path, std::span<const ProfileKey> keys,
                                                           std::size_t maximumLength);

// True when something exists at `path`.
bool FileExists(const std::string& path);

}  // namespace ft232h
