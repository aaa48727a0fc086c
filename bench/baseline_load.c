/* The floor the benchmark measures the tool against: a process that starts,
 * loads the D2XX library from its own directory as the tool does, asks it
 * once for its device count and ends. It is C, so that no C++ runtime is
 * loaded: whatever the tool takes beyond this is its own, its runtime
 * included. */
#define _POSIX_C_SOURCE 200809L

#include <dlfcn.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

typedef uint32_t (*CreateDeviceInfoList)(uint32_t* count);

int main(void) {
    static const char kLibrary[] = "libftd2xx.so";
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - sizeof kLibrary);
    if (length <= 0) {
        return 1;
    }
    path[length] = '\0';
    char* slash = strrchr(path, '/');
    if (slash == NULL) {
        return 1;
    }
    memcpy(slash + 1, kLibrary, sizeof kLibrary);

    void* module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (module == NULL) {
        fprintf(stderr, "cannot load %s\n", path);
        return 1;
    }
    void* symbol = dlsym(module, "FT_CreateDeviceInfoList");
    if (symbol == NULL) {
        fprintf(stderr, "no FT_CreateDeviceInfoList in %s\n", path);
        return 1;
    }
    CreateDeviceInfoList create;
    memcpy(&create, &symbol, sizeof create);
    uint32_t count = 0;
    const uint32_t status = create(&count);
    dlclose(module);
    return status == 0 ? 0 : 1;
}
