// The text of a settings file, apart from any file system: reading values
// the way GetPrivateProfileStringA does and setting keys the way
// WritePrivateProfileStringA does, while keeping every other byte.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ft232h {

// The bytes that Windows takes for blanks around names and values: space,
// tab, vertical tab, form feed and the old end-of-file mark ^Z (0x1A).
constexpr bool IsSettingsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1A';
}

// True when the entry can be written and read back unchanged: a non-empty
// section without ']', a non-empty key without '=' that does not start like
// a comment or a section line, names without blanks (IsSettingsBlank) at
// either end, and none of the three holding CR, LF or NUL (a line-based file
// of C strings cannot carry them). The value's own blanks are kept only when
// it is quoted.
bool IsWritableSettingsEntry(std::string_view section, std::string_view key, std::string_view value);

struct SettingsEntry {
    std::string_view section;
    std::string_view key;
    std::string_view value;
};

struct SettingsKey {
    std::string_view section;
    std::string_view key;
};

// Settings files are a few kilobytes; anything beyond this is not one, and
// holding it whole in memory (twice, while rewriting) would be unreasonable.
// Larger files are neither read nor written, and no write makes a file grow
// past it.
inline constexpr std::size_t kMaximumSettingsFileSize = std::size_t{64} << 20;

// The file's bytes after each entry is set in turn: a key's value changes in
// place, a new key goes after the last non-blank line of its section, a new
// section at the end, new lines end in CR LF, and every other byte stays.
// Every entry must be writable (IsWritableSettingsEntry). nullopt when the
// result would be larger than kMaximumSettingsFileSize.
std::optional<std::string> SettingsTextWithEntries(std::string_view bytes, std::span<const SettingsEntry> entries);

// The value of each of `keys` in the file's bytes: lines end at CR LF, LF or
// a lone CR, a NUL ends a line's text, names match without regard to ASCII
// case, blanks around the value are dropped and one pair of enclosing quotes
// (double or single, as Windows does) is removed. Empty when the section or
// the key is missing, or the key has no value (the first of duplicated
// sections and keys counts, a line holding only the key's name among them).
// A value longer than `maximumLength` bytes comes back cut to
// `maximumLength` + 1 bytes, so a caller can tell that it was too long
// without ever holding an unbounded line.
std::vector<std::string> SettingsTextValues(std::string_view bytes, std::span<const SettingsKey> keys,
                                            std::size_t maximumLength);

}  // namespace ft232h
