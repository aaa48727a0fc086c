#include "eeprom/profile_file.hpp"

#include <utility>

namespace ft232h {

namespace {

bool HoldsLineBreakOrNul(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// A name with blanks at its ends would be read back without them.
bool IsTrimmedName(std::string_view name) {
    return !name.empty() && !IsProfileBlank(name.front()) && !IsProfileBlank(name.back()) && !HoldsLineBreakOrNul(name);
}

}  // namespace

bool IsWritableProfileEntry(std::string_view section, std::string_view key, std::string_view value) {
    return IsTrimmedName(section) && section.find(']') == std::string_view::npos && IsTrimmedName(key) &&
           key.find('=') == std::string_view::npos && key.front() != ';' && key.front() != '[' &&
           !HoldsLineBreakOrNul(value);
}

bool WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value) {
    const ProfileEntry entry{section, key, value};
    return WriteProfileStrings(path, std::span<const ProfileEntry>(&entry, 1));
}

std::optional<std::string> ReadProfileString(const std::string& path, std::string_view section, std::string_view key,
                                             std::size_t maximumLength) {
    const ProfileKey wanted{section, key};
    auto values = ReadProfileStrings(path, std::span<const ProfileKey>(&wanted, 1), maximumLength);
    // The value is moved out of the list, which no copy elision could do.
    return values ? std::optional<std::string>(std::move(values->front())) : std::nullopt;
}

}  // namespace ft232h
