#include "sim/sim_state.hpp"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <system_error>

namespace ft232h::sim {

namespace {

// A state file is a few hundred lines at most; anything far bigger is not one.
constexpr std::uintmax_t kMaxStateFileSize = 1024 * 1024;
constexpr std::uintmax_t kMaxLogFileSize = 64 * 1024 * 1024;

constexpr std::array<std::pair<EntryPoint, std::string_view>, 7> kEntryPointNames{{
    {EntryPoint::kCreateDeviceInfoList, "FT_CreateDeviceInfoList"},
    {EntryPoint::kGetDeviceInfoList, "FT_GetDeviceInfoList"},
    {EntryPoint::kOpen, "FT_Open"},
    {EntryPoint::kClose, "FT_Close"},
    {EntryPoint::kEepromRead, "FT_EEPROM_Read"},
    {EntryPoint::kEepromProgram, "FT_EEPROM_Program"},
    {EntryPoint::kEraseEe, "FT_EraseEE"},
}};

// Removes the first line from `text` and gives it without its LF or CR LF.
std::string_view TakeLine(std::string_view& text) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    return line;
}

// The words of a fault line's value or of a log line, each space a
// separator (two in a row make an empty word, which nothing accepts).
std::vector<std::string_view> Words(std::string_view text) {
    std::vector<std::string_view> words;
    while (!text.empty()) {
        const std::size_t space = text.find(' ');
        words.push_back(text.substr(0, space));
        text.remove_prefix(space == std::string_view::npos ? text.size() : space + 1);
    }
    return words;
}

bool IsSpaceOrTab(char c) {
    return c == ' ' || c == '\t';
}

bool IsPrintableAscii(char c) {
    return c >= 0x20 && c <= 0x7E;
}

// The state file's numbers are read here, not with the tool's own reader
// (eeprom/settings_file.cpp), although the two look alike: the simulator
// stands in for FTDI's library and must stay free to disagree with the tool,
// so that a mistake in the tool's reading cannot pass the tests by being
// shared with the world it is tested against.
int HexDigitValue(char c) {
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

std::optional<std::uint32_t> ParseNumber(std::string_view text) {
    std::uint32_t base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (char c : text) {
        const int digit = HexDigitValue(c);
        if (digit < 0 || static_cast<std::uint32_t>(digit) >= base) {
            return std::nullopt;
        }
        value = value * base + static_cast<std::uint64_t>(digit);
        if (value > UINT32_MAX) {
            return std::nullopt;
        }
    }
    return static_cast<std::uint32_t>(value);
}

std::optional<std::string> ParseHex(std::string_view text) {
    if (text.size() % 2 != 0) {
        return std::nullopt;
    }
    std::string bytes;
    bytes.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = HexDigitValue(text[i]);
        const int low = HexDigitValue(text[i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<char>((high << 4) | low));
    }
    return bytes;
}

void AppendHexByte(std::string& text, unsigned char byte) {
    static constexpr char kDigits[] = "0123456789abcdef";
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 0x0F]);
}

// Plain text is kept for values that survive being written to the end of a
// line and read back: printable, and no blank at either end.
bool FitsPlainText(std::string_view bytes) {
    return !bytes.empty() && std::all_of(bytes.begin(), bytes.end(), IsPrintableAscii) && bytes.front() != ' ' &&
           bytes.back() != ' ';
}

// The value of a byte field given as `key text` or `key_hex digits`.
std::optional<std::string> ParseBytes(bool hex, std::string_view value, std::size_t maxSize, std::string& what) {
    std::optional<std::string> bytes;
    if (hex) {
        bytes = ParseHex(value);
        if (!bytes) {
            what = "malformed hex value";
            return std::nullopt;
        }
    } else {
        if (!std::all_of(value.begin(), value.end(), IsPrintableAscii)) {
            what = "text value with bytes outside printable ASCII (use the _hex form)";
            return std::nullopt;
        }
        bytes = std::string(value);
    }
    if (bytes->size() > maxSize) {
        what = "value longer than " + std::to_string(maxSize) + " bytes";
        return std::nullopt;
    }
    return bytes;
}

template <std::size_t N>
std::array<char, N> FixedField(std::string_view bytes) {
    std::array<char, N> field{};
    std::copy_n(bytes.begin(), std::min(bytes.size(), N), field.begin());
    return field;
}

// One device's lines, checked for repeats and for strings without a record.
struct DeviceBuilder {
    SimDevice device;
    std::set<std::string, std::less<>> seen;
    bool erasedGiven = false;
    bool stringGiven = false;
};

