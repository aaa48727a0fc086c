#include "eeprom/settings_file.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>
#include <variant>
#include <vector>

#include "eeprom/confirmed_read.hpp"
#include "eeprom/settings_service.hpp"
#include "eeprom/string_area.hpp"

namespace ft232h {

namespace {

using TextField = EepromString EepromStrings::*;
template <typename Number>
using NumberField = Number EepromRecord::*;
using Field =
    std::variant<TextField, NumberField<std::uint32_t>, NumberField<std::uint16_t>, NumberField<std::uint8_t>>;

template <typename... Handlers>
struct Overloaded : Handlers... {
    using Handlers::operator()...;
};
// Clang before 17 cannot deduce an aggregate's template arguments by itself.
template <typename... Handlers>
Overloaded(Handlers...) -> Overloaded<Handlers...>;

// The values FTDI's library keeps as they are written into an FT232H, as
// measured with it on a chip: from `lowest` to `highest` in steps of `step`.
// Any other value it changes silently (MaxPower 99 becomes 98, a drive
// current of 5 becomes 4, a flag of 2 becomes 1) or refuses (a C bus
// function above 12, a vendor or product id of 0, a device type other than
// the FT232H's), so a file holding one is refused instead.
struct ValueSet {
    std::uint32_t lowest = 0;
    std::uint32_t highest = 0;
    std::uint32_t step = 1;

