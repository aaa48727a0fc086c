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
#include <vector>

#include "app/executable_path.hpp"
#include "d2xx/d2xx_binding.hpp"

namespace {

// One round of every entry point the tool lists and dumps with, against the
// simulator's demo state: FT232H at 0 and 3, an FT2232H's channels at 1 and 2.
const char* FailedStep(const ft232h::D2xxBinding& d2xx) {
    std::uint32_t count = 0;
    if (d2xx.CreateDeviceInfoList(count) != ft232h::kFtOk || count != 4) {
        return "FT_CreateDeviceInfoList";
    }
    std::vector<ft232h::DeviceInfoNode> nodes(count);
    if (d2xx.GetDeviceInfoList(nodes.data(), count) != ft232h::kFtOk || count != 4 ||
        std::strcmp(nodes[3].SerialNumber, "FT9ZP2MC") != 0) {
        return "FT_GetDeviceInfoList, the fourth node at the library's stride";
    }
    ft232h::FtHandle handle = nullptr;
    if (d2xx.Open(3, handle) != ft232h::kFtOk) {
        return "FT_Open";
    }
    ft232h::EepromRecord record;
    ft232h::EepromStrings strings;
    const bool read = d2xx.ReadEeprom(handle, record, strings) == ft232h::kFtOk && record.VendorId == 0x0403 &&
                      std::strcmp(strings.SerialNumber.data(), "FT9ZP2MC") == 0;
    d2xx.Close(handle);
    return read ? nullptr : "FT_EEPROM_Read";
}

}  // namespace

int main() {
    auto library = ft232h::LoadD2xxLibrary(ft232h::ExecutableDirectory().value_or(std::string()));
    if (!library) {
        std::printf("FAILED: ftd2xx.dll does not load\n0 passed, 1 failed\n");
        return 1;
    }
    const ft232h::D2xxBinding d2xx(std::move(library));
    constexpr int kRounds = 2000;
    for (int round = 0; round < kRounds; ++round) {
        if (const char* step = FailedStep(d2xx)) {
            std::printf("FAILED in round %d: %s\n0 passed, 1 failed\n", round, step);
            return 1;
        }
    }
    // The read is made twice: six calls a round.
    std::printf("node size %u bytes; %d rounds of 6 calls\n1 passed, 0 failed\n",
                static_cast<unsigned>(sizeof(ft232h::DeviceInfoNode)), kRounds);
    return 0;
}
