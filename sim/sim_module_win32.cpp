// Only Win32 code belongs in this file.
#include <windows.h>

#include <vector>

#include "sim/sim_module.hpp"

namespace ft232h::sim {

namespace {

// Any function of this DLL will do: its address names the module that holds it.
void AnchorInThisLibrary() {
}

}  // namespace

std::string SimModulePath() {
    HMODULE module = nullptr;
    const DWORD flags = GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
    if (!GetModuleHandleExA(flags, reinterpret_cast<LPCSTR>(&AnchorInThisLibrary), &module)) {
        return {};
    }
    // GetModuleFileNameA cuts long paths silently; grow the buffer until it fits.
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameA(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return {};
        }
        if (length < buffer.size()) {
            return std::string(buffer.data(), length);
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
    const DWORD needed = GetEnvironmentVariableA(name, nullptr, 0);
    if (needed == 0) {
        return std::nullopt;
    }
    std::string value(needed, '\0');
    const DWORD length = GetEnvironmentVariableA(name, value.data(), needed);
    if (length == 0 || length >= needed) {
        return std::nullopt;
    }
    value.resize(length);
    return value;
}

}  // namespace ft232h::sim
