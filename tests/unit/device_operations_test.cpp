// The open–act–close sequences of -chk, -set, -erase and -init, and what
// each passes to the library, against the in-process fake.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "eeprom/erase_init.hpp"
#include "eeprom/ym2610_profile.hpp"
#include "tests/support/fake_d2xx.hpp"

namespace ft232h {
namespace {

using testing::FakeD2xx;
using E = testing::FakeEntryPoint;
using Sequence = std::vector<E>;

bool SameBytes(const EepromRecord& a, const EepromRecord& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool SameStrings(const EepromStrings& a, const EepromStrings& b) {
    return a.Manufacturer == b.Manufacturer && a.ManufacturerId == b.ManufacturerId && a.Description == b.Description &&
           a.SerialNumber == b.SerialNumber;
}

// A record as a device might hand it back: every byte set, alignment included.
EepromRecord NoisyRecord() {
    EepromRecord record;
    auto* bytes = reinterpret_cast<unsigned char*>(&record);
    for (std::size_t i = 0; i < sizeof record; ++i) {
        bytes[i] = static_cast<unsigned char>(0x31 + 7 * i);
    }
    record.deviceType = kDeviceTypeFt232h;
    return record;
}

EepromStrings SomeStrings() {
    EepromStrings strings;
    std::memcpy(strings.Manufacturer.data(), " Maker ", 7);
    std::memcpy(strings.ManufacturerId.data(), "MK", 2);
    std::memset(strings.Description.data(), 'd', 63);
    std::memcpy(strings.SerialNumber.data(), "SN\x01\x7f", 4);
    return strings;
}

class DeviceOperations : public ::testing::Test {
protected:
    FakeD2xx fake;
    D2xxBinding d2xx = fake.Binding();
};

TEST_F(DeviceOperations, CheckReadsARecordPreparedForAnFt232hAndCloses) {
    fake.eeprom = DefaultEepromRecord();
    ApplyYm2610Profile(fake.eeprom);
    EXPECT_TRUE(CheckYm2610Profile(d2xx, 5));
    EXPECT_EQ(fake.Sequence(), (Sequence{E::kOpen, E::kEepromRead, E::kClose}));
    EXPECT_EQ(fake.LastCallOf(E::kOpen)->deviceIndex, 5);
    const testing::FakeCall& read = *fake.LastCallOf(E::kEepromRead);
    EXPECT_EQ(read.recordSize, 44U);
    EXPECT_EQ(read.record.deviceType, 8U);
    EXPECT_EQ(read.handle, fake.handle);
    EXPECT_EQ(fake.LastCallOf(E::kClose)->handle, fake.handle);
}

TEST_F(DeviceOperations, CheckIsFalseForAFactoryRecordAndForAFailedRead) {
    fake.eeprom = DefaultEepromRecord();
    EXPECT_FALSE(CheckYm2610Profile(d2xx, 0));
    ApplyYm2610Profile(fake.eeprom);
    fake.StatusOf(E::kEepromRead) = kFtEepromReadFailed;
    EXPECT_FALSE(CheckYm2610Profile(d2xx, 0));
    EXPECT_EQ(fake.CountOf(E::kClose), 2U);
}

TEST_F(DeviceOperations, SetProgramsTheRecordReadWithOnlyTheProfileChanged) {
    fake.eeprom = NoisyRecord();
    fake.eepromStrings = SomeStrings();
    const EepromRecord read = fake.eeprom;
    EXPECT_TRUE(SetYm2610Profile(d2xx, 2));
    EXPECT_EQ(fake.Sequence(), (Sequence{E::kOpen, E::kEepromRead, E::kEepromProgram, E::kClose}));
    const testing::FakeCall& program = *fake.LastCallOf(E::kEepromProgram);
    EepromRecord expected = read;
    ApplyYm2610Profile(expected);
    EXPECT_TRUE(SameBytes(program.record, expected));
    EXPECT_TRUE(SameStrings(program.strings, SomeStrings()));
    EXPECT_EQ(program.recordSize, 44U);
    EXPECT_EQ(program.handle, fake.handle);
    EXPECT_TRUE(MatchesYm2610Profile(program.record));
}

TEST_F(DeviceOperations, SetNeverProgramsWhatItCouldNotRead) {
    fake.StatusOf(E::kEepromRead) = kFtEepromNotProgrammed;
    EXPECT_FALSE(SetYm2610Profile(d2xx, 0));
    EXPECT_EQ(fake.Sequence(), (Sequence{E::kOpen, E::kEepromRead, E::kClose}));
}

TEST_F(DeviceOperations, AFailedProgramOrEraseStillCloses) {
    fake.StatusOf(E::kEepromProgram) = 12;
    fake.StatusOf(E::kEraseEe) = 13;
    EXPECT_FALSE(SetYm2610Profile(d2xx, 0));
    EXPECT_FALSE(InitEeprom(d2xx, 0));
    EXPECT_FALSE(EraseEeprom(d2xx, 0));
    EXPECT_EQ(fake.Sequence(), (Sequence{E::kOpen, E::kEepromRead, E::kEepromProgram, E::kClose,  //
                                         E::kOpen, E::kEepromProgram, E::kClose,                  //
                                         E::kOpen, E::kEraseEe, E::kClose}));
}

TEST_F(DeviceOperations, NothingIsClosedThatWasNeverOpened) {
    fake.StatusOf(E::kOpen) = kFtDeviceNotFound;
    EXPECT_FALSE(CheckYm2610Profile(d2xx, 3));
    EXPECT_FALSE(SetYm2610Profile(d2xx, 3));
    EXPECT_FALSE(EraseEeprom(d2xx, 3));
    EXPECT_FALSE(InitEeprom(d2xx, 3));
    EXPECT_EQ(fake.Sequence(), (Sequence{E::kOpen, E::kOpen, E::kOpen, E::kOpen}));
}

TEST_F(DeviceOperations, EraseAsksTheLibraryToEraseTheOpenedDevice) {
    EXPECT_TRUE(EraseEeprom(d2xx, 7));
    EXPECT_EQ(fake.Sequence(), (Sequence{E::kOpen, E::kEraseEe, E::kClose}));
    EXPECT_EQ(fake.LastCallOf(E::kOpen)->deviceIndex, 7);
    EXPECT_EQ(fake.LastCallOf(E::kEraseEe)->handle, fake.handle);
}

TEST_F(DeviceOperations, InitProgramsTheSameDefaultsWhateverTheDeviceHeldAndNeverReads) {
    fake.eeprom = NoisyRecord();
    fake.eepromStrings = SomeStrings();
    EXPECT_TRUE(InitEeprom(d2xx, 1));
    const testing::FakeCall first = *fake.LastCallOf(E::kEepromProgram);
    EXPECT_TRUE(InitEeprom(d2xx, 1));
    const testing::FakeCall& second = *fake.LastCallOf(E::kEepromProgram);
    EXPECT_EQ(fake.CountOf(E::kEepromRead), 0U);
    EXPECT_TRUE(SameBytes(first.record, DefaultEepromRecord()));
    EXPECT_TRUE(SameBytes(second.record, first.record));
    EXPECT_TRUE(SameStrings(first.strings, DefaultEepromStrings()));
    EXPECT_TRUE(SameStrings(second.strings, first.strings));
    EXPECT_EQ(first.record.SerNumEnable, 1);
    EXPECT_EQ(first.strings.SerialNumber[0], '\0');
}

TEST_F(DeviceOperations, AMissingEntryPointFailsItsStepInsteadOfBeingCalled) {
    fake.Remove(E::kEepromRead);
    fake.Remove(E::kEepromProgram);
    EXPECT_FALSE(CheckYm2610Profile(d2xx, 0));
    EXPECT_FALSE(SetYm2610Profile(d2xx, 0));
    EXPECT_FALSE(InitEeprom(d2xx, 0));
    EXPECT_EQ(fake.Sequence(), (Sequence{E::kOpen, E::kClose, E::kOpen, E::kClose, E::kOpen, E::kClose}));

    fake.calls.clear();
    fake.Remove(E::kOpen);
    EXPECT_FALSE(EraseEeprom(d2xx, 0));
    EXPECT_TRUE(fake.Sequence().empty());
}

}  // namespace
}  // namespace ft232h
