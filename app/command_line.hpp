// The option word, the device number and the one command they select.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "app/console.hpp"
#include "app/device_table.hpp"
#include "d2xx/d2xx_binding.hpp"

namespace ft232h {

inline constexpr std::string_view kDumpFilePrefix = "ft232h_eeprom_no";
inline constexpr std::string_view kWriteFilePrefix = "ft232h_eeprom_to_write_no";

// What an operation of the command table is given.
struct CommandContext {
    const D2xxBinding& d2xx;
    Console& console;
    std::int32_t deviceIndex;
    // Full path of the settings file; empty for commands without one.
    const std::string& settingsPath;
};

// A command's outcome line, and the order in which it names the device
// number (%d) and, for a file command, the settings file (%s).
struct OutcomeLine {
    enum class Names { kDevice, kDeviceThenFile, kFileThenDevice };
    const char* format;
    Names names = Names::kDevice;
};

struct CommandRow {
    std::string_view optionWord;
    // The settings-file name prefix, or empty when the command has no file.
    std::string_view settingsFilePrefix;
    bool (*operation)(const CommandContext& context);
    OutcomeLine trueLine;
    OutcomeLine falseLine;
    bool replugNoticeAfterSuccess;
};

// The six commands in matching order: -r, -w, -chk, -set, -erase, -init.
std::span<const CommandRow> CommandTable();

// The first row of which `argument` is a prefix without regard to ASCII case
// ("-R" and "" select -r, "-c" selects -chk); nullptr when none is, as for an
// argument longer than every option word it starts like ("-chk2").
const CommandRow* MatchOption(std::string_view argument);

// A device number is a whole decimal integer: blanks before it, an optional
// sign, digits and nothing after, within 32 bits ("07" is 7). Anything else
// ("abc", "1x", "") is not a number, so that a typo can never select a
// device the user did not mean.
std::optional<std::int32_t> ParseDeviceNumber(std::string_view argument);

// The first entry of the table with that device number, or nullptr.
const DeviceEntry* FindDevice(const DeviceTable& table, std::int32_t deviceIndex);

// `directory` (with its trailing separator), the prefix, the number in
// decimal and ".ini".
std::string SettingsFilePath(std::string_view directory, std::string_view prefix, std::int32_t deviceIndex);

// "NO.%d の FT232H を一度抜き差しして下さい" in bright red where the console
// can show colour, plainly elsewhere.
void ShowReplugNotice(Console& console, std::int32_t deviceIndex);

// Carries out the command that `option` and `number` select and reports its
// outcome; prints the usage text and the wrong-option line when no command
// matches, and the not-found line when no FT232H has that number.
void RunCommandLine(Console& console, const D2xxBinding& d2xx, const DeviceTable& table,
                    const std::optional<std::string>& moduleDirectory, std::string_view option,
                    std::string_view number);

}  // namespace ft232h
