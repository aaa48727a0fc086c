#include <cstddef>
#include <span>

#include "app/console.hpp"
#include "app/program.hpp"

// Whatever happened, the exit status is 0: callers have always been told the
// outcome on standard output only.
int main(int argc, char* argv[]) {
    const auto console = ft232h::OpenStandardOutput();
    const std::size_t count = argc > 1 ? static_cast<std::size_t>(argc - 1) : 0;
    ft232h::RunOnePass(*console, std::span<const char* const>(argv + 1, count));
    return 0;
}
