#pragma once

#include "app/console.hpp"

namespace ft232h {

// The nine lines that list the options and the two settings-file names.
void PrintUsage(Console& console);

}  // namespace ft232h
