// The runner of a build without the virtual chips: a row that plugs one in
// cannot run here.
#include <stdexcept>

#include "tests/e2e/chip_world.hpp"

namespace ft232h::e2e {
namespace {

[[noreturn]] void NoChips() {
    throw std::runtime_error("this build has no virtual chips");
}

}  // namespace

std::string FactoryImage(const std::string&) {
    NoChips();
}
std::string WithChecksum(const std::string&) {
    NoChips();
}
bool DecodeChip(const std::string&, ChipFields&, std::string&) {
    NoChips();
}
std::string RoundTrip(const ToolSandbox&, const RoundTripShard&, std::string&) {
    NoChips();
}

}  // namespace ft232h::e2e
