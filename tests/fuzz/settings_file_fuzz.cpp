// Any bytes as a settings file under the write name, programmed into a fake
// device. Beyond "no crash, no overrun, no hang": whatever reaches
// FT_EEPROM_Program must be what the file says, read by an independent
// reference, and a file with a value that does not fit its field must never
// reach the device at all.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "d2xx/eeprom_record.hpp"
#include "eeprom/settings_file.hpp"
#include "tests/fuzz/fuzz_support.hpp"
#include "tests/fuzz/reference_profile.hpp"
#include "tests/support/fake_d2xx.hpp"

namespace {

using ft232h::EepromRecord;
using ft232h::EepromStrings;
using ft232h::testing::FakeEntryPoint;
namespace fuzz = ft232h::fuzz;

// The file's keys as the documented format lists them, located in the record
// by offset and width rather than through the tool's own table. Width 0 marks
// a text key; its offset is then the string's position in EepromStrings.
struct KeyLayout {
    std::string_view section;
    std::string_view key;
    std::size_t width;
    std::size_t offset;
};

#define FT232H_NUMBER(section, field)                                               \
    KeyLayout {                                                                     \
        section, #field, sizeof(EepromRecord::field), offsetof(EepromRecord, field) \
    }

constexpr KeyLayout kLayout[] = {
    {"DESC", "Manufacturer", 0, 0},
    {"DESC", "ManufacturerId", 0, 1},
    {"DESC", "Description", 0, 2},
    {"DESC", "SerialNumber", 0, 3},
    FT232H_NUMBER("COMMON", deviceType),
    FT232H_NUMBER("COMMON", VendorId),
    FT232H_NUMBER("COMMON", ProductId),
    FT232H_NUMBER("COMMON", SerNumEnable),
    FT232H_NUMBER("COMMON", MaxPower),
    FT232H_NUMBER("COMMON", SelfPowered),
    FT232H_NUMBER("COMMON", RemoteWakeup),
    FT232H_NUMBER("COMMON", PullDownEnable),
    FT232H_NUMBER("FT232H", ACSlowSlew),
    FT232H_NUMBER("FT232H", ACSchmittInput),
    FT232H_NUMBER("FT232H", ACDriveCurrent),
    FT232H_NUMBER("FT232H", ADSlowSlew),
    FT232H_NUMBER("FT232H", ADSchmittInput),
    FT232H_NUMBER("FT232H", ADDriveCurrent),
    FT232H_NUMBER("FT232H", Cbus0),
    FT232H_NUMBER("FT232H", Cbus1),
    FT232H_NUMBER("FT232H", Cbus2),
    FT232H_NUMBER("FT232H", Cbus3),
    FT232H_NUMBER("FT232H", Cbus4),
    FT232H_NUMBER("FT232H", Cbus5),
    FT232H_NUMBER("FT232H", Cbus6),
    FT232H_NUMBER("FT232H", Cbus7),
    FT232H_NUMBER("FT232H", Cbus8),
    FT232H_NUMBER("FT232H", Cbus9),
    FT232H_NUMBER("FT232H", FT1248Cpol),
    FT232H_NUMBER("FT232H", FT1248Lsb),
    FT232H_NUMBER("FT232H", FT1248FlowControl),
    FT232H_NUMBER("FT232H", IsFifo),
    FT232H_NUMBER("FT232H", IsFifoTar),
    FT232H_NUMBER("FT232H", IsFastSer),
    FT232H_NUMBER("FT232H", IsFT1248),
    FT232H_NUMBER("FT232H", PowerSaveEnable),
    FT232H_NUMBER("FT232H", DriverType),
};
#undef FT232H_NUMBER
static_assert(std::size(kLayout) == 37);

constexpr std::size_t kLongestValue = ft232h::kEepromStringSize - 1;

std::uint64_t MaximumOf(std::size_t width) {
    return (std::uint64_t{1} << (8 * width)) - 1;
}

// What the reference makes of one value: the number or string it stands
// for, or nothing when the tool must refuse it.
struct Expected {
    bool valid = false;
    std::uint64_t number = 0;
    std::string text;
    // Valid, but longer than the service hands back whole: the tool may
    // refuse it instead of programming it.
    bool mayBeRefused = false;
};

std::optional<std::uint64_t> ReferenceNumber(std::string_view text, std::uint64_t maximum) {
    unsigned base = 10;
    // Only a small x: "0X8" is no number, as Windows reads it as 0.
    if (text.size() > 2 && text[0] == '0' && text[1] == 'x') {
        base = 16;
        text.remove_prefix(2);
    }
    std::uint64_t value = 0;
    for (const char c : text) {
        unsigned digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return std::nullopt;
        }
        value = value * base + digit;
        if (value > maximum) {
            return std::nullopt;
        }
    }
    return value;
}