class StateParser {
public:
    bool Parse(std::string_view text, SimState& state, std::string& error) {
        std::size_t lineNumber = 0;
        while (!text.empty()) {
            ++lineNumber;
            const std::string_view line = TakeLine(text);
            std::string what;
            if (!ParseLine(line, what)) {
                error = "line " + std::to_string(lineNumber) + ": " + what;
                return false;
            }
        }
        std::string what;
        if (!FinishDevice(what)) {
            error = "line " + std::to_string(lineNumber) + ": " + what;
            return false;
        }
        state = std::move(state_);
        return true;
    }

private:
    bool ParseLine(std::string_view line, std::string& what) {
        while (!line.empty() && IsSpaceOrTab(line.front())) {
            line.remove_prefix(1);
        }
        if (line.empty() || line.front() == '#') {
            return true;
        }
        const std::size_t space = line.find(' ');
        const std::string_view key = line.substr(0, space);
        const std::string_view value = space == std::string_view::npos ? std::string_view{} : line.substr(space + 1);

        if (key == "device") {
            return StartDevice(value, what);
        }
        if (key == "fault") {
            return ParseFault(value, what);
        }
        if (key == "log" || key == "create_count" || key == "get_count") {
            return ParseOption(key, value, what);
        }
        if (!current_) {
            what = "unknown key '" + std::string(key) + "'" + (IsDeviceKey(key) ? " outside a device block" : "");
            return false;
        }
        return ParseDeviceLine(key, value, what);
    }

    static bool IsDeviceKey(std::string_view key) {
        static constexpr std::array<std::string_view, 13> kFields{"type",
                                                                  "flags",
                                                                  "id",
                                                                  "loc_id",
                                                                  "serial",
                                                                  "description",
                                                                  "in_use",
                                                                  "eeprom",
                                                                  "eeprom_record",
                                                                  "eeprom_manufacturer",
                                                                  "eeprom_manufacturer_id",
                                                                  "eeprom_description",
                                                                  "eeprom_serial"};
        if (key.ends_with("_hex")) {
            key.remove_suffix(4);
        }
        return std::find(kFields.begin(), kFields.end(), key) != kFields.end();
    }

    static bool ParseFlag(std::string_view value, bool& flag, std::string& what) {
        if (value == "0" || value == "1") {
            flag = value == "1";
            return true;
        }
        what = "expected 0 or 1, got '" + std::string(value) + "'";
        return false;
    }

    static bool ParseNumberInto(std::string_view value, std::uint32_t& number, std::string& what) {
        const auto parsed = ParseNumber(value);
        if (!parsed) {
            what = "expected an unsigned 32-bit number, got '" + std::string(value) + "'";
            return false;
        }
        number = *parsed;
        return true;
    }

    bool ParseOption(std::string_view key, std::string_view value, std::string& what) {
        if (!optionsSeen_.insert(std::string(key)).second) {
            what = "'" + std::string(key) + "' given twice";
            return false;
        }
        if (key == "log") {
            return ParseFlag(value, state_.log, what);
        }
        std::uint32_t number = 0;
        if (!ParseNumberInto(value, number, what)) {
            return false;
        }
        (key == "create_count" ? state_.createCount : state_.getCount) = number;
        return true;
    }

    bool ParseFault(std::string_view value, std::string& what) {
        const std::vector<std::string_view> words = Words(value);
        // Optional pairs after NAME STATUS: device INDEX, then after N.
        std::optional<std::string_view> device;
        std::optional<std::string_view> after;
        std::size_t next = 2;
        if (words.size() >= next + 2 && words[next] == "device") {
            device = words[next + 1];
            next += 2;
        }
        if (words.size() >= next + 2 && words[next] == "after") {
            after = words[next + 1];
            next += 2;
        }
        if (words.size() < 2 || words.size() != next) {
            what = "expected 'fault NAME STATUS [device INDEX] [after N]'";
            return false;
        }
        SimFault fault;
        const auto entryPoint = EntryPointFromName(words[0]);
        if (!entryPoint) {
            what = "unknown entry point '" + std::string(words[0]) + "'";
            return false;
        }
        fault.entryPoint = *entryPoint;
        if (!ParseNumberInto(words[1], fault.status, what)) {
            return false;
        }
        if (fault.status == kFtOk) {
            what = "a fault needs a non-zero status";
            return false;
        }
        if (device) {
            if (fault.entryPoint == EntryPoint::kCreateDeviceInfoList ||
                fault.entryPoint == EntryPoint::kGetDeviceInfoList) {
                what = "the list calls concern no single device";
                return false;
            }
            std::uint32_t index = 0;
            if (!ParseNumberInto(*device, index, what)) {
                return false;
            }
            fault.deviceIndex = index;
        }
        if (after && !ParseNumberInto(*after, fault.after, what)) {
            return false;
        }
        state_.faults.push_back(fault);
        return true;
    }

