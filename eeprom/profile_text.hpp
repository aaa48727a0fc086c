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

#include "eeprom/profile_file.hpp"

namespace ft232h {

// Settings files are a few kilobytes; anything beyond this is not one, and
// holding it whole in memory (twice, while rewriting) would be unreasonable.
// Larger files are neither read nor written, and no write makes a file grow
// past it.
inline constexpr std::size_t kMaximumProfileFileSize = std::size_t{64} << 20;

// The file's bytes after each entry is set in turn: a key's value changes in
// place, a new key goes after the last non-blank line of its section, a new
// section at the end, new lines end in CR LF, and every other byte stays.
// Every entry must be writable (IsWritableProfileEntry). nullopt when the
// result would be larger than kMaximumProfileFileSize.
std::optional<std::string> ProfileWithEntries(std::string_view bytes, std::span<const ProfileEntry> entries);

// The values of `keys` in the file's bytes, as ReadProfileStrings gives them.
std::vector<std::string> ProfileValues(std::string_view bytes, std::span<const ProfileKey> keys,
                                       std::size_t maximumLength);

}  // namespace ft232h