    [[nodiscard]] constexpr bool Holds(std::uint32_t value) const {
        return value >= lowest && value <= highest && (value - lowest) % step == 0;
    }
};

constexpr ValueSet kOnOff{0, 1, 1};
constexpr ValueSet kFt232hDeviceType{kDeviceTypeFt232h, kDeviceTypeFt232h, 1};
// A zero id is refused by the library, and a vendor id of 0xFFFF is an
// erased chip's: the library programs it, then reads the chip as one that
// holds nothing.
constexpr ValueSet kVendorId{1, 0xFFFE, 1};
constexpr ValueSet kProductId{1, 0xFFFF, 1};
// The chip counts in units of 2 mA, and the library stops at 500 mA.
constexpr ValueSet kMaxPower{0, 500, 2};
constexpr ValueSet kDriveCurrent{4, 16, 4};
// Functions 0 to 12 on every pin; the library refuses the rest.
constexpr ValueSet kCbusFunction{0, 12, 1};
// Strings are bounded by their buffers and by the chip's room for them.
constexpr ValueSet kText{};

// The chip keeps one channel mode (UART when none is set); given two, the
// library keeps the first of IsFifo, IsFifoTar, IsFastSer and IsFT1248 and
// drops the others.
enum class Group { kNone, kChannelMode };

// One key of the file, the part of the image it holds and the values the
// chip keeps. Its width is the field's own type, so no width or offset is
// written twice.
struct Setting {
    std::string_view section;
    std::string_view key;
    Field field;
    ValueSet values;
    Group group = Group::kNone;
};

constexpr std::string_view kDesc = "DESC";
constexpr std::string_view kCommon = "COMMON";
constexpr std::string_view kFt232h = "FT232H";

// Both directions walk this one table; the dump writes the keys in its order.
constexpr auto kSettings = std::to_array<Setting>({
    {kDesc, "Manufacturer", &EepromStrings::Manufacturer, kText},
    {kDesc, "ManufacturerId", &EepromStrings::ManufacturerId, kText},
    {kDesc, "Description", &EepromStrings::Description, kText},
    {kDesc, "SerialNumber", &EepromStrings::SerialNumber, kText},
    {kCommon, "deviceType", &EepromRecord::deviceType, kFt232hDeviceType},
    {kCommon, "VendorId", &EepromRecord::VendorId, kVendorId},
    {kCommon, "ProductId", &EepromRecord::ProductId, kProductId},
    {kCommon, "SerNumEnable", &EepromRecord::SerNumEnable, kOnOff},
    {kCommon, "MaxPower", &EepromRecord::MaxPower, kMaxPower},
    {kCommon, "SelfPowered", &EepromRecord::SelfPowered, kOnOff},
    {kCommon, "RemoteWakeup", &EepromRecord::RemoteWakeup, kOnOff},
    {kCommon, "PullDownEnable", &EepromRecord::PullDownEnable, kOnOff},
    {kFt232h, "ACSlowSlew", &EepromRecord::ACSlowSlew, kOnOff},
    {kFt232h, "ACSchmittInput", &EepromRecord::ACSchmittInput, kOnOff},
    {kFt232h, "ACDriveCurrent", &EepromRecord::ACDriveCurrent, kDriveCurrent},
    {kFt232h, "ADSlowSlew", &EepromRecord::ADSlowSlew, kOnOff},
    {kFt232h, "ADSchmittInput", &EepromRecord::ADSchmittInput, kOnOff},
    {kFt232h, "ADDriveCurrent", &EepromRecord::ADDriveCurrent, kDriveCurrent},
    {kFt232h, "Cbus0", &EepromRecord::Cbus0, kCbusFunction},
    {kFt232h, "Cbus1", &EepromRecord::Cbus1, kCbusFunction},
    {kFt232h, "Cbus2", &EepromRecord::Cbus2, kCbusFunction},
    {kFt232h, "Cbus3", &EepromRecord::Cbus3, kCbusFunction},
    {kFt232h, "Cbus4", &EepromRecord::Cbus4, kCbusFunction},
    {kFt232h, "Cbus5", &EepromRecord::Cbus5, kCbusFunction},
    {kFt232h, "Cbus6", &EepromRecord::Cbus6, kCbusFunction},
    {kFt232h, "Cbus7", &EepromRecord::Cbus7, kCbusFunction},
    {kFt232h, "Cbus8", &EepromRecord::Cbus8, kCbusFunction},
    {kFt232h, "Cbus9", &EepromRecord::Cbus9, kCbusFunction},
    {kFt232h, "FT1248Cpol", &EepromRecord::FT1248Cpol, kOnOff},
    {kFt232h, "FT1248Lsb", &EepromRecord::FT1248Lsb, kOnOff},
    {kFt232h, "FT1248FlowControl", &EepromRecord::FT1248FlowControl, kOnOff},
    {kFt232h, "IsFifo", &EepromRecord::IsFifo, kOnOff, Group::kChannelMode},
    {kFt232h, "IsFifoTar", &EepromRecord::IsFifoTar, kOnOff, Group::kChannelMode},
    {kFt232h, "IsFastSer", &EepromRecord::IsFastSer, kOnOff, Group::kChannelMode},
    {kFt232h, "IsFT1248", &EepromRecord::IsFT1248, kOnOff, Group::kChannelMode},
    {kFt232h, "PowerSaveEnable", &EepromRecord::PowerSaveEnable, kOnOff},
    {kFt232h, "DriverType", &EepromRecord::DriverType, kOnOff},
});
static_assert(kSettings.size() == 37);
// Every set fits its field, so a value in its set is never cut.
static_assert(std::ranges::all_of(kSettings, [](const Setting& setting) {
    return std::visit(Overloaded{
                          [](TextField) { return true; },
                          [&]<typename Number>(NumberField<Number>) {
                              return setting.values.highest <= std::numeric_limits<Number>::max() &&
                                     setting.values.lowest <= setting.values.highest && setting.values.step > 0;
                          },
                      },
                      setting.field);
}));
// The four strings lead the table in the order of EepromStrings.
static_assert(kSettings[0].key == "Manufacturer" && kSettings[1].key == "ManufacturerId" &&
              kSettings[2].key == "Description" && kSettings[3].key == "SerialNumber");

// A string buffer holds at most this many bytes before its terminator. The
// same bound serves number values: no number that fits a field needs more.
constexpr std::size_t kLongestValue = kEepromStringSize - 1;
// How much of a refused value the message shows.
constexpr std::size_t kLongestShownValue = kLongestValue;

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

// Stores one value read from the file; false when it is not a number in
// the key's set (an empty value is 0) or a string its buffer can hold,
// leaving the field as it was.
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
                              if (!value || !setting.values.Holds(*value)) {
                                  return false;
                              }
                              record.*field = static_cast<Number>(*value);
                              return true;
                          },
                      },
                      setting.field);
}

