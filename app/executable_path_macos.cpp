// Implementation here must contain only macOS specific code.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include <mach-o/dyld.h>

#include "app/executable_path.hpp"

namespace ft232h {
namespace {

struct FreeDeleter {
    void operator()(char* memory) const { std::free(memory); }
};

}  // namespace

std::optional<std::string> ExecutableDirectory() {
    std::uint32_t size = 0;
    // The first call only reports the size the path needs.
    static_cast<void>(_NSGetExecutablePath(nullptr, &size));
    std::string path(size, '\0');
    if (size == 0 || _NSGetExecutablePath(path.data(), &size) != 0) {
        return std::nullopt;
    }
    // The path as launched may hold symbolic links and "..": the settings
    // files belong beside the real file.
    const std::unique_ptr<char, FreeDeleter> resolved(realpath(path.c_str(), nullptr));
    if (!resolved) {
        return std::nullopt;
    }
    std::string directory(resolved.get());
    const std::size_t separator = directory.rfind('/');
    if (separator == std::string::npos) {
        return std::nullopt;
    }
    directory.resize(separator + 1);
    return directory;
}

}  // namespace ft232h