Expected Reference(const fuzz::ReferenceFile& file, const KeyLayout& layout) {
    const std::string text = fuzz::ReferenceRead(file, layout.section, layout.key).value_or("");
    Expected expected;
    if (layout.width == 0) {
        expected.valid = text.size() <= kLongestValue && text.find('\0') == std::string::npos;
        expected.text = text;
        return expected;
    }
    const auto number = ReferenceNumber(text, MaximumOf(layout.width));
    expected.valid = number.has_value();
    expected.number = number.value_or(0);
    expected.mayBeRefused = text.size() > kLongestValue;
    return expected;
}

// The chip keeps Manufacturer, Description and SerialNumber in 44 bytes
// together; an empty serial number given with a ManufacturerId becomes the
// 8 characters FTDI's library makes of it.
bool StringsFitTheChip(const fuzz::ReferenceFile& file) {
    const auto size = [&](const char* key) { return fuzz::ReferenceRead(file, "DESC", key).value_or("").size(); };
    const std::size_t serial = size("SerialNumber") > 0 ? size("SerialNumber") : (size("ManufacturerId") > 0 ? 8 : 0);
    return size("Manufacturer") + size("Description") + serial <= 44;
}

std::uint64_t FieldOf(const EepromRecord& record, const KeyLayout& layout) {
    unsigned char bytes[sizeof(EepromRecord)];
    std::memcpy(bytes, &record, sizeof bytes);
    std::uint64_t value = 0;
    for (std::size_t i = layout.width; i > 0; --i) {
        value = (value << 8) | bytes[layout.offset + i - 1];
    }
    return value;
}

const ft232h::EepromString& StringOf(const EepromStrings& strings, const KeyLayout& layout) {
    switch (layout.offset) {
        case 0:
            return strings.Manufacturer;
        case 1:
            return strings.ManufacturerId;
        case 2:
            return strings.Description;
        default:
            return strings.SerialNumber;
    }
}

bool HoldsExactly(const ft232h::EepromString& buffer, std::string_view text) {
    if (std::memcmp(buffer.data(), text.data(), text.size()) != 0) {
        return false;
    }
    for (std::size_t i = text.size(); i < buffer.size(); ++i) {
        if (buffer[i] != '\0') {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::filesystem::path path = fuzz::ScratchDirectory() / "ft232h_eeprom_to_write_no3.ini";
    fuzz::WriteWholeFile(path, bytes);

    ft232h::testing::FakeD2xx fake;
    ft232h::SettingsFileReport report;
    const ft232h::D2xxBinding d2xx = fake.Binding();
    const bool result = ft232h::WriteEepromFromFile(d2xx, 3, path.string(), report);

    fuzz::Require(fuzz::ReadWholeFile(path) == bytes, "programming changed the settings file");

    const fuzz::ReferenceFile reference = fuzz::ParseReferenceFile(bytes);
    bool allValid = reference.readable && StringsFitTheChip(reference);
    bool mayBeRefused = false;
    for (const KeyLayout& layout : kLayout) {
        const Expected expected = Reference(reference, layout);
        allValid = allValid && expected.valid;
        mayBeRefused = mayBeRefused || expected.mayBeRefused;
    }

    const ft232h::testing::FakeCall* program = fake.LastCallOf(FakeEntryPoint::kEepromProgram);
    if (program == nullptr) {
        fuzz::Require(!result, "success reported without programming");
        fuzz::Require(fake.calls.empty(), "a refused file still opened the device");
        fuzz::Require(report.access != ft232h::SettingsFileAccess::kRead || !report.refused.empty(),
                      "a refused file was not reported");
        fuzz::Require(!allValid || mayBeRefused, "a file of valid values was refused");
        return 0;
    }
    fuzz::Require(result, "the device took the image but the tool reports failure");
    fuzz::Require(allValid, "a value the reference refuses reached the device");
    fuzz::Require(fake.Sequence() == std::vector<FakeEntryPoint>{FakeEntryPoint::kOpen, FakeEntryPoint::kEepromProgram,
                                                                 FakeEntryPoint::kClose},
                  "not open, program, close");
    fuzz::Require(program->recordSize == ft232h::kEepromRecordSize, "record size is not 44");
    for (const KeyLayout& layout : kLayout) {
        const Expected expected = Reference(reference, layout);
        if (layout.width == 0) {
            fuzz::Require(HoldsExactly(StringOf(program->strings, layout), expected.text),
                          "a string differs from the file");
        } else {
            fuzz::Require(FieldOf(program->record, layout) == expected.number, "a number differs from the file");
        }
    }
    // Every byte that no key names stays 0: alignment9, alignment15 and alignment41.
    const std::uint8_t* record = reinterpret_cast<const std::uint8_t*>(&program->record);
    for (const std::size_t offset :
         {std::size_t{9}, std::size_t{15}, std::size_t{41}, std::size_t{42}, std::size_t{43}}) {
        fuzz::Require(record[offset] == 0, "an alignment byte is not 0");
    }
    return 0;
}
