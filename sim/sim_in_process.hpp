// The simulated library linked into a test's own process, for the suites
// that drive the operations without starting the tool (a unit suite and the
// fuzz targets): the same exported entry points, found by name as the tool
// finds FTDI's, over the same world. Its state file is the one
// FT232H_SIM_STATE names; set it before the first call.
#pragma once

#include <memory>

#include "d2xx/shared_library.hpp"

namespace ft232h::sim {

std::unique_ptr<SharedLibrary> InProcessLibrary();

}  // namespace ft232h::sim
