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

// The two modem-status bytes an idle FTDI chip reports: CTS and DSR clear,
// bit 0 always set; line status: transmitter holding and shift registers empty.
constexpr std::array<std::uint8_t, 2> kIdleModemStatus{0x01, 0x60};

struct TypeDefaults {
    std::uint16_t product_id;
    std::uint16_t release;
    const char* product;
    int interfaces;
};

TypeDefaults defaults_of(ChipType type) {
    if (type == ChipType::ft2232h) {
        return {0x6010, 0x0700, "Dual RS232-HS", 2};
    }
    return {0x6014, 0x0900, "Single RS232-HS", 1};
}

std::uint8_t eeprom_byte(const Eeprom& eeprom, std::size_t offset) {
    const std::uint16_t word = eeprom[(offset / 2) % kEepromWords];
    return static_cast<std::uint8_t>(offset % 2 == 0 ? word & 0xFF : word >> 8);
}

void put_le16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

std::vector<std::uint8_t> ascii_descriptor(const std::string& text) {
    std::vector<std::uint8_t> out{static_cast<std::uint8_t>(2 + 2 * text.size()), 0x03};
    for (const char c : text) {
        put_le16(out, static_cast<std::uint8_t>(c));
    }
    return out;
}

// A string descriptor stored in the EEPROM: (byte offset, byte length) from
// the pointer table. The bytes are untrusted; a pointer that leaves the chip
// wraps as the chip's own address counter does, a length is taken as stored
// but never beyond a descriptor's 255 bytes, and the type byte is what the
// chip sends whatever the EEPROM says.
std::vector<std::uint8_t> stored_descriptor(const Eeprom& eeprom, std::size_t pointer_byte) {
    const std::size_t offset = eeprom_byte(eeprom, pointer_byte);
    const std::size_t length = eeprom_byte(eeprom, pointer_byte + 1);
    if (length < 2) {
        return {};
    }
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < length; ++i) {
        out.push_back(eeprom_byte(eeprom, (offset + i) % kImageBytes));
    }
    out[0] = static_cast<std::uint8_t>(length);
    out[1] = 0x03;
    return out;
}

bool is_programmed(const Eeprom& eeprom) {
    const bool blank = std::all_of(eeprom.begin(), eeprom.end(), [](std::uint16_t w) { return w == 0xFFFF; });
    return !blank && eeprom[kChecksumWord] == eeprom_checksum(eeprom);
}

std::vector<std::uint8_t> configuration_descriptor(int interfaces, std::uint8_t attributes, std::uint8_t max_power) {
    constexpr std::size_t kPerInterface = 9 + 7 + 7;
    const auto total = static_cast<std::uint16_t>(9 + kPerInterface * static_cast<std::size_t>(interfaces));
    std::vector<std::uint8_t> out{9, 0x02};
    put_le16(out, total);
    out.insert(out.end(), {static_cast<std::uint8_t>(interfaces), 1, 0, attributes, max_power});
    for (int i = 0; i < interfaces; ++i) {
        const auto number = static_cast<std::uint8_t>(i);
        const auto in_endpoint = static_cast<std::uint8_t>(0x81 + 2 * i);
        const auto out_endpoint = static_cast<std::uint8_t>(0x02 + 2 * i);
        out.insert(out.end(), {9, 0x04, number, 0, 2, 0xFF, 0xFF, 0xFF, 2});
        out.insert(out.end(), {7, 0x05, in_endpoint, 0x02, 0x00, 0x02, 0});
        out.insert(out.end(), {7, 0x05, out_endpoint, 0x02, 0x00, 0x02, 0});
    }
    return out;
}

