// Only Win32 code belongs in this file.
#include <windows.h>

#include <string_view>
#include <vector>

#include "eeprom/utf16_win32.hpp"
#include "sim/sim_module.hpp"

namespace ft232h::sim {

namespace {

// UTF-16 as UTF-8: the wide calls see any folder's real name, where the ANSI
// ones turn a character outside the system's code page into '?'. An unpaired
// surrogate becomes U+FFFD, as WideCharToMultiByte without flags makes it.
std::string Utf8(std::wstring_view wide) {
    return Utf8FromUtf16(Utf16OfWide(wide), Utf16Mismatch::kReplaced).value_or(std::string());
}

}  // namespace

std::string SimModulePath() {
    HMODULE module = nullptr;
    const DWORD flags = GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
    // A function's address names the module that holds it, this one's as well as any.
    if (!GetModuleHandleExW(flags, reinterpret_cast<LPCWSTR>(&SimModulePath), &module)) {
        return {};
    }
    // GetModuleFileNameW cuts long paths silently; grow the buffer until it fits.
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return {};
        }
        if (length < buffer.size()) {
            return Utf8(std::wstring_view(buffer.data(), length));
        }
        if (buffer.size() >= 32768) {
            return {};
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::optional<std::string> SimEnvironmentValue(const char* name) {
    // Read from the process rather than a C runtime's copy, which a host
    // linked against another runtime would not see change.
    const std::wstring wideName(name, name + std::string_view(name).size());
    const DWORD needed = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
    if (needed == 0) {
        return std::nullopt;
    }
    std::wstring value(needed, L'\0');
    const DWORD length = GetEnvironmentVariableW(wideName.c_str(), value.data(), needed);
    if (length == 0 || length >= needed) {
        return std::nullopt;
    }
    value.resize(length);
    return Utf8(value);
}

}  // namespace ft232h::sim
