// Only Win32 code belongs in this file.
#include <windows.h>

#include "tests/sim/test_library.hpp"

namespace ft232h::sim::test {

TestLibrary::TestLibrary(const std::string& path) : handle_(LoadLibraryA(path.c_str())) {
}

TestLibrary::~TestLibrary() {
    if (handle_ != nullptr) {
        FreeLibrary(static_cast<HMODULE>(handle_));
    }
}

TestLibrary::RawFunction TestLibrary::FindRaw(const char* name) const {
    if (handle_ == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<RawFunction>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

void SetEnvironmentValue(const char* name, const std::string& value) {
    SetEnvironmentVariableA(name, value.c_str());
}

void ClearEnvironmentValue(const char* name) {
    SetEnvironmentVariableA(name, nullptr);
}

}  // namespace ft232h::sim::test