Presentation present(ChipType type, const Eeprom& eeprom) {
    const TypeDefaults defaults = defaults_of(type);
    Presentation p;
    p.release = defaults.release;
    p.interfaces = defaults.interfaces;
    p.strings[0] = {4, 0x03, 0x09, 0x04};  // English (United States)
    std::uint8_t attributes = 0x80;
    std::uint8_t max_power = 50;  // 100 mA
    if (is_programmed(eeprom)) {
        p.vendor_id = eeprom[kVendorIdWord];
        p.product_id = eeprom[kProductIdWord];
        attributes = static_cast<std::uint8_t>((eeprom[kPowerWord] & 0xFF) | 0x80);
        max_power = static_cast<std::uint8_t>(eeprom[kPowerWord] >> 8);
        p.strings[1] = stored_descriptor(eeprom, kStringPointerByte);
        p.strings[2] = stored_descriptor(eeprom, kStringPointerByte + 2);
        if ((eeprom_byte(eeprom, kChipConfigByte) & kSerialEnabled) != 0) {
            p.strings[3] = stored_descriptor(eeprom, kStringPointerByte + 4);
        }
    } else {
        // A blank or corrupt EEPROM: the chip falls back to its built-in
        // identity, without a serial number.
        p.vendor_id = 0x0403;
        p.product_id = defaults.product_id;
        p.strings[1] = ascii_descriptor("FTDI");
        p.strings[2] = ascii_descriptor(defaults.product);
    }
    const auto string_index = [&p](std::size_t i) { return static_cast<std::uint8_t>(p.strings[i].empty() ? 0 : i); };
    p.device_descriptor = {18, 0x01, 0x00, 0x02, 0, 0, 0, 64};
    put_le16(p.device_descriptor, p.vendor_id);
    put_le16(p.device_descriptor, p.product_id);
    put_le16(p.device_descriptor, p.release);
    p.device_descriptor.insert(p.device_descriptor.end(), {string_index(1), string_index(2), string_index(3), 1});
    p.configuration_descriptor = configuration_descriptor(p.interfaces, attributes, max_power);
    return p;
}

std::size_t reply(std::span<std::uint8_t> data, const Setup& setup, std::span<const std::uint8_t> bytes) {
    const std::size_t n = std::min({bytes.size(), data.size(), static_cast<std::size_t>(setup.length)});
    std::copy_n(bytes.begin(), n, data.begin());
    return n;
}

bool fault_hits(Chip& chip, const Setup& setup) {
    if (chip.faults.only_request && *chip.faults.only_request != setup.request) {
        return false;
    }
    return chip.fault_matches++ >= chip.faults.after;
}

ControlAnswer answer_string(const Chip& chip, const Setup& setup, std::span<std::uint8_t> data) {
    const auto index = static_cast<std::size_t>(setup.value & 0xFF);
    if (index >= chip.presented.strings.size() || chip.presented.strings[index].empty()) {
        return {Handshake::stall, 0};
    }
    return {Handshake::ack, reply(data, setup, chip.presented.strings[index])};
}

// A vendor request's number, with kIn beside it for an IN request, so that
// one switch tells the two directions apart.
unsigned directed_request(const Setup& setup) {
    return (setup.request_type & kDirectionIn) != 0 ? setup.request | kIn : setup.request;
}

// Empty for a request the chip does not implement.
std::optional<ControlAnswer> answer_vendor(Chip& chip, const Setup& setup, std::span<std::uint8_t> data) {
    const std::size_t word = setup.index % kEepromWords;  // a 93C56 ignores the higher address bits
    const auto port = static_cast<std::size_t>(vendor_request_interface(setup));
    switch (directed_request(setup)) {
        case kGetModemStatus | kIn:
            return ControlAnswer{Handshake::ack, reply(data, setup, kIdleModemStatus)};
        case kGetLatency | kIn: {
            const std::array<std::uint8_t, 1> latency{chip.latency_ms[port]};
            return ControlAnswer{Handshake::ack, reply(data, setup, latency)};
        }
        case kReadEeprom | kIn: {
            const std::uint16_t value = chip.eeprom[word];
            const std::array<std::uint8_t, 2> bytes{static_cast<std::uint8_t>(value & 0xFF),
                                                    static_cast<std::uint8_t>(value >> 8)};
            return ControlAnswer{Handshake::ack, reply(data, setup, bytes)};
        }
        case kReset:
        case kSetBaudRate:
            return ControlAnswer{};
        case kSetLatency:
            chip.latency_ms[port] = static_cast<std::uint8_t>(std::max<std::uint16_t>(setup.value & 0xFF, 1));
            return ControlAnswer{};
        case kWriteEeprom:
            if (!chip.faults.drop_writes) {
                chip.eeprom[word] = setup.value;
            }
            return ControlAnswer{};
        case kEraseEeprom:
            if (!chip.faults.drop_writes) {
                chip.eeprom.fill(0xFFFF);
            }
            return ControlAnswer{};
    }
    return std::nullopt;
}

}  // namespace

