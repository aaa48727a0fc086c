#include "app/device_table.hpp"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string_view>

#include "app/messages.hpp"
#include "app/print_message.hpp"

namespace ft232h {

DeviceTable CollectFt232hDevices(std::span<const DeviceInfoNode> nodes, std::uint32_t reported) {
    // deviceIndex is 32-bit signed, so positions past its range could not be
    // chosen anyway; a library reporting that many nodes is not believed.
    const auto usable = std::min<std::size_t>(
        {nodes.size(), reported, static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())});
    DeviceTable table;
    for (std::size_t i = 0; i < usable; ++i) {
        const DeviceInfoNode& node = nodes[i];
        if (node.Type != kDeviceTypeFt232h) {
            continue;
        }
        DeviceEntry entry;
        entry.deviceIndex = static_cast<std::int32_t>(i);
        // The library may fill all 16 bytes without a terminator.
        const auto serial = std::span<const char>(node.SerialNumber).first(entry.serialNumber.size() - 1);
        const auto end = std::find(serial.begin(), serial.end(), '\0');
        std::copy(serial.begin(), end, entry.serialNumber.begin());
        table.push_back(entry);
    }
    return table;
}

DeviceListOutcome ListFt232hDevices(const D2xxBinding& d2xx, DeviceTable& table) {
    table.clear();
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
    table = CollectFt232hDevices(std::span<const DeviceInfoNode>(nodes.get(), count), reported);
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

}  // namespace ft232h
