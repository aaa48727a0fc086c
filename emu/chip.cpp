#include "emu/chip.hpp"

#include <algorithm>
#include <cstdio>
#include <optional>

namespace emu {
namespace {

// Byte offsets in the EEPROM that the chip itself reads at power-up.
constexpr std::size_t kVendorIdWord = 0x01;
constexpr std::size_t kProductIdWord = 0x02;
constexpr std::size_t kPowerWord = 0x04;       // low byte bmAttributes, high byte bMaxPower (2 mA units)
constexpr std::size_t kChipConfigByte = 0x0A;  // bit 3: the serial number string is presented
constexpr std::uint8_t kSerialEnabled = 0x08;
constexpr std::size_t kStringPointerByte = 0x0E;  // then pairs (offset, length) for manufacturer, product, serial
constexpr std::size_t kChecksumWord = kEepromWords - 1;

// The FTDI vendor requests that FTDI's library and libftdi send to open a
// chip and to read, write and erase its EEPROM; the chip STALLs any other.
constexpr std::uint8_t kReset = 0x00;
constexpr std::uint8_t kSetBaudRate = 0x03;
constexpr std::uint8_t kGetModemStatus = 0x05;
constexpr std::uint8_t kSetLatency = 0x09;
constexpr std::uint8_t kGetLatency = 0x0A;
constexpr std::uint8_t kReadEeprom = 0x90;
constexpr std::uint8_t kWriteEeprom = 0x91;
constexpr std::uint8_t kEraseEeprom = 0x92;
// IN requests, in the switches below, carry this bit beside the number.
constexpr unsigned kIn = 0x100;

// The one standard request they send over the wire: string descriptors.
// The device and configuration descriptors come from sysfs.
constexpr std::uint8_t kGetDescriptor = 0x06;
constexpr std::uint8_t kStringDescriptor = 0x03;

constexpr std::uint8_t kTypeMask = 0x60;
constexpr std::uint8_t kTypeStandard = 0x00;
constexpr std::uint8_t kTypeVendor = 0x40;
constexpr std::uint8_t kDirectionIn = 0x80;

struct TypeDefaults {
    std::uint16_t productId;
    std::uint16_t release;
    const char* product;
    int interfaces;
};

TypeDefaults DefaultsOf(ChipType type) {
    if (type == ChipType::kFt2232h) {
        return {0x6010, 0x0700, "Dual RS232-HS", 2};
    }
    return {0x6014, 0x0900, "Single RS232-HS", 1};
}

std::uint8_t EepromByte(const Eeprom& eeprom, std::size_t offset) {
    const std::uint16_t word = eeprom[(offset / 2) % kEepromWords];
    return static_cast<std::uint8_t>(offset % 2 == 0 ? word & 0xFF : word >> 8);
}

void PutLe16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

std::vector<std::uint8_t> AsciiDescriptor(const std::string& text) {
    std::vector<std::uint8_t> out{static_cast<std::uint8_t>(2 + 2 * text.size()), 0x03};
    for (const char c : text) {
        PutLe16(out, static_cast<std::uint8_t>(c));
    }
    return out;
}

// A string descriptor stored in the EEPROM: (byte offset, byte length) from
// the pointer table. The bytes are untrusted; a pointer that leaves the chip
// wraps as the chip's own address counter does, a length is taken as stored
// but never beyond a descriptor's 255 bytes, and the type byte is what the
// chip sends whatever the EEPROM says.
std::vector<std::uint8_t> StoredDescriptor(const Eeprom& eeprom, std::size_t pointerByte) {
    const std::size_t offset = EepromByte(eeprom, pointerByte);
    const std::size_t length = EepromByte(eeprom, pointerByte + 1);
    if (length < 2) {
        return {};
    }
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < length; ++i) {
        out.push_back(EepromByte(eeprom, (offset + i) % kImageBytes));
    }
    out[0] = static_cast<std::uint8_t>(length);
    out[1] = 0x03;
    return out;
}

bool IsProgrammed(const Eeprom& eeprom) {
    const bool blank = std::all_of(eeprom.begin(), eeprom.end(), [](std::uint16_t w) { return w == 0xFFFF; });
    return !blank && eeprom[kChecksumWord] == EepromChecksum(eeprom);
}

std::vector<std::uint8_t> ConfigurationDescriptor(int interfaces, std::uint8_t attributes, std::uint8_t maxPower) {
    constexpr std::size_t kPerInterface = 9 + 7 + 7;
    const auto total = static_cast<std::uint16_t>(9 + kPerInterface * static_cast<std::size_t>(interfaces));
    std::vector<std::uint8_t> out{9, 0x02};
    PutLe16(out, total);
    out.insert(out.end(), {static_cast<std::uint8_t>(interfaces), 1, 0, attributes, maxPower});
    for (int i = 0; i < interfaces; ++i) {
        const auto number = static_cast<std::uint8_t>(i);
        const auto inEndpoint = static_cast<std::uint8_t>(0x81 + 2 * i);
        const auto outEndpoint = static_cast<std::uint8_t>(0x02 + 2 * i);
        out.insert(out.end(), {9, 0x04, number, 0, 2, 0xFF, 0xFF, 0xFF, 2});
        out.insert(out.end(), {7, 0x05, inEndpoint, 0x02, 0x00, 0x02, 0});
        out.insert(out.end(), {7, 0x05, outEndpoint, 0x02, 0x00, 0x02, 0});
    }
    return out;
}

Presentation Present(ChipType type, const Eeprom& eeprom) {
    const TypeDefaults defaults = DefaultsOf(type);
    Presentation p;
    p.release = defaults.release;
    p.interfaces = defaults.interfaces;
    p.strings[0] = {4, 0x03, 0x09, 0x04};  // English (United States)
    std::uint8_t attributes = 0x80;
    std::uint8_t maxPower = 50;  // 100 mA
    if (IsProgrammed(eeprom)) {
        p.vendorId = eeprom[kVendorIdWord];
        p.productId = eeprom[kProductIdWord];
        attributes = static_cast<std::uint8_t>((eeprom[kPowerWord] & 0xFF) | 0x80);
        maxPower = static_cast<std::uint8_t>(eeprom[kPowerWord] >> 8);
        p.strings[1] = StoredDescriptor(eeprom, kStringPointerByte);
        p.strings[2] = StoredDescriptor(eeprom, kStringPointerByte + 2);
        if ((EepromByte(eeprom, kChipConfigByte) & kSerialEnabled) != 0) {
            p.strings[3] = StoredDescriptor(eeprom, kStringPointerByte + 4);
        }
    } else {
        // A blank or corrupt EEPROM: the chip falls back to its built-in
        // identity, without a serial number.
        p.vendorId = 0x0403;
        p.productId = defaults.productId;
        p.strings[1] = AsciiDescriptor("FTDI");
        p.strings[2] = AsciiDescriptor(defaults.product);
    }
    const auto stringIndex = [&p](std::size_t i) { return static_cast<std::uint8_t>(p.strings[i].empty() ? 0 : i); };
    p.deviceDescriptor = {18, 0x01, 0x00, 0x02, 0, 0, 0, 64};
    PutLe16(p.deviceDescriptor, p.vendorId);
    PutLe16(p.deviceDescriptor, p.productId);
    PutLe16(p.deviceDescriptor, p.release);
    p.deviceDescriptor.insert(p.deviceDescriptor.end(), {stringIndex(1), stringIndex(2), stringIndex(3), 1});
    p.configurationDescriptor = ConfigurationDescriptor(p.interfaces, attributes, maxPower);
    return p;
}

std::size_t Reply(std::span<std::uint8_t> data, const Setup& setup, std::span<const std::uint8_t> bytes) {
    const std::size_t n = std::min({bytes.size(), data.size(), static_cast<std::size_t>(setup.length)});
    std::copy_n(bytes.begin(), n, data.begin());
    return n;
}

bool FaultHits(Chip& chip, const Setup& setup) {
    if (chip.faults.onlyRequest && *chip.faults.onlyRequest != setup.request) {
        return false;
    }
    return chip.faultMatches++ >= chip.faults.after;
}

ControlAnswer AnswerString(const Chip& chip, const Setup& setup, std::span<std::uint8_t> data) {
    const auto index = static_cast<std::size_t>(setup.value & 0xFF);
    if (index >= chip.presented.strings.size() || chip.presented.strings[index].empty()) {
        return {Handshake::kStall, 0};
    }
    return {Handshake::kAck, Reply(data, setup, chip.presented.strings[index])};
}

// A vendor request's number, with kIn beside it for an IN request, so that
// one switch tells the two directions apart.
unsigned DirectedRequest(const Setup& setup) {
    return (setup.requestType & kDirectionIn) != 0 ? setup.request | kIn : setup.request;
}

// Empty for a request the chip does not implement.
std::optional<ControlAnswer> AnswerVendor(Chip& chip, const Setup& setup, std::span<std::uint8_t> data) {
    const std::size_t word = setup.index % kEepromWords;  // a 93C56 ignores the higher address bits
    const auto port = static_cast<std::size_t>(VendorRequestInterface(setup));
    switch (DirectedRequest(setup)) {
        case kGetModemStatus | kIn:
            return ControlAnswer{Handshake::kAck, Reply(data, setup, kIdleModemStatus)};
        case kGetLatency | kIn: {
            const std::array<std::uint8_t, 1> latency{chip.latencyMs[port]};
            return ControlAnswer{Handshake::kAck, Reply(data, setup, latency)};
        }
        case kReadEeprom | kIn: {
            const std::uint16_t value = chip.eeprom[word];
            const std::array<std::uint8_t, 2> bytes{static_cast<std::uint8_t>(value & 0xFF),
                                                    static_cast<std::uint8_t>(value >> 8)};
            return ControlAnswer{Handshake::kAck, Reply(data, setup, bytes)};
        }
        case kReset:
        case kSetBaudRate:
            return ControlAnswer{};
        case kSetLatency:
            chip.latencyMs[port] = static_cast<std::uint8_t>(std::max<std::uint16_t>(setup.value & 0xFF, 1));
            return ControlAnswer{};
        case kWriteEeprom:
            if (!chip.faults.dropWrites) {
                chip.eeprom[word] = setup.value;
            }
            return ControlAnswer{};
        case kEraseEeprom:
            if (!chip.faults.dropWrites) {
                chip.eeprom.fill(0xFFFF);
            }
            return ControlAnswer{};
    }
    return std::nullopt;
}

}  // namespace

