#include "app/device_table.hpp"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string_view>

#include "app/messages.hpp"
#include "app/platform.hpp"
#include "app/print_message.hpp"

namespace ft232h {

namespace {

// FTDI's library lists a device that another program or driver has open
// (on Linux the kernel's ftdi_sio driver, on Windows a terminal on its COM
// port) with the opened flag and the type unknown; FTDI's documentation has
// the fields of such a node left unfilled, so a type of 0 (an old FT232BM)
// without vendor and product id is read the same way. A device open with a
// type the library did tell is no mystery: an FT232H is in the table, and
// another chip is not the user's concern.
bool IsBusyElsewhere(const DeviceInfoNode& node) {
    const bool typeHidden = node.Type == kDeviceTypeUnknown || (node.Type == 0 && node.ID == 0);
    return (node.Flags & kDeviceFlagOpened) != 0 && typeHidden;
}

}  // namespace

DeviceList CollectDevices(std::span<const DeviceInfoNode> nodes, std::uint32_t reported) {
    // deviceIndex is 32-bit signed, so positions past its range could not be
    // chosen anyway; a library reporting that many nodes is not believed.
    const auto usable = std::min<std::size_t>(
        {nodes.size(), reported, static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())});
    DeviceList list;
    for (std::size_t i = 0; i < usable; ++i) {
        const DeviceInfoNode& node = nodes[i];
        const auto deviceIndex = static_cast<std::int32_t>(i);
        if (IsBusyElsewhere(node)) {
            list.busy.push_back(deviceIndex);
            continue;
        }
        if (node.Type != kDeviceTypeFt232h) {
            continue;
        }
        DeviceEntry entry;
        entry.deviceIndex = deviceIndex;
        // The library may fill all 16 bytes without a terminator.
        const auto serial = std::span<const char>(node.SerialNumber).first(entry.serialNumber.size() - 1);
        const auto end = std::find(serial.begin(), serial.end(), '\0');
        std::copy(serial.begin(), end, entry.serialNumber.begin());
        list.ft232h.push_back(entry);
    }
    return list;
}

DeviceListOutcome ListDevices(const D2xxBinding& d2xx, DeviceList& list) {
    list = DeviceList();
    std::uint32_t count = 0;
    if (d2xx.CreateDeviceInfoList(count) != kFtOk) {
        return DeviceListOutcome::kListFailed;
    }
    if (count == 0) {
        // Nothing to fetch; handing the library an empty array gains nothing.
        return DeviceListOutcome::kListed;
    }
    // The count comes from the library. USB allows 127 devices a bus, so a
    // count beyond kMaxListedDevices is a broken list, not a reason to
    // reserve gigabytes.
    if (count > kMaxListedDevices) {
        return DeviceListOutcome::kListFailed;
    }
    // Not a vector: a failed allocation must be a failed list, not an exception.
    // NOLINTNEXTLINE(cppcoreguidelines-avoid-c-arrays,modernize-avoid-c-arrays)
    std::unique_ptr<DeviceInfoNode[]> nodes(new (std::nothrow) DeviceInfoNode[count]());
    if (!nodes) {
        return DeviceListOutcome::kListFailed;
    }
    std::uint32_t reported = count;
    if (d2xx.GetDeviceInfoList(nodes.get(), reported) != kFtOk) {
        return DeviceListOutcome::kListed;
    }
    list = CollectDevices(std::span<const DeviceInfoNode>(nodes.get(), count), reported);
    return DeviceListOutcome::kListed;
}

void PrintDeviceTable(Console& console, const DeviceTable& table) {
    PrintMessage(console, messages::kDevicesFound, {static_cast<std::int32_t>(table.size())});
    PrintMessage(console, messages::kTableRule);
    PrintMessage(console, messages::kTableHeading);
    for (const DeviceEntry& entry : table) {
        const std::string_view serial(entry.serialNumber.data());
        PrintMessage(console, messages::kTableLine, {entry.deviceIndex, serial});
    }
    PrintMessage(console, messages::kTableRule);
}

void PrintBusyDevices(Console& console, std::span<const std::int32_t> busy) {
    for (const std::int32_t deviceIndex : busy) {
        PrintMessage(console, messages::kBusyDevice, {deviceIndex});
    }
    if (kKernelDriverHoldsFtdiDevices && !busy.empty()) {
        PrintMessage(console, messages::kBusyDeviceLinuxHint);
    }
}

}  // namespace ft232h
