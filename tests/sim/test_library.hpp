// Loading the simulated library into a test process, and setting the
// environment it reads. One implementation per platform.
#pragma once

#include <string>

namespace ft232h::sim::test {

class TestLibrary {
public:
    // Loads the library at `path`; Loaded() tells whether that worked.
    explicit TestLibrary(const std::string& path);
    TestLibrary(const TestLibrary&) = delete;
    TestLibrary& operator=(const TestLibrary&) = delete;
    ~TestLibrary();

    [[nodiscard]] bool Loaded() const { return handle_ != nullptr; }

    // nullptr when the library exports no entry point of that name.
    template <typename Function>
    [[nodiscard]] Function Find(const char* name) const {
        return reinterpret_cast<Function>(FindRaw(name));
    }

private:
    using RawFunction = void (*)();
    RawFunction FindRaw(const char* name) const;

    void* handle_ = nullptr;
};

void SetEnvironmentValue(const char* name, const std::string& value);
void ClearEnvironmentValue(const char* name);

}  // namespace ft232h::sim::test