    bool StartDevice(std::string_view value, std::string& what) {
        if (!FinishDevice(what)) {
            return false;
        }
        std::uint32_t index = 0;
        if (!ParseNumberInto(value, index, what)) {
            return false;
        }
        if (index != state_.devices.size()) {
            what = "expected 'device " + std::to_string(state_.devices.size()) + "', devices are numbered in order";
            return false;
        }
        current_.emplace();
        return true;
    }

    bool FinishDevice(std::string& what) {
        if (!current_) {
            return true;
        }
        if (current_->stringGiven && !current_->device.eeprom.programmed) {
            what =
                "device " + std::to_string(state_.devices.size()) + ": eeprom strings given without eeprom_record_hex";
            return false;
        }
        if (current_->erasedGiven && current_->device.eeprom.programmed) {
            what =
                "device " + std::to_string(state_.devices.size()) + ": 'eeprom erased' together with eeprom_record_hex";
            return false;
        }
        state_.devices.push_back(std::move(current_->device));
        current_.reset();
        return true;
    }

    bool ParseDeviceLine(std::string_view key, std::string_view value, std::string& what) {
        const bool hex = key.ends_with("_hex");
        const std::string_view field = hex ? key.substr(0, key.size() - 4) : key;
        if (!current_->seen.insert(std::string(field)).second) {
            what = "'" + std::string(field) + "' given twice for one device";
            return false;
        }
        SimDevice& device = current_->device;
        SimEeprom& eeprom = device.eeprom;

        if (!hex) {
            if (key == "type") {
                return ParseNumberInto(value, device.type, what);
            }
            if (key == "flags") {
                return ParseNumberInto(value, device.flags, what);
            }
            if (key == "id") {
                return ParseNumberInto(value, device.id, what);
            }
            if (key == "loc_id") {
                return ParseNumberInto(value, device.locId, what);
            }
            if (key == "in_use") {
                return ParseFlag(value, device.inUse, what);
            }
            if (key == "eeprom") {
                if (value != "erased") {
                    what = "expected 'eeprom erased'";
                    return false;
                }
                current_->erasedGiven = true;
                return true;
            }
        }
        if (hex && field == "eeprom_record") {
            const auto bytes = ParseHex(value);
            if (!bytes || bytes->size() != kEepromRecordSize) {
                what = "eeprom_record_hex needs exactly " + std::to_string(kEepromRecordSize * 2) + " hex digits";
                return false;
            }
            std::transform(bytes->begin(), bytes->end(), eeprom.record.begin(),
                           [](char c) { return static_cast<std::uint8_t>(c); });
            eeprom.programmed = true;
            return true;
        }
        if (field == "serial" || field == "description") {
            const std::size_t size = field == "serial" ? kNodeSerialSize : kNodeDescriptionSize;
            const auto bytes = ParseBytes(hex, value, size, what);
            if (!bytes) {
                return false;
            }
            if (field == "serial") {
                device.serialNumber = FixedField<kNodeSerialSize>(*bytes);
            } else {
                device.description = FixedField<kNodeDescriptionSize>(*bytes);
            }
            return true;
        }
        std::string* target = nullptr;
        if (field == "eeprom_manufacturer") {
            target = &eeprom.manufacturer;
        } else if (field == "eeprom_manufacturer_id") {
            target = &eeprom.manufacturerId;
        } else if (field == "eeprom_description") {
            target = &eeprom.description;
        } else if (field == "eeprom_serial") {
            target = &eeprom.serialNumber;
        }
        if (target == nullptr) {
            what = "unknown key '" + std::string(key) + "'";
            return false;
        }
        const auto bytes = ParseBytes(hex, value, kMaxEepromStringLength, what);
        if (!bytes) {
            return false;
        }
        *target = *bytes;
        current_->stringGiven = true;
        return true;
    }

    SimState state_;
    std::set<std::string, std::less<>> optionsSeen_;
    std::optional<DeviceBuilder> current_;
};

