#include <gtest/gtest.h>

#include <cstring>

#include "eeprom/erase_init.hpp"
#include "eeprom/ym2610_profile.hpp"

namespace ft232h {
namespace {

EepromRecord Ym2610Record() {
    EepromRecord record = DefaultEepromRecord();
    ApplyYm2610Profile(record);
    return record;
}

TEST(Ym2610Profile, TheSetAlwaysSatisfiesTheCheck) {
    EXPECT_TRUE(MatchesYm2610Profile(Ym2610Record()));
    EXPECT_FALSE(MatchesYm2610Profile(DefaultEepromRecord()));
    EXPECT_FALSE(MatchesYm2610Profile(EepromRecord{}));
}

TEST(Ym2610Profile, EachTestedFieldMustHoldExactlyItsValue) {
    const auto fails = [](void (*change)(EepromRecord&)) {
        EepromRecord record = Ym2610Record();
        change(record);
        return !MatchesYm2610Profile(record);
    };
    EXPECT_TRUE(fails([](EepromRecord& r) { r.DriverType = 1; }));
    EXPECT_TRUE(fails([](EepromRecord& r) { r.IsFifo = 2; }));  // exactly 1, not any non-zero
    EXPECT_TRUE(fails([](EepromRecord& r) { r.IsFifo = 0; }));
    EXPECT_TRUE(fails([](EepromRecord& r) { r.ACDriveCurrent = 4; }));
    EXPECT_TRUE(fails([](EepromRecord& r) { r.ADDriveCurrent = 16; }));
    EXPECT_TRUE(fails([](EepromRecord& r) { r.Cbus5 = 0; }));
    EXPECT_TRUE(fails([](EepromRecord& r) { r.Cbus6 = 9; }));
    EXPECT_TRUE(fails([](EepromRecord& r) { r.IsFifoTar = 1; }));
    EXPECT_TRUE(fails([](EepromRecord& r) { r.IsFastSer = 1; }));
    EXPECT_TRUE(fails([](EepromRecord& r) { r.IsFT1248 = 1; }));
}

TEST(Ym2610Profile, MaxPowerAndCbus9AreWrittenButNotRequired) {
    EepromRecord record = Ym2610Record();
    EXPECT_EQ(record.MaxPower, 200);
    EXPECT_EQ(record.Cbus9, 4);
    record.MaxPower = 0;
    record.Cbus9 = 255;
    record.SelfPowered = 1;
    EXPECT_TRUE(MatchesYm2610Profile(record));
}

TEST(Ym2610Profile, ApplyChangesExactlyTheElevenFieldsAndNoOtherByte) {
    EepromRecord record;
    std::memset(reinterpret_cast<unsigned char*>(&record), 0xA5, sizeof record);
    EepromRecord before = record;
    ApplyYm2610Profile(record);
    // Put the eleven back by hand; what remains must be the untouched bytes.
    record.ACDriveCurrent = before.ACDriveCurrent;
    record.ADDriveCurrent = before.ADDriveCurrent;
    record.Cbus5 = before.Cbus5;
    record.Cbus6 = before.Cbus6;
    record.IsFifo = before.IsFifo;
    record.IsFifoTar = before.IsFifoTar;
    record.IsFastSer = before.IsFastSer;
    record.IsFT1248 = before.IsFT1248;
    record.DriverType = before.DriverType;
    record.MaxPower = before.MaxPower;
    record.Cbus9 = before.Cbus9;
    EXPECT_EQ(std::memcmp(&record, &before, sizeof record), 0);
}

TEST(DefaultEeprom, IsTheFactoryRecordWithZeroAlignmentBytes) {
    const EepromRecord record = DefaultEepromRecord();
    const unsigned char expected[44] = {8,    0,    0, 0,        // deviceType
                                        0x03, 0x04,              // VendorId 0x0403
                                        0x14, 0x60,              // ProductId 0x6014
                                        1,    0,                 // SerNumEnable, alignment
                                        100,  0,                 // MaxPower
                                        0,    0,    0, 0,        // SelfPowered, RemoteWakeup, PullDownEnable, alignment
                                        0,    0,    4, 0, 0, 4,  // AC and AD slew, Schmitt, drive current
                                        0,    0,    0, 0, 0, 0, 0, 0, 0, 0,  // Cbus0..Cbus9
                                        0,    0,    0, 0, 0, 0, 0, 0,        // FT1248 and FIFO flags, PowerSaveEnable
                                        1,                                   // DriverType
                                        0,    0,    0};                      // alignment
    EXPECT_EQ(std::memcmp(&record, expected, sizeof expected), 0);
}

TEST(DefaultEeprom, StringsAreZeroFilledWithAnEmptySerialNumber) {
    const EepromStrings strings = DefaultEepromStrings();
    EXPECT_STREQ(strings.Manufacturer.data(), "FTDI");
    EXPECT_STREQ(strings.ManufacturerId.data(), "FT");
    EXPECT_STREQ(strings.Description.data(), "USB <-> Serial Converter");
    EXPECT_STREQ(strings.SerialNumber.data(), "");
    EXPECT_EQ(DefaultEepromRecord().SerNumEnable, 1);
    for (const EepromString* s :
         {&strings.Manufacturer, &strings.ManufacturerId, &strings.Description, &strings.SerialNumber}) {
        const std::size_t length = std::strlen(s->data());
        for (std::size_t i = length; i < s->size(); ++i) {
            ASSERT_EQ((*s)[i], '\0');
        }
    }
}

}  // namespace
}  // namespace ft232h
