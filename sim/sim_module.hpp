// What the simulated library needs to know about the process it is loaded into.
// One implementation per platform.
#pragma once

#include <optional>
#include <string>

namespace ft232h::sim {

// The full path of the simulated library's own file, or an empty string when
// the platform cannot tell. UTF-8 on Windows, as the state file's paths are.
std::string SimModulePath();

// The value of an environment variable, or nothing when it is not set. UTF-8
// on Windows.
std::optional<std::string> SimEnvironmentValue(const char* name);

}  // namespace ft232h::sim
