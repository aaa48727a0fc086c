// Implementation here must contain only POSIX specific code.
#include <dlfcn.h>

#include <bit>
#include <memory>
#include <string>

#include "d2xx/shared_library.hpp"

namespace ft232h {
namespace {

class PosixSharedLibrary final : public SharedLibrary {
public:
    explicit PosixSharedLibrary(void* module) : module_(module) {}
    PosixSharedLibrary(const PosixSharedLibrary&) = delete;
    PosixSharedLibrary& operator=(const PosixSharedLibrary&) = delete;
    // A library that refuses to unload at the end of the run leaves the
    // process nothing to do about it.
    ~PosixSharedLibrary() override { static_cast<void>(dlclose(module_)); }

    [[nodiscard]] RawSymbol FindSymbol(const char* name) const override {
        // dlsym hands a function back as an object pointer; both are the same
        // size on every POSIX system, which the conversion below relies on.
        static_assert(sizeof(void*) == sizeof(RawSymbol));
        return std::bit_cast<RawSymbol>(dlsym(module_, name));
    }

private:
    void* module_;
};

void* OpenLibrary(const std::string& path) {
    // RTLD_NOW: a library missing symbols it needs fails here, at load, and
    // not in the middle of a device operation. RTLD_LOCAL: its names stay out
    // of the global namespace.
    return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

}  // namespace

// A copy beside the executable wins, as it does on Windows, so a tool shipped
// with its own library (or a test with the simulator) needs no install step;
// otherwise the loader's own search finds the one FTDI's installer placed.
std::unique_ptr<SharedLibrary> LoadD2xxLibrary(const std::string& executableDirectory) {
    void* module = nullptr;
    if (!executableDirectory.empty()) {
        module = OpenLibrary(executableDirectory + FT232H_D2XX_LIBRARY_NAME);
    }
    if (module == nullptr) {
        module = OpenLibrary(FT232H_D2XX_LIBRARY_NAME);
    }
    if (module == nullptr) {
        return nullptr;
    }
    return std::make_unique<PosixSharedLibrary>(module);
}

}  // namespace ft232h
