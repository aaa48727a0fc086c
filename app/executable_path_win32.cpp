// Implementation here must contain only Win32 specific code.
#include <windows.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "app/executable_path.hpp"

namespace ft232h {
namespace {

// The longest path Windows can give a module; a name cut at this length is
// not worth growing for.
constexpr std::size_t kLongestModulePath = 32768;

std::optional<std::string> ExecutableFullPath() {
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD capacity = static_cast<DWORD>(path.size());
        const DWORD length = GetModuleFileNameA(nullptr, path.data(), capacity);
        if (length == 0) {
            return std::nullopt;
        }
        // A name that fills the whole buffer was cut short (older systems do
        // not even terminate it), so only a shorter one is complete.
        if (length < capacity) {
            path.resize(length);
            return path;
        }
        if (path.size() >= kLongestModulePath) {
            return std::nullopt;
        }
        path.resize(path.size() * 2);
    }
}

}  // namespace

std::optional<std::string> ExecutableDirectory() {
    const std::optional<std::string> path = ExecutableFullPath();
    if (!path) {
        return std::nullopt;
    }
    // Buffers as long as the whole path can never be too short for one of
    // its parts, so splitting cannot fail on length (the runtime's reaction
    // to that differs between C libraries).
    const std::size_t capacity = path->size() + 1;
    std::string drive(capacity, '\0');
    std::string directory(capacity, '\0');
    if (_splitpath_s(path->c_str(), drive.data(), capacity, directory.data(), capacity, nullptr, 0, nullptr, 0) != 0) {
        return std::nullopt;
    }
    std::string joined(capacity, '\0');
    if (_makepath_s(joined.data(), capacity, drive.c_str(), directory.c_str(), nullptr, nullptr) != 0) {
        return std::nullopt;
    }
    joined.resize(joined.find('\0'));
    return joined;
}

}  // namespace ft232h
