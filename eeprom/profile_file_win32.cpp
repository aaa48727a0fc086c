// Implementation here must contain only Win32 specific code.
//
// The settings-file service on Windows is the system's own profile API; this
// only adapts it to the contract of profile_file.hpp, except that the API
// writes the file once per key, not in one step.
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

// <windows.h> maps WriteProfileString to the win.ini call WriteProfileStringA,
// which would rename our own function's declaration and definition here.
#undef WriteProfileString

#include "eeprom/profile_file.hpp"

namespace ft232h {

namespace {

// GetPrivateProfileStringA needs room for a value one byte longer than
// allowed plus its terminator, and one byte more again: when it cuts a quoted
// value it drops the last character kept as if it were the closing quote, so
// with only one spare byte a value one too long would come back as one that
// fits.
constexpr std::size_t kReadSpareBytes = 3;
// A bound far above any settings value, so the size fits the API's DWORD.
constexpr std::size_t kLargestReadLength = 1u << 20;

}  // namespace

ProfileWrite WriteProfileStrings(const std::string& path, std::span<const ProfileEntry> entries) {
    // Every entry before the file, so that one that cannot be written keeps
    // the others out too.
    for (const ProfileEntry& entry : entries) {
        if (!IsWritableProfileEntry(entry.section, entry.key, entry.value)) {
            return ProfileWrite::kRefused;
        }
    }
    bool all = true;
    for (const ProfileEntry& entry : entries) {
        const std::string section(entry.section);
        const std::string key(entry.key);
        const std::string value(entry.value);
        if (WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), path.c_str()) == FALSE) {
            all = false;
        }
    }
    // The call without section, key and value makes the API finish its work
    // on the file before it returns; it answers FALSE whatever happened.
    static_cast<void>(WritePrivateProfileStringA(nullptr, nullptr, nullptr, path.c_str()));
    return all ? ProfileWrite::kWritten : ProfileWrite::kFileFailed;
}

std::optional<std::vector<std::string>> ReadProfileStrings(const std::string& path, std::span<const ProfileKey> keys,
                                                           std::size_t maximumLength) {
    // The API gives the default for a file it cannot read just as for a
    // missing key; only opening the file tells the two apart.
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return std::nullopt;
    }
    std::fclose(file);
    const std::size_t length = maximumLength < kLargestReadLength ? maximumLength : kLargestReadLength;
    std::vector<std::string> values;
    values.reserve(keys.size());
    for (const ProfileKey& wanted : keys) {
        const std::string section(wanted.section);
        const std::string key(wanted.key);
        std::string buffer(length + kReadSpareBytes, '\0');
        GetPrivateProfileStringA(section.c_str(), key.c_str(), "", buffer.data(), static_cast<DWORD>(buffer.size()),
                                 path.c_str());
        buffer.resize(std::strlen(buffer.c_str()));
        if (buffer.size() > length + 1) {
            buffer.resize(length + 1);
        }
        values.push_back(std::move(buffer));
    }
    return values;
}

bool FileExists(const std::string& path) {
    return _access(path.c_str(), 0) == 0;
}

}  // namespace ft232h
