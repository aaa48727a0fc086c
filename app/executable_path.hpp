// Where the running executable lies. One implementation per platform.
#pragma once

#include <optional>
#include <string>

namespace ft232h {

// The drive and directory of the running executable, with the trailing
// separator ("C:\\tools\\" on Windows, "/opt/tools/" elsewhere); the file name
// is dropped. Empty when the platform cannot tell. On Windows it is UTF-8,
// whatever the system's code page, as the settings-file service takes paths;
// elsewhere the system's own bytes.
std::optional<std::string> ExecutableDirectory();

}  // namespace ft232h
