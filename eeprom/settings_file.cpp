#include "eeprom/settings_file.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>
#include <variant>
#include <vector>

#include "eeprom/profile_file.hpp"

namespace ft232h {

namespace {

using TextField = EepromString EepromStrings::*;
template <typename Number>
using NumberField = Number EepromRecord::*;
using Field =
    std::variant<TextField, NumberField<std::uint32_t>, NumberField<std::uint16_t>, NumberField<std::uint8_t>>;

// One key of the file and the part of the image it holds. Its width is the
// field's own type, so no width or offset is written twice.
struct Setting {
    std::string_view section;
    std::string_view key;
    Field field;
};

constexpr std::string_view kDesc = "DESC";
constexpr std::string_view kCommon = "COMMON";
constexpr std::string_view kFt232h = "FT232H";

// Both directions walk this one table; the dump writes the keys in its order.
constexpr auto kSettings = std::to_array<Setting>({
    {kDesc, "Manufacturer", &EepromStrings::Manufacturer},
    {kDesc, "ManufacturerId", &EepromStrings::ManufacturerId},
    {kDesc, "Description", &EepromStrings::Description},
    {kDesc, "SerialNumber", &EepromStrings::SerialNumber},
    {kCommon, "deviceType", &EepromRecord::deviceType},
    {kCommon, "VendorId", &EepromRecord::VendorId},
    {kCommon, "ProductId", &EepromRecord::ProductId},
    {kCommon, "SerNumEnable", &EepromRecord::SerNumEnable},
    {kCommon, "MaxPower", &EepromRecord::MaxPower},
    {kCommon, "SelfPowered", &EepromRecord::SelfPowered},
    {kCommon, "RemoteWakeup", &EepromRecord::RemoteWakeup},
    {kCommon, "PullDownEnable", &EepromRecord::PullDownEnable},
    {kFt232h, "ACSlowSlew", &EepromRecord::ACSlowSlew},
    {kFt232h, "ACSchmittInput", &EepromRecord::ACSchmittInput},
    {kFt232h, "ACDriveCurrent", &EepromRecord::ACDriveCurrent},
    {kFt232h, "ADSlowSlew", &EepromRecord::ADSlowSlew},
    {kFt232h, "ADSchmittInput", &EepromRecord::ADSchmittInput},
    {kFt232h, "ADDriveCurrent", &EepromRecord::ADDriveCurrent},
    {kFt232h, "Cbus0", &EepromRecord::Cbus0},
    {kFt232h, "Cbus1", &EepromRecord::Cbus1},
    {kFt232h, "Cbus2", &EepromRecord::Cbus2},
    {kFt232h, "Cbus3", &EepromRecord::Cbus3},
    {kFt232h, "Cbus4", &EepromRecord::Cbus4},
    {kFt232h, "Cbus5", &EepromRecord::Cbus5},
    {kFt232h, "Cbus6", &EepromRecord::Cbus6},
    {kFt232h, "Cbus7", &EepromRecord::Cbus7},
    {kFt232h, "Cbus8", &EepromRecord::Cbus8},
    {kFt232h, "Cbus9", &EepromRecord::Cbus9},
    {kFt232h, "FT1248Cpol", &EepromRecord::FT1248Cpol},
    {kFt232h, "FT1248Lsb", &EepromRecord::FT1248Lsb},
    {kFt232h, "FT1248FlowControl", &EepromRecord::FT1248FlowControl},
    {kFt232h, "IsFifo", &EepromRecord::IsFifo},
    {kFt232h, "IsFifoTar", &EepromRecord::IsFifoTar},
    {kFt232h, "IsFastSer", &EepromRecord::IsFastSer},
    {kFt232h, "IsFT1248", &EepromRecord::IsFT1248},
    {kFt232h, "PowerSaveEnable", &EepromRecord::PowerSaveEnable},
    {kFt232h, "DriverType", &EepromRecord::DriverType},
});
static_assert(kSettings.size() == 37);
// The four strings lead the table in the order of EepromStrings.
static_assert(kSettings[0].key == "Manufacturer" && kSettings[1].key == "ManufacturerId" &&
              kSettings[2].key == "Description" && kSettings[3].key == "SerialNumber");

// A string buffer holds at most this many bytes before its terminator. The
// same bound serves number values: no number that fits a field needs more.
constexpr std::size_t kLongestValue = kEepromStringSize - 1;
// How much of a refused value the message shows.
constexpr std::size_t kLongestShownValue = kLongestValue;

template <typename... Handlers>
struct Overloaded : Handlers... {
    using Handlers::operator()...;
};
// Clang before 17 cannot deduce an aggregate's template arguments by itself.
template <typename... Handlers>
Overloaded(Handlers...) -> Overloaded<Handlers...>;

std::string_view TextOf(const EepromString& buffer) {
    // A buffer the library left without a terminator is read as its first
    // 63 bytes: no more could be programmed back.
    const auto* const end = std::find(buffer.begin(), buffer.begin() + kLongestValue, '\0');
    return {buffer.data(), static_cast<std::size_t>(end - buffer.begin())};
}

std::string DumpedValue(const Setting& setting, const EepromRecord& record, const EepromStrings& strings) {
    return std::visit(Overloaded{
                          [&](TextField field) {
                              // Quoted, so that blanks at either end survive the
                              // trimming on the way back.
                              std::string value = "\"";
                              value.append(TextOf(strings.*field));
                              value.push_back('"');
                              return value;
                          },
                          [&](auto field) { return std::to_string(record.*field); },
                      },
                      setting.field);
}

int DigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Decimal digits, or hexadecimal ones after 0x; empty is 0. Nothing else,
// not even a sign, and nothing above `maximum`: cutting an out-of-range
// value to its field would program a number nobody wrote. "0X" is refused:
// GetPrivateProfileInt reads such a value as 0, so taking it as hexadecimal
// would program something else than the same file does on Windows, and 0 is
// not what was meant either.
std::optional<std::uint32_t> ParseNumber(std::string_view text, std::uint32_t maximum) {
    std::uint32_t base = 10;
    if (text.size() > 2 && text[0] == '0' && text[1] == 'x') {
        base = 16;
        text.remove_prefix(2);
    }
    std::uint64_t value = 0;
    for (const char c : text) {
        const int digit = DigitValue(c);
        if (digit < 0 || static_cast<std::uint32_t>(digit) >= base) {
            return std::nullopt;
        }
        value = value * base + static_cast<std::uint32_t>(digit);
        if (value > maximum) {
            return std::nullopt;
        }
    }
    return static_cast<std::uint32_t>(value);
}

// Stores one value read from the file; false when it is not a valid value
// for its field, leaving the field as it was.
bool StoreValue(const Setting& setting, std::string_view text, EepromRecord& record, EepromStrings& strings) {
    return std::visit(Overloaded{
                          [&](TextField field) {
                              // A NUL would end the string early on the device.
                              if (text.size() > kLongestValue || text.find('\0') != std::string_view::npos) {
                                  return false;
                              }
                              EepromString& buffer = strings.*field;
                              buffer.fill('\0');
                              std::memcpy(buffer.data(), text.data(), text.size());
                              return true;
                          },
                          [&]<typename Number>(NumberField<Number> field) {
                              // A longer value came back cut short: leading
                              // zeros could then hide the digits that count.
                              const auto value = text.size() > kLongestValue
                                                     ? std::nullopt
                                                     : ParseNumber(text, std::numeric_limits<Number>::max());
                              if (!value) {
                                  return false;
                              }
                              record.*field = static_cast<Number>(*value);
                              return true;
                          },
                      },
                      setting.field);
}

// A refused value as the message shows it: whole when short, otherwise its
// start and "..." so that one bad line cannot flood the console.
std::string ShownValue(std::string_view text) {
    const std::size_t kept = std::min({text.size(), kLongestShownValue, text.find('\0')});
    std::string shown(text.substr(0, kept));
    if (kept < text.size()) {
        shown.append("...");
    }
    return shown;
}

// The string keys to refuse because the strings together do not fit the
// chip: each one that takes room there. Programming them would corrupt the
// image or crash FTDI's library with the chip already erased.
std::array<bool, kSettings.size()> StringsBeyondTheChip(const std::vector<std::string>& texts) {
    std::array<bool, kSettings.size()> refused{};
    const StoredStringBytes stored = StoredStringBytesOf(texts[0], texts[1], texts[2], texts[3]);
    if (stored.Total() > kMaxStoredStringBytes) {
        const std::array<std::size_t, 4> taken{stored.manufacturer, stored.manufacturerId, stored.description,
                                               stored.serialNumber};
        for (std::size_t i = 0; i < taken.size(); ++i) {
            refused[i] = taken[i] > 0;
        }
    }
    return refused;
}

}  // namespace

bool ReadEepromToFile(const D2xxBinding& d2xx, std::int32_t deviceIndex, const std::string& settingsPath,
                      SettingsFileReport& report) {
    report = SettingsFileReport{};
    return WithOpenDevice(d2xx, deviceIndex, [&](FtHandle handle) {
        EepromStrings strings{};
        EepromRecord record{};
        if (d2xx.ReadEeprom(handle, record, strings) != kFtOk) {
            return false;
        }
        std::array<std::string, kSettings.size()> values;
        std::array<ProfileEntry, kSettings.size()> entries;
        for (std::size_t i = 0; i < kSettings.size(); ++i) {
            values[i] = DumpedValue(kSettings[i], record, strings);
            entries[i] = {kSettings[i].section, kSettings[i].key, values[i]};
        }
        // A value that cannot be written keeps the others out too: a file
        // holding some keys of this chip and some of another would program a
        // chip that is neither. That is the chip's doing, not the file's.
        const ProfileWrite written = WriteProfileStrings(settingsPath, entries);
        if (written == ProfileWrite::kFileFailed) {
            report.access = SettingsFileAccess::kUnwritable;
        }
        return written == ProfileWrite::kWritten;
    });
}

bool WriteEepromFromFile(const D2xxBinding& d2xx, std::int32_t deviceIndex, const std::string& settingsPath,
                         SettingsFileReport& report) {
    report = SettingsFileReport{};
    EepromStrings strings{};
    if (!FileExists(settingsPath)) {
        report.access = SettingsFileAccess::kMissing;
        return false;
    }
    std::array<ProfileKey, kSettings.size()> keys;
    for (std::size_t i = 0; i < kSettings.size(); ++i) {
        keys[i] = {kSettings[i].section, kSettings[i].key};
    }
    const auto texts = ReadProfileStrings(settingsPath, keys, kLongestValue);
    if (!texts) {
        report.access = SettingsFileAccess::kUnreadable;
        return false;
    }
    const std::array<bool, kSettings.size()> overflowing = StringsBeyondTheChip(*texts);
    EepromRecord record{};
    for (std::size_t i = 0; i < kSettings.size(); ++i) {
        const Setting& setting = kSettings[i];
        const std::string& text = (*texts)[i];
        // Every bad value is reported, so one run shows all there is to fix.
        if (!StoreValue(setting, text, record, strings) || overflowing[i]) {
            report.refused.push_back({setting.key, ShownValue(text)});
        }
    }
    if (!report.refused.empty()) {
        return false;
    }
    return WithOpenDevice(d2xx, deviceIndex,
                          [&](FtHandle handle) { return d2xx.ProgramEeprom(handle, record, strings) == kFtOk; });
}

}  // namespace ft232h
