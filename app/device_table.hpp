// The FTDI devices found at start-up: the FT232H devices, and those that
// another program or driver holds.
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
    kListed,      // the list holds what the library reported (possibly nothing)
    kListFailed,  // the library could not say how many devices it has
};

// What the tool takes from the library's list.
struct DeviceList {
    DeviceTable ft232h;
    // List positions, in order, of the devices that another program or
    // driver holds: the library shows such a node as open and tells nothing
    // else of it, not even its type, so it may well be an FT232H.
    std::vector<std::int32_t> busy;
};

// Sorts the nodes of `nodes`, of which `reported` were filled by the library;
// never reads past the nodes that exist, whatever the count says.
DeviceList CollectDevices(std::span<const DeviceInfoNode> nodes, std::uint32_t reported);

// Asks the library for its device list. A failed FT_GetDeviceInfoList leaves
// the list empty but still counts as listed.
DeviceListOutcome ListDevices(const D2xxBinding& d2xx, DeviceList& list);

// The count line, the rule, the heading, a line per device and the rule.
void PrintDeviceTable(Console& console, const DeviceTable& table);

// A line per busy device, then the system's hint when there is one and any
// device is busy; nothing when none is.
void PrintBusyDevices(Console& console, std::span<const std::int32_t> busy);

}  // namespace ft232h
