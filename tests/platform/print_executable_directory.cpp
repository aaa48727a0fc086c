// Prints the directory the platform service finds for this program, so that a
// test can run a copy of it from wherever it likes.
#include <cstdio>

#include "app/executable_path.hpp"

int main() {
    const auto directory = ft232h::ExecutableDirectory();
    std::fputs(directory ? directory->c_str() : "(none)", stdout);
    return 0;
}
