#include "app/command_line.hpp"

#include <array>
#include <charconv>
#include <limits>

#include "app/messages.hpp"
#include "app/print_message.hpp"
#include "app/usage.hpp"
#include "eeprom/ascii_case.hpp"
#include "eeprom/erase_init.hpp"
#include "eeprom/settings_file.hpp"
#include "eeprom/string_area.hpp"
#include "eeprom/ym2610_profile.hpp"

namespace ft232h {
namespace {

// Programming from a settings file: whatever kept the file from the device
// is reported before the command's own line.
bool ProgramFromSettingsFile(const CommandContext& c) {
    SettingsFileReport report;
    const bool programmed = WriteEepromFromFile(c.d2xx, c.deviceIndex, c.settingsPath, report);
    const PathText path{c.settingsPath};
    if (report.access == SettingsFileAccess::kMissing) {
        PrintMessage(c.console, messages::kSettingsFileMissing, {path});
    } else if (report.access == SettingsFileAccess::kUnreadable) {
        PrintMessage(c.console, messages::kSettingsFileUnreadable, {path});
    }
    if (!report.stringsBeyondTheChip.empty()) {
        std::string keys;
        for (const std::string_view key : report.stringsBeyondTheChip) {
            keys.append(keys.empty() ? "" : ", ").append(key);
        }
        PrintMessage(c.console, messages::kStringsBeyondTheChip,
                     {path, std::string_view(keys), static_cast<std::int32_t>(kMaxStoredStringBytes)});
    }
    for (const RefusedValue& refused : report.refused) {
        PrintMessage(c.console, messages::kInvalidValue, {path, refused.key, std::string_view(refused.shown)});
    }
    return programmed;
}

// Setting the profile: strings the library could not program back are named
// before the command's own line, which would otherwise leave the user
// guessing at the cable.
bool SetProfile(const CommandContext& c) {
    Ym2610SetReport report;
    const bool set = SetYm2610Profile(c.d2xx, c.deviceIndex, report);
    if (report.stringsBeyondTheChip) {
        PrintMessage(c.console, messages::kChipStringsBeyondTheChip,
                     {c.deviceIndex, static_cast<std::int32_t>(kMaxStoredStringBytes)});
    }
    return set;
}

// Dumping into a settings file: a file that could not be written is named
// before the command's own line, which would otherwise send the user to the
// chip.
bool DumpToSettingsFile(const CommandContext& c) {
    SettingsFileReport report;
    const bool dumped = ReadEepromToFile(c.d2xx, c.deviceIndex, c.settingsPath, report);
    if (report.access == SettingsFileAccess::kUnwritable) {
        PrintMessage(c.console, messages::kSettingsFileUnwritable, {PathText{c.settingsPath}});
    }
    return dumped;
}

constexpr std::array<CommandRow, 6> kCommandTable{{
    {"-r",
     kDumpFilePrefix,
     DumpToSettingsFile,
     {messages::kReadDone, OutcomeLine::Names::kDeviceThenFile},
     {messages::kReadFailed},
     false},
    {"-w",
     kWriteFilePrefix,
     ProgramFromSettingsFile,
     {messages::kWriteDone, OutcomeLine::Names::kFileThenDevice},
     {messages::kWriteFailed},
     true},
    {"-chk",
     {},
     [](const CommandContext& c) { return CheckYm2610Profile(c.d2xx, c.deviceIndex); },
     {messages::kCheckPassed},
     {messages::kCheckFailed},
     false},
    {"-set", {}, SetProfile, {messages::kSetDone}, {messages::kSetFailed}, true},
    {"-erase",
     {},
     [](const CommandContext& c) { return EraseEeprom(c.d2xx, c.deviceIndex); },
     {messages::kEraseDone},
     {messages::kEraseFailed},
     true},
    {"-init",
     {},
     [](const CommandContext& c) { return InitEeprom(c.d2xx, c.deviceIndex); },
     {messages::kInitDone},
     {messages::kInitFailed},
     true},
}};

// What strtol skips before a number: the C locale's white space.
bool IsCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

void PrintOutcome(Console& console, const OutcomeLine& line, std::int32_t deviceIndex, PathText file) {
    switch (line.names) {
        case OutcomeLine::Names::kDevice:
            PrintMessage(console, line.format, {deviceIndex});
            return;
        case OutcomeLine::Names::kDeviceThenFile:
            PrintMessage(console, line.format, {deviceIndex, file});
            return;
        case OutcomeLine::Names::kFileThenDevice:
            PrintMessage(console, line.format, {file, deviceIndex});
            return;
    }
}

}  // namespace

std::span<const CommandRow> CommandTable() {
    return kCommandTable;
}

const CommandRow* MatchOption(std::string_view argument) {
    for (const CommandRow& row : kCommandTable) {
        // The option word's terminator takes part in the comparison, so an
        // argument longer than the word never matches it. Bytes outside ASCII
        // (a Shift_JIS character, say) never equal an option word's letters.
        if (argument.size() > row.optionWord.size()) {
            continue;
        }
        bool same = true;
        for (std::size_t i = 0; i < argument.size() && same; ++i) {
            same = FoldAsciiCase(argument[i]) == FoldAsciiCase(row.optionWord[i]);
        }
        if (same) {
            return &row;
        }
    }
    return nullptr;
}

std::optional<std::int32_t> ParseDeviceNumber(std::string_view argument) {
    std::size_t i = 0;
    while (i < argument.size() && IsCSpace(argument[i])) {
        ++i;
    }
    bool negative = false;
    if (i < argument.size() && (argument[i] == '+' || argument[i] == '-')) {
        negative = argument[i] == '-';
        ++i;
    }
    const std::string_view digits = argument.substr(i);
    if (digits.empty() || digits.front() < '0' || digits.front() > '9') {
        return std::nullopt;
    }
    // Parse the magnitude wider than the result so that -2147483648 fits.
    std::int64_t magnitude = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
    if (error != std::errc{} || end != digits.data() + digits.size()) {
        return std::nullopt;
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(value);
}

const DeviceEntry* FindDevice(const DeviceTable& table, std::int32_t deviceIndex) {
    for (const DeviceEntry& entry : table) {
        if (entry.deviceIndex == deviceIndex) {
            return &entry;
        }
    }
    return nullptr;
}

std::string SettingsFilePath(std::string_view directory, std::string_view prefix, std::int32_t deviceIndex) {
    std::string path;
    path.reserve(directory.size() + prefix.size() + 16);
    path.append(directory).append(prefix).append(std::to_string(deviceIndex)).append(".ini");
    return path;
}

void ShowReplugNotice(Console& console, std::int32_t deviceIndex) {
    console.BeginNotice();
    PrintMessage(console, messages::kReplugNotice, {deviceIndex});
    console.EndNotice();
}

void RunCommandLine(Console& console, const D2xxBinding& d2xx, const DeviceTable& table,
                    const std::optional<std::string>& moduleDirectory, std::string_view option,
                    std::string_view number) {
    const CommandRow* row = MatchOption(option);
    if (row == nullptr) {
        PrintUsage(console);
        PrintMessage(console, messages::kEmptyLine);
        PrintMessage(console, messages::kWrongOption);
        return;
    }
    const std::optional<std::int32_t> deviceNumber = ParseDeviceNumber(number);
    const DeviceEntry* device = deviceNumber ? FindDevice(table, *deviceNumber) : nullptr;
    if (device == nullptr) {
        PrintMessage(console, messages::kNoSuchDevice, {number});
        return;
    }
    std::string settingsPath;
    bool result = false;
    if (row->settingsFilePrefix.empty()) {
        result = row->operation({d2xx, console, device->deviceIndex, settingsPath});
    } else if (moduleDirectory) {
        settingsPath = SettingsFilePath(*moduleDirectory, row->settingsFilePrefix, device->deviceIndex);
        result = row->operation({d2xx, console, device->deviceIndex, settingsPath});
    }
    // Without the executable's directory there is no settings file to use,
    // and a file elsewhere (the working directory) is never a substitute.
    PrintOutcome(console, result ? row->trueLine : row->falseLine, device->deviceIndex, PathText{settingsPath});
    if (result && row->replugNoticeAfterSuccess) {
        ShowReplugNotice(console, device->deviceIndex);
    }
}

}  // namespace ft232h
