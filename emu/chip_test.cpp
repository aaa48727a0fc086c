// The chip model alone, on what FTDI's library never sends: hostile EEPROM
// contents, faults limited to one request, short descriptor reads. The
// conversation with the library itself is proven end to end.
#include "emu/chip.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace emu {
namespace {

constexpr std::uint8_t kVendorOut = 0x40;
constexpr std::uint8_t kVendorIn = 0xC0;

std::vector<std::uint8_t> transfer(Chip& chip, Setup setup, Handshake expected = Handshake::ack) {
    std::vector<std::uint8_t> data(setup.length);
    const ControlAnswer answer = answer_control(chip, setup, data);
    EXPECT_EQ(answer.handshake, expected);
    data.resize(answer.length);
    return data;
}

std::uint16_t read_word(Chip& chip, std::uint16_t address) {
    const auto bytes = transfer(chip, {kVendorIn, 0x90, 0, address, 2});
    return bytes.size() == 2 ? static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8) : 0xDEAD;
}

Eeprom blank() {
    Eeprom eeprom{};
    eeprom.fill(0xFFFF);
    return eeprom;
}

TEST(VirtualChip, WrapsWordAddressesAsA93C56) {
    Chip chip = make_chip(ChipType::ft232h, blank(), {});
    transfer(chip, {kVendorOut, 0x91, 0x1234, 0xC0, 0});
    EXPECT_EQ(read_word(chip, 0x40), 0x1234);
    EXPECT_EQ(chip.eeprom[0x40], 0x1234);
}

TEST(VirtualChip, DropsWritesAndErasesWhenWriteProtected) {
    Faults faults;
    faults.drop_writes = true;
    Chip chip = make_chip(ChipType::ft232h, factory_image("FT1"), faults);
    const Eeprom before = chip.eeprom;
    transfer(chip, {kVendorOut, 0x91, 0x0000, 0x01, 0});
    transfer(chip, {kVendorOut, 0x92, 0, 0, 0});
    EXPECT_EQ(chip.eeprom, before);
}

TEST(VirtualChip, FaultLimitedToOneRequestSparesTheOthers) {
    Faults faults;
    faults.stall_control = true;
    faults.only_request = 0x90;
    Chip chip = make_chip(ChipType::ft232h, blank(), faults);
    transfer(chip, {kVendorIn, 0x90, 0, 0, 2}, Handshake::stall);
    EXPECT_EQ(transfer(chip, {kVendorIn, 0x0A, 0, 0, 1}), std::vector<std::uint8_t>{16});
}

TEST(VirtualChip, StallsWhatItDoesNotImplement) {
    Chip chip = make_chip(ChipType::ft232h, blank(), {});
    std::vector<std::uint8_t> data(4);
    const ControlAnswer answer = answer_control(chip, {kVendorIn, 0x42, 0, 0, 4}, data);
    EXPECT_EQ(answer.handshake, Handshake::stall);
    EXPECT_FALSE(answer.known);
}

// What the host sees at plug-in, from the EEPROM found there.
struct PresentationCase {
    const char* name;
    Eeprom eeprom;
    std::uint16_t product_id;
    std::string product;
    std::string serial;
};

Eeprom with_bad_checksum() {
    Eeprom eeprom = factory_image("FT1");
    eeprom[0x7F] ^= 1;
    return eeprom;
}

// Pointers and lengths that leave the chip or exceed a descriptor: the
// checksum is valid, so the chip believes them, and must stay within its
// 256 bytes.
Eeprom with_hostile_pointers() {
    Eeprom eeprom = factory_image("FT1");
    eeprom[0x08] = 0xFFF0;  // product at 0xF0, 255 bytes long
    eeprom[0x09] = 0x01FE;  // serial at 0xFE, 1 byte long
    eeprom[0x7F] = eeprom_checksum(eeprom);
    return eeprom;
}

TEST(VirtualChip, PresentsWhatItsEepromHeldAtPlugIn) {
    const PresentationCase cases[] = {
        {"blank", blank(), 0x6014, "Single RS232-HS", ""},
        {"programmed", factory_image("FT6XK1QA"), 0x6014, "USB <-> Serial Converter", "FT6XK1QA"},
        {"bad checksum", with_bad_checksum(), 0x6014, "Single RS232-HS", ""},
    };
    for (const PresentationCase& c : cases) {
        SCOPED_TRACE(c.name);
        Chip chip = make_chip(ChipType::ft232h, c.eeprom, {});
        EXPECT_EQ(chip.presented.product_id, c.product_id);
        EXPECT_EQ(string_descriptor_text(chip.presented.strings[2]), c.product);
        EXPECT_EQ(string_descriptor_text(chip.presented.strings[3]), c.serial);
        EXPECT_EQ(chip.presented.device_descriptor[16], c.serial.empty() ? 0 : 3);
    }
}

TEST(VirtualChip, KeepsHostileStringPointersWithinTheChip) {
    Chip chip = make_chip(ChipType::ft232h, with_hostile_pointers(), {});
    EXPECT_EQ(chip.presented.strings[2].size(), 255u);
    EXPECT_EQ(chip.presented.strings[2][1], 0x03);
    EXPECT_TRUE(chip.presented.strings[3].empty());
    EXPECT_EQ(transfer(chip, {0x80, 0x06, 0x0302, 0x0409, 255}).size(), 255u);
}

TEST(VirtualChip, CutsDescriptorsToTheLengthAskedFor) {
    Chip chip = make_chip(ChipType::ft2232h, blank(), {});
    EXPECT_EQ(transfer(chip, {0x80, 0x06, 0x0100, 0, 8}).size(), 8u);
    EXPECT_EQ(transfer(chip, {0x80, 0x06, 0x0200, 0, 255}).size(), 9u + 2 * 23);
    transfer(chip, {0x80, 0x06, 0x0304, 0x0409, 255}, Handshake::stall);
}

}  // namespace
}  // namespace emu