// Whether a number key holds anything but 0 in the record.
bool IsSet(const Setting& setting, const EepromRecord& record) {
    return std::visit(Overloaded{
                          [](TextField) { return false; },
                          [&](auto field) { return record.*field != 0; },
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

// The string keys that take room on the chip, when the strings together do
// not fit it; none when they do. Programming them would corrupt the image
// or crash FTDI's library with the chip already erased.
std::vector<std::string_view> StringsBeyondTheChip(const std::vector<SettingsValue>& values) {
    const StoredStringBytes stored =
        StoredStringBytesOf(values[0].text, values[1].text, values[2].text, values[3].text);
    std::vector<std::string_view> keys;
    if (stored.Total() > kMaxStoredStringBytes) {
        const std::array<std::size_t, 4> taken{stored.manufacturer, stored.manufacturerId, stored.description,
                                               stored.serialNumber};
        for (std::size_t i = 0; i < taken.size(); ++i) {
            if (taken[i] > 0) {
                keys.push_back(kSettings[i].key);
            }
        }
    }
    return keys;
}

}  // namespace

bool ReadEepromToFile(const D2xxBinding& d2xx, std::int32_t deviceIndex, const std::string& settingsPath,
                      SettingsFileReport& report) {
    report = SettingsFileReport{};
    return WithOpenDevice(d2xx, deviceIndex, [&](FtHandle handle) {
        EepromStrings strings{};
        EepromRecord record{};
        if (!ReadConfirmedEeprom(d2xx, handle, record, strings)) {
            return false;
        }
        std::array<std::string, kSettings.size()> values;
        std::array<SettingsEntry, kSettings.size()> entries;
        for (std::size_t i = 0; i < kSettings.size(); ++i) {
            values[i] = DumpedValue(kSettings[i], record, strings);
            entries[i] = {kSettings[i].section, kSettings[i].key, values[i]};
        }
        // A value that cannot be written keeps the others out too: a file
        // holding some keys of this chip and some of another would program a
        // chip that is neither. That is the chip's doing, not the file's.
        const SettingsWrite written = WriteSettings(settingsPath, entries);
        if (written == SettingsWrite::kFileFailed) {
            report.access = SettingsFileAccess::kUnwritable;
        }
        return written == SettingsWrite::kWritten;
    });
}

bool WriteEepromFromFile(const D2xxBinding& d2xx, std::int32_t deviceIndex, const std::string& settingsPath,
                         SettingsFileReport& report) {
    report = SettingsFileReport{};
    EepromStrings strings{};
    std::array<SettingsKey, kSettings.size()> keys;
    for (std::size_t i = 0; i < kSettings.size(); ++i) {
        keys[i] = {kSettings[i].section, kSettings[i].key};
    }
    const SettingsRead read = ReadSettings(settingsPath, keys, kLongestValue);
    if (read.file != SettingsFileRead::kRead) {
        report.access =
            read.file == SettingsFileRead::kMissing ? SettingsFileAccess::kMissing : SettingsFileAccess::kUnreadable;
        return false;
    }
    const std::vector<SettingsValue>& values = read.values;
    // Each string may be good on its own while together they are not: that
    // is said once, naming them, rather than as a bad value of each.
    report.stringsBeyondTheChip = StringsBeyondTheChip(values);
    std::array<bool, kSettings.size()> refused{};
    EepromRecord record{};
    std::vector<std::size_t> modesSet;
    for (std::size_t i = 0; i < kSettings.size(); ++i) {
        const Setting& setting = kSettings[i];
        // A character the code page lacks would program another string.
        if (!values[i].exact || !StoreValue(setting, values[i].text, record, strings)) {
            refused[i] = true;
        } else if (setting.group == Group::kChannelMode && IsSet(setting, record)) {
            modesSet.push_back(i);
        }
    }
    // Two channel modes cannot both be kept: each one set is named.
    if (modesSet.size() > 1) {
        for (const std::size_t i : modesSet) {
            refused[i] = true;
        }
    }
    // Every bad value is reported, so one run shows all there is to fix.
    for (std::size_t i = 0; i < kSettings.size(); ++i) {
        if (refused[i]) {
            report.refused.push_back({kSettings[i].key, ShownValue(values[i].text)});
        }
    }
    if (!report.refused.empty() || !report.stringsBeyondTheChip.empty()) {
        return false;
    }
    return WithOpenDevice(d2xx, deviceIndex,
                          [&](FtHandle handle) { return d2xx.ProgramEeprom(handle, record, strings) == kFtOk; });
}

}  // namespace ft232h