Chip MakeChip(ChipType type, const Eeprom& eeprom, const Faults& faults) {
    Chip chip;
    chip.type = type;
    chip.eeprom = eeprom;
    chip.faults = faults;
    chip.presented = Present(type, eeprom);
    return chip;
}

std::string DescribeRequest(const Setup& setup) {
    char text[64];
    const unsigned word = setup.index;
    const unsigned type = setup.requestType & kTypeMask;
    if (type == kTypeStandard && setup.request == kGetDescriptor) {
        static const char* const kInds[] = {"?", "device", "configuration", "string"};
        const unsigned kind = setup.value >> 8;
        std::snprintf(text, sizeof text, "GET_DESCRIPTOR %s %u", kind < 4 ? kInds[kind] : "?", setup.value & 0xFFu);
        return text;
    }
    if (type != kTypeVendor) {
        std::snprintf(text, sizeof text, "request 0x%02x of type 0x%02x", setup.request, setup.requestType);
        return text;
    }
    switch (DirectedRequest(setup)) {
        case kReset:
            return setup.value == 0   ? "reset"
                   : setup.value == 1 ? "purge RX"
                   : setup.value == 2 ? "purge TX"
                                      : "reset ?";
        case kSetBaudRate:
            return "set baud rate";
        case kSetLatency:
            return "set latency timer";
        case kGetModemStatus | kIn:
            return "get modem status";
        case kGetLatency | kIn:
            return "get latency timer";
        case kReadEeprom | kIn:
            std::snprintf(text, sizeof text, "read EEPROM word 0x%02x", word);
            return text;
        case kWriteEeprom:
            std::snprintf(text, sizeof text, "write EEPROM word 0x%02x = 0x%04x", word, setup.value);
            return text;
        case kEraseEeprom:
            return "erase EEPROM";
    }
    std::snprintf(text, sizeof text, "vendor request 0x%02x", setup.request);
    return text;
}

