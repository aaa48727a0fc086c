// Loading the D2XX library at run time. One implementation per platform.
#pragma once

#include <memory>
#include <string>

namespace ft232h {

// A function address as the platform returns it; callers cast it to the
// entry point's own type.
using RawSymbol = void (*)();

class SharedLibrary {
public:
    SharedLibrary() = default;
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;
    virtual ~SharedLibrary() = default;

    // nullptr when the library has no entry point of that name.
    [[nodiscard]] virtual RawSymbol FindSymbol(const char* name) const = 0;
};

// Loads FTDI's D2XX library: ftd2xx.dll from the executable's directory or
// the system directory, never from the current directory or PATH;
// libftd2xx.so / libftd2xx.dylib from `executableDirectory` first, then
// through the dynamic loader's own search.
// nullptr when it cannot be loaded. Released when the result is destroyed.
std::unique_ptr<SharedLibrary> LoadD2xxLibrary(const std::string& executableDirectory);

}  // namespace ft232h
