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

// Only the executable's own directory and the system directory are searched.
// The classic order would go on to the current directory and PATH when FTDI's
// driver package is not installed, and run the code of any ftd2xx.dll found
// there (a downloads folder). A system too old for these flags (Windows 7
// without KB2533623) fails the call: the library then counts as missing
// rather than being looked for the unsafe way.
std::unique_ptr<SharedLibrary> LoadD2xxLibrary(const std::string& /*executableDirectory*/) {
    // A damaged or wrong-architecture DLL must fail the load, not stop an
    // unattended console run on an error dialog.
    DWORD previousMode = 0;
    const BOOL modeSet = SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previousMode);
    const HMODULE module =
        LoadLibraryExA("ftd2xx.dll", nullptr, LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (modeSet != FALSE) {
        static_cast<void>(SetThreadErrorMode(previousMode, nullptr));
    }
    if (module == nullptr) {
        return nullptr;
    }
    return std::make_unique<Win32SharedLibrary>(module);
}

}  // namespace ft232h