int VendorRequestInterface(const Setup& setup) {
    return (setup.index & 0xFF) == 2 ? 1 : 0;
}

ControlAnswer AnswerControl(Chip& chip, const Setup& setup, std::span<std::uint8_t> data) {
    const bool in = (setup.requestType & kDirectionIn) != 0;
    switch (setup.requestType & kTypeMask) {
        case kTypeStandard:
            if (in && setup.request == kGetDescriptor && setup.value >> 8 == kStringDescriptor) {
                return AnswerString(chip, setup, data);
            }
            break;
        case kTypeVendor:
            if ((chip.faults.stallControl || chip.faults.failControl) && FaultHits(chip, setup)) {
                return {chip.faults.stallControl ? Handshake::kStall : Handshake::kError, 0};
            }
            if (const std::optional<ControlAnswer> answer = AnswerVendor(chip, setup, data)) {
                return *answer;
            }
            break;
    }
    return {Handshake::kStall, 0};
}

std::uint16_t EepromChecksum(const Eeprom& eeprom) {
    std::uint16_t checksum = 0xAAAA;
    for (std::size_t i = 0; i < kChecksumWord; ++i) {
        checksum = static_cast<std::uint16_t>(checksum ^ eeprom[i]);
        checksum = static_cast<std::uint16_t>((checksum << 1) | (checksum >> 15));
    }
    return checksum;
}

