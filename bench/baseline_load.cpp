// The floor the benchmark measures the tool against: a process that starts,
// loads the D2XX library from its own directory as the tool does, asks it
// once for its device count and ends. Whatever the tool takes beyond this is
// its own work.
#include <dlfcn.h>
#include <unistd.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <string>

namespace {

using CreateDeviceInfoList = std::uint32_t (*)(std::uint32_t* count);

std::string OwnDirectory() {
    std::string path(4096, '\0');
    const ssize_t length = readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (length <= 0) {
        return {};
    }
    path.resize(static_cast<std::size_t>(length));
    return path.substr(0, path.rfind('/') + 1);
}

}  // namespace

int main() {
    const std::string library = OwnDirectory() + "libftd2xx.so";
    void* module = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        std::fprintf(stderr, "cannot load %s\n", library.c_str());
        return 1;
    }
    void* symbol = dlsym(module, "FT_CreateDeviceInfoList");
    if (symbol == nullptr) {
        std::fprintf(stderr, "no FT_CreateDeviceInfoList in %s\n", library.c_str());
        return 1;
    }
    static_assert(sizeof(CreateDeviceInfoList) == sizeof symbol);
    const auto create = std::bit_cast<CreateDeviceInfoList>(symbol);
    std::uint32_t count = 0;
    const std::uint32_t status = create(&count);
    dlclose(module);
    return status == 0 ? 0 : 1;
}
