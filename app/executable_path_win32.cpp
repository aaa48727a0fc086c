// Implementation here must contain only Win32 specific code.
#include <windows.h>

#include <climits>
#include <optional>
#include <string>

#include "app/executable_path.hpp"

namespace ft232h {
namespace {

// The longest path Windows can give a module; a name cut at this length is
// not worth growing for.
constexpr std::size_t kLongestModulePath = 32768;

// The wide name, so that a folder named in any script is the folder itself
// whatever the system's code page: the ANSI name of a character outside it
// is '?', a path that leads nowhere.
std::optional<std::wstring> ExecutableFullPath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const auto capacity = static_cast<DWORD>(path.size());
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), capacity);
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
    std::optional<std::wstring> path = ExecutableFullPath();
    // The file name goes; the drive and the folders stay, with the
    // separator. UTF-16 has no unit of a separator's value inside another
    // character, as Shift_JIS has (ソ is 0x83 0x5C).
    const std::size_t separator = path ? path->find_last_of(L"\\/") : std::wstring::npos;
    if (separator == std::wstring::npos || separator + 1 > static_cast<std::size_t>(INT_MAX)) {
        return std::nullopt;
    }
    const int units = static_cast<int>(separator + 1);
    const int bytes =
        WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, path->data(), units, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) {
        return std::nullopt;
    }
    std::string directory(static_cast<std::size_t>(bytes), '\0');
    if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, path->data(), units, directory.data(), bytes, nullptr,
                            nullptr) != bytes) {
        return std::nullopt;
    }
    return directory;
}

}  // namespace ft232h
