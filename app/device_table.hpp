// The FT232H devices found at start-up.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "app/console.hpp"
#include "d2xx/d2xx_api.hpp"
#include "d2xx/d2xx_binding.hpp"

namespace ft232h {

struct DeviceEntry {
    // Position in the library's device list, counting every FTDI device:
    // the number the user types and FT_Open takes.
    std::int32_t deviceIndex = 0;
    // At most 15 characters and always terminated.
    std::array<char, 16> serialNumber{};
};

// FT232H devices only, in the library's order; the indices can have gaps.
using DeviceTable = std::vector<DeviceEntry>;

// More devices than any machine can attach; a larger count is a fault.
inline constexpr std::uint32_t kMaxListedDevices = 65536;

enum class DeviceListOutcome {
    kListed,      // the table holds what the library reported (possibly nothing)
    kListFailed,  // the library could not say how many devices it has
};

// Keeps the FT232H nodes of `nodes`, of which `reported` were filled by the
// library; never reads past the nodes that exist, whatever the count says.
DeviceTable CollectFt232hDevices(std::span<const DeviceInfoNode> nodes, std::uint32_t reported);

// Asks the library for its device list and keeps the FT232H devices. A failed
// FT_GetDeviceInfoList leaves the table empty but still counts as listed.
DeviceListOutcome ListFt232hDevices(const D2xxBinding& d2xx, DeviceTable& table);

// The count line, the rule, the heading, a line per device and the rule.
void PrintDeviceTable(Console& console, const DeviceTable& table);

}  // namespace ft232h
