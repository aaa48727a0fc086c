// Implementation here must contain only Win32 specific code.
#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

#include "app/executable_path.hpp"
#include "eeprom/utf16_win32.hpp"

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
    if (separator == std::wstring::npos) {
        return std::nullopt;
    }
    // An unpaired surrogate, which a Windows name may hold, has no UTF-8.
    return Utf8FromUtf16(Utf16OfWide(std::wstring_view(*path).substr(0, separator + 1)), Utf16Mismatch::kRefused);
}

}  // namespace ft232h
