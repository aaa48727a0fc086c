// Only POSIX code belongs in this file.
#include <dlfcn.h>

#include <bit>
#include <cstdlib>

#include "tests/sim/test_library.hpp"

namespace ft232h::sim::test {

TestLibrary::TestLibrary(const std::string& path) : handle_(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
}

TestLibrary::~TestLibrary() {
    if (handle_ != nullptr) {
        dlclose(handle_);
    }
}

TestLibrary::RawFunction TestLibrary::FindRaw(const char* name) const {
    return handle_ == nullptr ? nullptr : std::bit_cast<RawFunction>(dlsym(handle_, name));
}

void SetEnvironmentValue(const char* name, const std::string& value) {
    setenv(name, value.c_str(), 1);
}

void ClearEnvironmentValue(const char* name) {
    unsetenv(name);
}

}  // namespace ft232h::sim::test