Eeprom FactoryImage(const std::string& serialNumber) {
    std::array<std::uint8_t, kImageBytes> bytes{};
    const auto put = [&bytes](std::size_t offset, std::uint16_t value) {
        bytes[offset] = static_cast<std::uint8_t>(value & 0xFF);
        bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
    };
    // The bytes FTDI's own library programs for an FT232H with its default
    // settings (FT_EEPROM_Program with the 232H record's defaults), seen on
    // this chip: the virtual COM port driver, FTDI's ids, bus powered at
    // 100 mA, the serial number presented, a 93C56 (0x56 at 0x1E), and two
    // words the library always writes outside the fields it documents.
    put(0x00, 0x0010);
    put(0x02, 0x0403);
    put(0x04, 0x6014);
    put(0x06, 0x0900);
    put(0x08, 0x3280);
    bytes[kChipConfigByte] = kSerialEnabled;
    bytes[0x1E] = 0x56;
    put(0x5C, 0x0302);
    put(0x8A, 0x0048);
    // The strings follow each other from word 0x50 on.
    std::size_t next = 0xA0;
    const std::array<std::string, 3> strings{"FTDI", "USB <-> Serial Converter", serialNumber};
    for (std::size_t i = 0; i < strings.size(); ++i) {
        const std::vector<std::uint8_t> descriptor = AsciiDescriptor(strings[i]);
        bytes[kStringPointerByte + 2 * i] = static_cast<std::uint8_t>(next);
        bytes[kStringPointerByte + 2 * i + 1] = static_cast<std::uint8_t>(descriptor.size());
        std::copy(descriptor.begin(), descriptor.end(), bytes.begin() + static_cast<std::ptrdiff_t>(next));
        next += descriptor.size();
    }
    Eeprom eeprom = EepromFromBytes(bytes);
    eeprom[kChecksumWord] = EepromChecksum(eeprom);
    return eeprom;
}

std::array<std::uint8_t, kImageBytes> ImageBytes(const Eeprom& eeprom) {
    std::array<std::uint8_t, kImageBytes> out{};
    for (std::size_t i = 0; i < kEepromWords; ++i) {
        out[2 * i] = static_cast<std::uint8_t>(eeprom[i] & 0xFF);
        out[2 * i + 1] = static_cast<std::uint8_t>(eeprom[i] >> 8);
    }
    return out;
}

Eeprom EepromFromBytes(std::span<const std::uint8_t, kImageBytes> bytes) {
    Eeprom eeprom{};
    for (std::size_t i = 0; i < kEepromWords; ++i) {
        eeprom[i] = static_cast<std::uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    }
    return eeprom;
}

std::string StringDescriptorText(const std::vector<std::uint8_t>& descriptor) {
    std::string out;
    for (std::size_t i = 2; i + 1 < descriptor.size(); i += 2) {
        const auto unit = static_cast<unsigned>(descriptor[i] | (descriptor[i + 1] << 8));
        out.push_back(unit >= 0x20 && unit < 0x7F ? static_cast<char>(unit) : '?');
    }
    return out;
}

}  // namespace emu
