// The virtual FTDI chip: its EEPROM, what it shows the USB host when it is
// plugged in, and the answers to control requests. Nothing here knows about
// usbfs or umockdev; the launcher feeds it requests and carries the answers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace emu {

// An FT232H carries a 93C56: 128 words of 16 bits, 256 bytes in an image
// file (little-endian words, as FTDI's and libftdi's tools store them).
inline constexpr std::size_t kEepromWords = 128;
inline constexpr std::size_t kImageBytes = kEepromWords * 2;
using Eeprom = std::array<std::uint16_t, kEepromWords>;

// The two modem-status bytes an idle FTDI chip reports, in answer to the
// vendor request and at the head of every bulk IN packet: CTS and DSR clear,
// bit 0 always set; line status: transmitter holding and shift registers empty.
inline constexpr std::array<std::uint8_t, 2> kIdleModemStatus{0x01, 0x60};

enum class ChipType { kFt232h, kFt2232h };

// Faults are switches, each one a way a real board goes wrong.
struct Faults {
    bool dropWrites = false;    // write and erase acknowledged, EEPROM unchanged (write-protected part)
    bool stallControl = false;  // FTDI vendor requests answered with a STALL handshake
    bool failControl = false;   // FTDI vendor requests lost on the wire (protocol error)
    bool inUse = false;         // another program holds the interface: claiming it fails with EBUSY
    // When set, stallControl and failControl hit only this vendor request.
    std::optional<std::uint8_t> onlyRequest;
    // The first `after` requests they would hit go through: a cable that
    // fails in the middle of a transfer.
    unsigned after = 0;
};

// What the host sees after plug-in. A real chip reads its EEPROM once at
// power-up; programming it changes nothing here until it is plugged in again.
struct Presentation {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t release = 0;  // bcdDevice, fixed by the chip type
    std::vector<std::uint8_t> deviceDescriptor;
    std::vector<std::uint8_t> configurationDescriptor;
    // String descriptors by index: 0 languages, 1 manufacturer, 2 product,
    // 3 serial number; an empty entry is a string the chip does not have.
    std::array<std::vector<std::uint8_t>, 4> strings;
    int interfaces = 1;
};

struct Chip {
    ChipType type = ChipType::kFt232h;
    Eeprom eeprom{};
    Faults faults;
    Presentation presented;
    std::array<std::uint8_t, 2> latencyMs{16, 16};  // per interface (FT2232H has two)
    unsigned faultMatches = 0;                      // requests stallControl or failControl would hit so far
};

// The setup packet of a control transfer.
struct Setup {
    std::uint8_t requestType = 0;
    std::uint8_t request = 0;
    std::uint16_t value = 0;
    std::uint16_t index = 0;
    std::uint16_t length = 0;
};

enum class Handshake { kAck, kStall, kError };

struct ControlAnswer {
    Handshake handshake = Handshake::kAck;
    std::size_t length = 0;  // bytes placed in the data stage (IN requests)
};

// Builds a chip with its EEPROM as found at start and "plugs it in".
Chip MakeChip(ChipType type, const Eeprom& eeprom, const Faults& faults);

// Answers one control transfer, with a STALL the requests the chip does not
// implement. `data` holds the OUT data stage on entry and
// receives the IN data stage (at most setup.length bytes, never more than
// data.size()).
ControlAnswer AnswerControl(Chip& chip, const Setup& setup, std::span<std::uint8_t> data);

// What a control request means, for the log: "read EEPROM word 0x40",
// "GET_DESCRIPTOR string 3", "vendor request 0x42".
std::string DescribeRequest(const Setup& setup);

// Which interface (0 or 1) an FTDI vendor request addresses: wIndex's low
// byte is the port, 1 for A and 2 for B, 0 meaning A on single-port chips.
int VendorRequestInterface(const Setup& setup);

// FTDI's checksum over words 0..126: seed 0xAAAA, xor, rotate left by one.
std::uint16_t EepromChecksum(const Eeprom& eeprom);

// The image of a chip programmed with FTDI's defaults, byte for byte what
// FTDI's library writes for them: FTDI's ids, 100 mA, the virtual COM port
// driver, "FTDI", "USB <-> Serial Converter" and the given serial number
// (at most 15 ASCII characters, so that it fits before the checksum).
Eeprom FactoryImage(const std::string& serialNumber);

// Image files: 256 bytes of little-endian words.
std::array<std::uint8_t, kImageBytes> ImageBytes(const Eeprom& eeprom);
Eeprom EepromFromBytes(std::span<const std::uint8_t, kImageBytes> bytes);

// UTF-16LE string descriptor to UTF-8, for the sysfs attributes; characters
// outside ASCII become '?' (the kernel shows them converted; nothing here
// depends on them).
std::string StringDescriptorText(const std::vector<std::uint8_t>& descriptor);

}  // namespace emu
