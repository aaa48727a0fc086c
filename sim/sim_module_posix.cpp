// Only POSIX code belongs in this file.
#include <dlfcn.h>

#include <cstdlib>

#include "sim/sim_module.hpp"

namespace ft232h::sim {

std::string SimModulePath() {
    Dl_info info{};
    // dladdr names the file that holds a function, this one as well as any.
    if (dladdr(reinterpret_cast<const void*>(&SimModulePath), &info) == 0 || info.dli_fname == nullptr) {
        return {};
    }
    return info.dli_fname;
}

std::optional<std::string> SimEnvironmentValue(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) {
        return std::nullopt;
    }
    return std::string(value);
}

}  // namespace ft232h::sim
