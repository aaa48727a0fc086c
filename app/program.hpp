#pragma once

#include <span>

#include "app/console.hpp"

namespace ft232h {

// The program's single pass: load the library, list and print the FT232H
// devices, then print the usage text or carry out one command, and release
// the library. `arguments` are those after the program name. Every outcome
// is reported on `console`; there is nothing to return.
void RunOnePass(Console& console, std::span<const char* const> arguments);

}  // namespace ft232h
