// The D2XX binding as a Windows build uses it, against the simulated
// ftd2xx.dll placed beside this program. On 32-bit Windows every entry point
// is __stdcall: a binding that called it any other way would unbalance the
// stack by a few bytes per call, which thousands of calls in a row turn into
// wrong results or a crash. The list nodes must also come back with the
// library's stride (100 bytes on 32-bit, 104 on 64-bit).
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "app/executable_path.hpp"
#include "d2xx/d2xx_api.hpp"
#include "d2xx/d2xx_binding.hpp"
#include "d2xx/eeprom_record.hpp"
#include "d2xx/shared_library.hpp"

namespace {

constexpr int kRounds = 2000;
constexpr std::uint32_t kDevices = 3;
constexpr std::int32_t kFt232hIndex = 2;

int failures = 0;

bool Check(bool passed, const char* what, int round) {
    if (!passed) {
        std::printf("FAILED in round %d: %s\n", round, what);
        ++failures;
    }
    return passed;
}

std::string_view Text(const char* bytes, std::size_t size) {
    return std::string_view(bytes, strnlen(bytes, size));
}

bool ListRound(const ft232h::D2xxBinding& d2xx, int round) {
    std::uint32_t count = 0;
    if (!Check(d2xx.CreateDeviceInfoList(count) == ft232h::kFtOk && count == kDevices, "FT_CreateDeviceInfoList",
               round)) {
        return false;
    }
    std::vector<ft232h::DeviceInfoNode> nodes(count);
    if (!Check(d2xx.GetDeviceInfoList(nodes.data(), count) == ft232h::kFtOk && count == kDevices,
               "FT_GetDeviceInfoList", round)) {
        return false;
    }
    return Check(nodes[0].Type == 8 && Text(nodes[0].SerialNumber, 16) == "FT6XK1QA", "node 0", round) &&
           Check(nodes[1].Type == 5 && Text(nodes[1].SerialNumber, 16) == "FT2232A", "node 1 at its stride", round) &&
           Check(nodes[2].Type == 8 && Text(nodes[2].SerialNumber, 16) == "FT9ZP2MC", "node 2 at its stride", round);
}

bool DeviceRound(const ft232h::D2xxBinding& d2xx, int round) {
    ft232h::FtHandle handle = nullptr;
    if (!Check(d2xx.Open(kFt232hIndex, handle) == ft232h::kFtOk && handle != nullptr, "FT_Open", round)) {
        return false;
    }
    ft232h::EepromRecord record;
    record.deviceType = 8;
    ft232h::EepromStrings strings;
    const bool read = Check(d2xx.ReadEeprom(handle, record, strings) == ft232h::kFtOk, "FT_EEPROM_Read", round) &&
                      Check(record.VendorId == 0x0403 && record.ProductId == 0x6014 && record.MaxPower == 100,
                            "the record read", round) &&
                      Check(Text(strings.Manufacturer.data(), strings.Manufacturer.size()) == "FTDI" &&
                                Text(strings.SerialNumber.data(), strings.SerialNumber.size()) == "FT9ZP2MC",
                            "the strings read", round);
    d2xx.Close(handle);
    return read;
}

}  // namespace

int main() {
    const auto directory = ft232h::ExecutableDirectory();
    auto library = ft232h::LoadD2xxLibrary(directory.value_or(std::string()));
    if (!library) {
        std::printf("FAILED: ftd2xx.dll does not load\n");
        return 1;
    }
    const ft232h::D2xxBinding d2xx(std::move(library));
    for (int round = 0; round < kRounds; ++round) {
        if (!ListRound(d2xx, round) || !DeviceRound(d2xx, round)) {
            break;
        }
    }
    std::printf("node size %u bytes; %d rounds of 6 calls\n", static_cast<unsigned>(sizeof(ft232h::DeviceInfoNode)),
                kRounds);
    std::printf("%d passed, %d failed\n", failures == 0 ? 1 : 0, failures == 0 ? 0 : 1);
    return failures == 0 ? 0 : 1;
}
