// The simulator's world where no row reaches it: a hand-written state that
// the loader does not understand is refused, with the line that is at fault,
// rather than read as some other world; and a world that does not load
// fails every call of the library.
#include "sim/sim_state.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <string>

#include "d2xx/d2xx_binding.hpp"
#include "sim/sim_in_process.hpp"
#include "tests/settings/temporary_directory.hpp"

namespace ft232h::sim {
namespace {

TEST(SimState, RefusesWhatItDoesNotUnderstandNamingTheLine) {
    const std::string record = "eeprom_record_hex " + std::string(88, '0');
    const struct {
        std::string text;
        const char* line;
    } cases[] = {
        {"bogus 1", "line 1"},
        {"type 8", "line 1"},
        {"log 2", "line 1"},
        {"log 1\nlog 1", "line 2"},
        {"create_count 0x100000000", "line 1"},
        {"get_count 0x", "line 1"},
        {"fault FT_Open", "line 1"},
        {"fault FT_Nothing 2", "line 1"},
        {"fault FT_Open x", "line 1"},
        {"fault FT_Open 0", "line 1"},
        {"fault FT_GetDeviceInfoList 4 device 0", "line 1"},
        {"fault FT_Open 4 device -1", "line 1"},
        {"fault FT_Open 4 after", "line 1"},
        {"fault FT_Open 4 after 1 device 2", "line 1"},
        {"fault FT_Open 4 device 2 after x", "line 1"},
        {"device 1", "line 1"},
        {"device 0\neeprom_serial FT1", "line 2"},
        {"device 0\neeprom erased\n" + record, "line 3"},
        {"device 0\neeprom erased\n" + record + "\ndevice 1", "line 4"},
        {"device 0\ntype 8\ntype_hex 08", "line 3"},
        {"device 0\neeprom gone", "line 2"},
        {"device 0\nin_use 2", "line 2"},
        {"device 0\neeprom_record_hex 00", "line 2"},
        {"device 0\nserial_hex 0g", "line 2"},
        {"device 0\nserial \x01", "line 2"},
        {"device 0\nserial 12345678901234567", "line 2"},
        {"device 0\nbogus 1", "line 2"},
        {"device 0\n" + record + "\neeprom_serial_hex 4", "line 3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        SimState state;
        state.devices.emplace_back().type = 5;
        state.faults.emplace_back();
        const SimState before = state;
        std::string error;
        EXPECT_FALSE(ParseState(c.text, state, error));
        EXPECT_TRUE(error.starts_with(std::string(c.line) + ": ")) << error;
        EXPECT_EQ(state, before);
    }
}

// The rows compare worlds through this same code, so only a round trip
// shows a setting that saving drops.
TEST(SimState, SavingKeepsEverySetting) {
    const std::string text =
        "log 1\ncreate_count 7\nget_count 0x2\nfault FT_Open 3 device 1 after 2\nfault FT_EEPROM_Read 4 after 1\n"
        "fault FT_Close 1\ndevice 0\ntype 8\nflags 2\nid 0x04036014\nloc_id 0x112A1B3C\nin_use 1\n"
        "serial FT1\ndescription_hex 8365\neeprom_record_hex " +
        std::string(86, '0') +
        "01\n"
        "eeprom_manufacturer M\neeprom_manufacturer_id MI\neeprom_description D\neeprom_serial S\n"
        "device 1\neeprom erased\n";
    SimState state;
    std::string error;
    ASSERT_TRUE(ParseState(text, state, error)) << error;
    SimState again;
    ASSERT_TRUE(ParseState(FormatState(state), again, error)) << error;
    EXPECT_EQ(again, state);
    EXPECT_EQ(state.faults[0].after, 2U);
    EXPECT_EQ(state.devices[0].locId, 0x112A1B3CU);
}

TEST(SimState, AWorldThatDoesNotLoadFailsEveryCall) {
    const testing::TemporaryDirectory directory;
    const std::string path = directory.File(kStateFileName);
    testing::WriteBytes(path, "device 0\ntype eight\n");
    ASSERT_EQ(setenv(kStateEnvironmentVariable, path.c_str(), 1), 0);
    const D2xxBinding d2xx(InProcessLibrary());
    std::uint32_t count = 0;
    DeviceInfoNode node{};
    FtHandle handle = nullptr;
    EepromRecord record{};
    EepromStrings strings{};
    EXPECT_EQ(d2xx.CreateDeviceInfoList(count), kFtOtherError);
    EXPECT_EQ(d2xx.GetDeviceInfoList(&node, count), kFtOtherError);
    EXPECT_EQ(d2xx.Open(0, handle), kFtOtherError);
    EXPECT_EQ(d2xx.ReadEeprom(&node, record, strings), kFtOtherError);
    EXPECT_EQ(d2xx.ProgramEeprom(&node, record, strings), kFtOtherError);
    EXPECT_EQ(d2xx.EraseEeprom(&node), kFtOtherError);
    // The binding drops FT_Close's status; the library's own symbol gives it.
    const auto close = reinterpret_cast<FtCloseFunction>(InProcessLibrary()->FindSymbol("FT_Close"));
    EXPECT_EQ(close(&node), kFtOtherError);
}

}  // namespace
}  // namespace ft232h::sim
