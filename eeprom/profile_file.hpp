// The settings-file service: "initialization file" sections and key=value
// lines. Its reading and writing of the text behave as the Windows profile
// API does on what a user can meet, so one settings file works on every
// system; every other byte of a file is kept, and a file is changed in one
// step that a crash cannot leave half done. A file that starts with a UTF-16
// byte-order mark is read and written as UTF-16, as Windows does, its values
// converted from and to the code page of code_page.hpp
// (profile_encoding.hpp); any other file is single bytes, passed through as
// they are.
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

struct ProfileEntry {
    std::string_view section;
    std::string_view key;
    std::string_view value;
};

enum class ProfileWrite {
    kWritten,
    // An entry cannot be written (IsWritableProfileEntry), or the file is
    // UTF-16 and an entry is no text in the code page; the file was not
    // touched.
    kRefused,
    // The file could not be written: it is read-only, is no regular file,
    // holds an odd number of bytes after a UTF-16 mark, or would grow past
    // the size cap, a link there leads nowhere, or the disk or the system
    // refused a step. A replaced file holds its old content or, only when
    // the very last step (making the new name durable) failed, the new one;
    // never a mixture. A file rewritten in place gets its old bytes back as
    // far as the disk lets them be written.
    kFileFailed,
};

// Sets each entry in turn in the file at `path`, creating the file and a
// section as needed: a key's value changes in place, a new key goes after the
// last non-blank line of its section, a new section at the end of the file,
// and every other byte of the file stays as it was (a UTF-16 file stays
// UTF-16 in its byte order, every character kept). Every entry is checked
// before the file is touched, so the file gets all of them or none.
//
// The new content replaces the file in one step: written to a new file
// beside it and made durable, renamed over it, and the rename made durable,
// all before kWritten is returned. A crash at any point leaves the old file
// or the new one, whole. The file keeps its owner, group and permissions; a
// file without write permission for anyone is read-only, even for root.
// Where a replacement would lose what the file is (its other hard links, or
// an owner the system does not let us give a new file), or cannot be made
// because the file's directory refuses us a new name while the file itself
// may be written, the file is rewritten in place instead and made durable:
// then a crash part-way can leave it partly old and partly new. A file that
// does not exist in such a directory is not written. A symbolic link at
// `path` stays, and the file it leads to gets the change.
ProfileWrite WriteProfileStrings(const std::string& path, std::span<const ProfileEntry> entries);

// One entry, as WriteProfileStrings sets it.
ProfileWrite WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                                std::string_view value);

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

// A value as read.
struct ProfileValue {
    std::string text;
    // False when the file is UTF-16 and the value holds a character the code
    // page lacks: `text` shows it as '?', for the user, and is not the value.
    bool exact = true;
};

// The values of `keys`, in their order, each as ReadProfileString gives it,
// taken from one reading of the file so that they all come from the same
// version of it. nullopt as for ReadProfileString, and for an odd number of
// bytes after a UTF-16 mark.
std::optional<std::vector<ProfileValue>> ReadProfileStrings(const std::string& path, std::span<const ProfileKey> keys,
                                                            std::size_t maximumLength);

// True when something exists at `path`.
bool FileExists(const std::string& path);

}  // namespace ft232h
