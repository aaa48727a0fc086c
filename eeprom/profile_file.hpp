// The settings-file service: "initialization file" sections and key=value
// lines, read and written key by key. On Windows it is the system's own
// profile API; elsewhere our implementation behaves as that API does on what
// a user can meet, so one settings file works on both.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ft232h {

// Sets `key` in `section` of the file at `path` to `value` exactly as given,
// creating the file and the section when missing. A new key goes at the end
// of its section, a new section at the end of the file; every other line of
// the file is kept as it was. False when the file could not be written (the
// old file is then left as it was) or when the value holds CR or LF, which a
// line-based file cannot carry.
bool WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value);

// Makes the writes done so far complete and durable before returning.
// False when that could not be ensured.
bool FlushProfile(const std::string& path);

// The value of `key` in `section`: names match without regard to case, blanks
// around the value are dropped and one pair of enclosing double quotes is
// removed. Empty when the file, the section or the key is missing (the first
// of duplicated keys counts). A value longer than `maximumLength` bytes comes
// back cut to `maximumLength` + 1 bytes, so a caller can tell that it was too
// long without ever holding an unbounded line.
std::string ReadProfileString(const std::string& path, std::string_view section, std::string_view key,
                              std::size_t maximumLength);

// True when something exists at `path`.
bool FileExists(const std::string& path);

}  // namespace ft232h