Chip make_chip(ChipType type, const Eeprom& eeprom, const Faults& faults) {
    Chip chip;
    chip.type = type;
    chip.eeprom = eeprom;
    chip.faults = faults;
    chip.presented = present(type, eeprom);
    return chip;
}

std::string describe_request(const Setup& setup) {
    char text[64];
    const unsigned word = setup.index;
    const unsigned type = setup.request_type & kTypeMask;
    if (type == kTypeStandard && setup.request == kGetDescriptor) {
        static const char* const kinds[] = {"?", "device", "configuration", "string"};
        const unsigned kind = setup.value >> 8;
        std::snprintf(text, sizeof text, "GET_DESCRIPTOR %s %u", kind < 4 ? kinds[kind] : "?", setup.value & 0xFFu);
        return text;
    }
    if (type != kTypeVendor) {
        std::snprintf(text, sizeof text, "request 0x%02x of type 0x%02x", setup.request, setup.request_type);
        return text;
    }
    switch (directed_request(setup)) {
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

int vendor_request_interface(const Setup& setup) {
    return (setup.index & 0xFF) == 2 ? 1 : 0;
}

ControlAnswer answer_control(Chip& chip, const Setup& setup, std::span<std::uint8_t> data) {
    const bool in = (setup.request_type & kDirectionIn) != 0;
    switch (setup.request_type & kTypeMask) {
        case kTypeStandard:
            if (in && setup.request == kGetDescriptor && setup.value >> 8 == kStringDescriptor) {
                return answer_string(chip, setup, data);
            }
            break;
        case kTypeVendor:
            if ((chip.faults.stall_control || chip.faults.fail_control) && fault_hits(chip, setup)) {
                return {chip.faults.stall_control ? Handshake::stall : Handshake::error, 0};
            }
            if (const std::optional<ControlAnswer> answer = answer_vendor(chip, setup, data)) {
                return *answer;
            }
            break;
    }
    return {Handshake::stall, 0};
}

std::uint16_t eeprom_checksum(const Eeprom& eeprom) {
    std::uint16_t checksum = 0xAAAA;
    for (std::size_t i = 0; i < kChecksumWord; ++i) {
        checksum = static_cast<std::uint16_t>(checksum ^ eeprom[i]);
        checksum = static_cast<std::uint16_t>((checksum << 1) | (checksum >> 15));
    }
    return checksum;
}

Eeprom factory_image(const std::string& serial_number) {
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
    const std::array<std::string, 3> strings{"FTDI", "USB <-> Serial Converter", serial_number};
    for (std::size_t i = 0; i < strings.size(); ++i) {
        const std::vector<std::uint8_t> descriptor = ascii_descriptor(strings[i]);
        bytes[kStringPointerByte + 2 * i] = static_cast<std::uint8_t>(next);
        bytes[kStringPointerByte + 2 * i + 1] = static_cast<std::uint8_t>(descriptor.size());
        std::copy(descriptor.begin(), descriptor.end(), bytes.begin() + static_cast<std::ptrdiff_t>(next));
        next += descriptor.size();
    }
    Eeprom eeprom = eeprom_from_bytes(bytes);
    eeprom[kChecksumWord] = eeprom_checksum(eeprom);
    return eeprom;
}

std::array<std::uint8_t, kImageBytes> image_bytes(const Eeprom& eeprom) {
    std::array<std::uint8_t, kImageBytes> out{};
    for (std::size_t i = 0; i < kEepromWords; ++i) {
        out[2 * i] = static_cast<std::uint8_t>(eeprom[i] & 0xFF);
        out[2 * i + 1] = static_cast<std::uint8_t>(eeprom[i] >> 8);
    }
    return out;
}

Eeprom eeprom_from_bytes(std::span<const std::uint8_t, kImageBytes> bytes) {
    Eeprom eeprom{};
    for (std::size_t i = 0; i < kEepromWords; ++i) {
        eeprom[i] = static_cast<std::uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    }
    return eeprom;
}

std::string string_descriptor_text(const std::vector<std::uint8_t>& descriptor) {
    std::string out;
    for (std::size_t i = 2; i + 1 < descriptor.size(); i += 2) {
        const auto unit = static_cast<unsigned>(descriptor[i] | (descriptor[i + 1] << 8));
        out.push_back(unit >= 0x20 && unit < 0x7F ? static_cast<char>(unit) : '?');
    }
    return out;
}

}  // namespace emu
