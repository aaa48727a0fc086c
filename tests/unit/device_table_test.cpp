#include "app/device_table.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace ft232h {
namespace {

DeviceInfoNode Node(std::uint32_t type, const char* serial) {
    DeviceInfoNode node{};
    node.Type = type;
    std::memcpy(node.SerialNumber, serial, std::min(std::strlen(serial), sizeof node.SerialNumber));
    return node;
}

std::string Serial(const DeviceEntry& entry) {
    return entry.serialNumber.data();
}

TEST(CollectFt232hDevices, KeepsOnlyFt232hNodesWithTheirListPositions) {
    const std::vector<DeviceInfoNode> nodes{Node(5, "A1"), Node(8, "FT111"), Node(6, "B2"), Node(8, "FT333")};
    const DeviceTable table = CollectFt232hDevices(nodes, 4);
    ASSERT_EQ(table.size(), 2U);
    EXPECT_EQ(table[0].deviceIndex, 1);
    EXPECT_EQ(Serial(table[0]), "FT111");
    EXPECT_EQ(table[1].deviceIndex, 3);
    EXPECT_EQ(Serial(table[1]), "FT333");
}

TEST(CollectFt232hDevices, KeepsFifteenCharactersAndTerminatesAnUnterminatedSerial) {
    std::vector<DeviceInfoNode> nodes{Node(8, "ABCDEFGHIJKLMNO"), Node(8, "")};
    std::memcpy(nodes[1].SerialNumber, "0123456789abcdef", 16);  // no terminator
    std::memcpy(nodes[1].Description, "spills over", 11);
    const DeviceTable table = CollectFt232hDevices(nodes, 2);
    ASSERT_EQ(table.size(), 2U);
    EXPECT_EQ(Serial(table[0]), "ABCDEFGHIJKLMNO");
    EXPECT_EQ(Serial(table[1]), "0123456789abcde");
    EXPECT_EQ(table[1].serialNumber.back(), '\0');
}

TEST(CollectFt232hDevices, NeverWalksBeyondTheNodesThatExist) {
    const std::vector<DeviceInfoNode> nodes{Node(8, "ONLY")};
    EXPECT_EQ(CollectFt232hDevices(nodes, 1000).size(), 1U);
    EXPECT_TRUE(CollectFt232hDevices(nodes, 0).empty());
    EXPECT_TRUE(CollectFt232hDevices({}, 5).empty());
}

TEST(CollectFt232hDevices, ListsAHundredAndTwentyEightDevicesInOrder) {
    std::vector<DeviceInfoNode> nodes;
    for (int i = 0; i < 128; ++i) {
        nodes.push_back(Node(8, ("SN" + std::to_string(i)).c_str()));
    }
    const DeviceTable table = CollectFt232hDevices(nodes, 128);
    ASSERT_EQ(table.size(), 128U);
    EXPECT_EQ(table[127].deviceIndex, 127);
    EXPECT_EQ(Serial(table[127]), "SN127");
}

}  // namespace
}  // namespace ft232h