template <std::size_t N>
void WriteFixedField(std::ostringstream& out, std::string_view key, const std::array<char, N>& field) {
    const auto end = std::find(field.begin(), field.end(), '\0');
    const std::string_view text(field.data(), static_cast<std::size_t>(end - field.begin()));
    const bool zeroTail = std::all_of(end, field.end(), [](char c) { return c == '\0'; });
    if (zeroTail && text.empty()) {
        return;
    }
    if (zeroTail && FitsPlainText(text)) {
        out << "  " << key << ' ' << text << '\n';
        return;
    }
    // Trailing zero bytes come back as padding, so they need not be written.
    std::size_t used = N;
    while (used > 0 && field[used - 1] == '\0') {
        --used;
    }
    out << "  " << key << "_hex " << ToHex(std::string_view(field.data(), used)) << '\n';
}

void WriteString(std::ostringstream& out, std::string_view key, const std::string& value) {
    if (value.empty()) {
        return;
    }
    if (FitsPlainText(value)) {
        out << "  " << key << ' ' << value << '\n';
    } else {
        out << "  " << key << "_hex " << ToHex(value) << '\n';
    }
}

// Paths are UTF-8 (on Windows, where the module's own path is taken in
// UTF-16), so that a folder named in any script works there too.
std::filesystem::path FilePath(const std::string& utf8) {
    return {std::u8string(utf8.begin(), utf8.end())};
}

std::string Hex32(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(value));
    return text;
}

bool ReadWholeFile(const std::string& path, std::uintmax_t maxSize, std::string& contents, std::string& error) {
    std::ifstream in(FilePath(path), std::ios::binary);
    if (!in) {
        error = "cannot open " + path;
        return false;
    }
    std::string data;
    char buffer[4096];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        data.append(buffer, static_cast<std::size_t>(in.gcount()));
        if (data.size() > maxSize) {
            error = path + " is too large";
            return false;
        }
    }
    if (in.bad()) {
        error = "cannot read " + path;
        return false;
    }
    contents = std::move(data);
    return true;
}

}  // namespace

std::string_view EntryPointName(EntryPoint entryPoint) {
    for (const auto& [known, name] : kEntryPointNames) {
        if (known == entryPoint) {
            return name;
        }
    }
    return "?";
}

std::optional<EntryPoint> EntryPointFromName(std::string_view name) {
    for (const auto& [entryPoint, known] : kEntryPointNames) {
        if (known == name) {
            return entryPoint;
        }
    }
    return std::nullopt;
}

bool ParseState(std::string_view text, SimState& state, std::string& error) {
    StateParser parser;
    return parser.Parse(text, state, error);
}

std::string FormatState(const SimState& state) {
    std::ostringstream out;
    out << "# ftd2xx simulator state\n";
    if (state.log) {
        out << "log 1\n";
    }
    if (state.createCount) {
        out << "create_count " << *state.createCount << '\n';
    }
    if (state.getCount) {
        out << "get_count " << *state.getCount << '\n';
    }
    for (const SimFault& fault : state.faults) {
        out << "fault " << EntryPointName(fault.entryPoint) << ' ' << fault.status;
        if (fault.deviceIndex) {
            out << " device " << *fault.deviceIndex;
        }
        if (fault.after != 0) {
            out << " after " << fault.after;
        }
        out << '\n';
    }
    for (std::size_t i = 0; i < state.devices.size(); ++i) {
        const SimDevice& device = state.devices[i];
        out << "device " << i << '\n';
        out << "  type " << device.type << '\n';
        out << "  flags " << Hex32(device.flags) << '\n';
        out << "  id " << Hex32(device.id) << '\n';
        out << "  loc_id " << Hex32(device.locId) << '\n';
        WriteFixedField(out, "serial", device.serialNumber);
        WriteFixedField(out, "description", device.description);
        if (device.inUse) {
            out << "  in_use 1\n";
        }
        const SimEeprom& eeprom = device.eeprom;
        if (!eeprom.programmed) {
            out << "  eeprom erased\n";
            continue;
        }
        out << "  eeprom_record_hex " << ToHex(eeprom.record) << '\n';
        WriteString(out, "eeprom_manufacturer", eeprom.manufacturer);
        WriteString(out, "eeprom_manufacturer_id", eeprom.manufacturerId);
        WriteString(out, "eeprom_description", eeprom.description);
        WriteString(out, "eeprom_serial", eeprom.serialNumber);
    }
    return out.str();
}

