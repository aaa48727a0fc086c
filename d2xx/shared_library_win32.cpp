// Implementation here must contain only Win32 specific code.
#include <windows.h>

#include <bit>
#include <memory>
#include <string>

#include "d2xx/shared_library.hpp"

namespace ft232h {
namespace {

class Win32SharedLibrary final : public SharedLibrary {
public:
    explicit Win32SharedLibrary(HMODULE module) : module_(module) {}
    Win32SharedLibrary(const Win32SharedLibrary&) = delete;
    Win32SharedLibrary& operator=(const Win32SharedLibrary&) = delete;
    // A module that refuses to unload at the end of the run leaves the
    // process nothing to do about it.
    ~Win32SharedLibrary() override { static_cast<void>(FreeLibrary(module_)); }

    [[nodiscard]] RawSymbol FindSymbol(const char* name) const override {
        static_assert(sizeof(FARPROC) == sizeof(RawSymbol));
        return std::bit_cast<RawSymbol>(GetProcAddress(module_, name));
    }

private:
    HMODULE module_;
};

}  // namespace

// The Windows search order already starts in the executable's directory, so
// the directory is not needed to find a copy placed beside the tool.
std::unique_ptr<SharedLibrary> LoadD2xxLibrary(const std::string& /*executableDirectory*/) {
    // A damaged or wrong-architecture DLL must fail the load, not stop an
    // unattended console run on an error dialog.
    DWORD previousMode = 0;
    const BOOL modeSet = SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previousMode);
    const HMODULE module = LoadLibraryA("ftd2xx.dll");
    if (modeSet != FALSE) {
        static_cast<void>(SetThreadErrorMode(previousMode, nullptr));
    }
    if (module == nullptr) {
        return nullptr;
    }
    return std::make_unique<Win32SharedLibrary>(module);
}

}  // namespace ft232h
