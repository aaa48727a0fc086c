// Implementation here must contain only Linux specific code.
#include <unistd.h>

#include <optional>
#include <string>

#include "app/executable_path.hpp"

namespace ft232h {
namespace {

// PATH_MAX is not a hard limit on Linux; stop growing well past any real path.
constexpr std::size_t kLongestPath = 1 << 16;

std::optional<std::string> ExecutableFullPath() {
    std::string path(256, '\0');
    for (;;) {
        const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
        if (length < 0) {
            return std::nullopt;
        }
        // readlink does not terminate and cuts silently: only a result
        // shorter than the buffer is known to be whole.
        if (static_cast<std::size_t>(length) < path.size()) {
            path.resize(static_cast<std::size_t>(length));
            return path;
        }
        if (path.size() >= kLongestPath) {
            return std::nullopt;
        }
        path.resize(path.size() * 2);
    }
}

}  // namespace

std::optional<std::string> ExecutableDirectory() {
    std::optional<std::string> path = ExecutableFullPath();
    if (!path) {
        return std::nullopt;
    }
    const std::size_t separator = path->rfind('/');
    if (separator == std::string::npos) {
        return std::nullopt;
    }
    path->resize(separator + 1);
    return path;
}

}  // namespace ft232h