LoadResult LoadStateFile(const std::string& path, SimState& state, std::string& error) {
    std::error_code ec;
    const bool exists = std::filesystem::exists(FilePath(path), ec);
    if (!exists && !ec) {
        return LoadResult::kNotFound;
    }
    std::string text;
    if (!ReadWholeFile(path, kMaxStateFileSize, text, error)) {
        return LoadResult::kInvalid;
    }
    std::string what;
    if (!ParseState(text, state, what)) {
        error = path + ": " + what;
        return LoadResult::kInvalid;
    }
    return LoadResult::kLoaded;
}

bool SaveStateFile(const std::string& path, const SimState& state, std::string& error) {
    const std::string temporary = path + ".new";
    {
        std::ofstream out(FilePath(temporary), std::ios::binary | std::ios::trunc);
        const std::string text = FormatState(state);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.close();
        if (!out) {
            error = "cannot write " + temporary;
            std::error_code ignored;
            std::filesystem::remove(FilePath(temporary), ignored);
            return false;
        }
    }
    std::error_code ec;
    std::filesystem::rename(FilePath(temporary), FilePath(path), ec);
    if (ec) {
        error = "cannot replace " + path + ": " + ec.message();
        std::error_code ignored;
        std::filesystem::remove(FilePath(temporary), ignored);
        return false;
    }
    return true;
}

std::string LogPathForState(const std::string& statePath) {
    const std::size_t separator = statePath.find_last_of("/\\");
    const std::string directory = separator == std::string::npos ? std::string{} : statePath.substr(0, separator + 1);
    return directory + kLogFileName;
}

RecordBytes ToRecordBytes(const EepromRecord& record) {
    return std::bit_cast<RecordBytes>(record);
}

EepromRecord FromRecordBytes(const RecordBytes& bytes) {
    return std::bit_cast<EepromRecord>(bytes);
}

std::string ToHex(std::span<const std::uint8_t> bytes) {
    std::string text;
    text.reserve(bytes.size() * 2);
    for (std::uint8_t byte : bytes) {
        AppendHexByte(text, byte);
    }
    return text;
}

std::string ToHex(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size() * 2);
    for (char c : bytes) {
        AppendHexByte(text, static_cast<unsigned char>(c));
    }
    return text;
}

const std::string* SimLogEntry::Argument(std::string_view name) const {
    for (const auto& [key, value] : arguments) {
        if (key == name) {
            return &value;
        }
    }
    return nullptr;
}

std::string FormatLogEntry(const SimLogEntry& entry) {
    std::string line = entry.entryPoint;
    for (const auto& [key, value] : entry.arguments) {
        line += ' ';
        line += key;
        line += '=';
        line += value;
    }
    line += " -> ";
    line += std::to_string(entry.status);
    return line;
}

bool ParseLog(std::string_view text, std::vector<SimLogEntry>& entries, std::string& error) {
    std::vector<SimLogEntry> parsed;
    std::size_t lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const std::vector<std::string_view> words = Words(TakeLine(text));
        // Only this library writes the log, so a line it cannot read means a
        // damaged file, which is all there is to say of it.
        const auto status =
            words.size() >= 3 && words[words.size() - 2] == "->" ? ParseNumber(words.back()) : std::nullopt;
        SimLogEntry entry;
        entry.status = status.value_or(0);
        bool wellFormed = status.has_value();
        for (std::size_t i = 1; wellFormed && i + 2 < words.size(); ++i) {
            const std::size_t equals = words[i].find('=');
            wellFormed = equals != std::string_view::npos && equals != 0;
            entry.arguments.emplace_back(std::string(words[i].substr(0, equals)),
                                         std::string(words[i].substr(equals + 1)));
        }
        if (!wellFormed) {
            error = "line " + std::to_string(lineNumber) + ": expected 'NAME key=value ... -> STATUS'";
            return false;
        }
        entry.entryPoint = std::string(words.front());
        parsed.push_back(std::move(entry));
    }
    entries = std::move(parsed);
    return true;
}

bool ReadLogFile(const std::string& path, std::vector<SimLogEntry>& entries, std::string& error) {
    std::error_code ec;
    if (!std::filesystem::exists(FilePath(path), ec) && !ec) {
        entries.clear();
        return true;
    }
    std::string text;
    if (!ReadWholeFile(path, kMaxLogFileSize, text, error)) {
        return false;
    }
    return ParseLog(text, entries, error);
}

bool AppendLogEntry(const std::string& path, const SimLogEntry& entry) {
    std::ofstream out(FilePath(path), std::ios::binary | std::ios::app);
    const std::string line = FormatLogEntry(entry) + '\n';
    out.write(line.data(), static_cast<std::streamsize>(line.size()));
    out.close();
    return static_cast<bool>(out);
}

}  // namespace ft232h::sim
