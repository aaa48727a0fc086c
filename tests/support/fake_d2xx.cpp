#include "tests/support/fake_d2xx.hpp"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "d2xx/shared_library.hpp"

namespace ft232h::testing {

namespace {

// The entry points are plain functions with no room for a context, so the
// fake they serve is found here.
FakeD2xx* activeFake = nullptr;

constexpr std::array<std::string_view, kFakeEntryPointCount> kNames = {
    "FT_CreateDeviceInfoList", "FT_GetDeviceInfoList", "FT_Open",    "FT_Close",
    "FT_EEPROM_Read",          "FT_EEPROM_Program",    "FT_EraseEE",
};

FakeD2xx& Active() {
    if (activeFake == nullptr) {
        std::abort();  // a binding outlived its fake
    }
    return *activeFake;
}

FtStatus Record(FakeCall call) {
    FakeD2xx& fake = Active();
    fake.calls.push_back(call);
    return fake.StatusOf(call.entryPoint);
}

void CopyStringsIn(EepromStrings& strings, const char* manufacturer, const char* manufacturerId,
                   const char* description, const char* serialNumber) {
    std::memcpy(strings.Manufacturer.data(), manufacturer, kEepromStringSize);
    std::memcpy(strings.ManufacturerId.data(), manufacturerId, kEepromStringSize);
    std::memcpy(strings.Description.data(), description, kEepromStringSize);
    std::memcpy(strings.SerialNumber.data(), serialNumber, kEepromStringSize);
}

FtStatus FT232H_D2XX_CALL FakeCreateDeviceInfoList(std::uint32_t* count) {
    const FtStatus status = Record({.entryPoint = FakeEntryPoint::kCreateDeviceInfoList});
    if (status == kFtOk) {
        *count = static_cast<std::uint32_t>(Active().devices.size());
    }
    return status;
}

FtStatus FT232H_D2XX_CALL FakeGetDeviceInfoList(DeviceInfoNode* nodes, std::uint32_t* count) {
    const FtStatus status = Record({.entryPoint = FakeEntryPoint::kGetDeviceInfoList});
    if (status == kFtOk) {
        const auto& devices = Active().devices;
        std::memcpy(nodes, devices.data(), devices.size() * sizeof(DeviceInfoNode));
        *count = static_cast<std::uint32_t>(devices.size());
    }
    return status;
}

FtStatus FT232H_D2XX_CALL FakeOpen(int deviceIndex, FtHandle* handle) {
    const FtStatus status = Record({.entryPoint = FakeEntryPoint::kOpen, .deviceIndex = deviceIndex});
    if (status == kFtOk) {
        *handle = Active().handle;
    }
    return status;
}

FtStatus FT232H_D2XX_CALL FakeClose(FtHandle handle) {
    return Record({.entryPoint = FakeEntryPoint::kClose, .handle = handle});
}

FtStatus FT232H_D2XX_CALL FakeEepromRead(FtHandle handle, void* eepromData, std::uint32_t eepromDataSize,
                                         char* manufacturer, char* manufacturerId, char* description,
                                         char* serialNumber) {
    FakeCall call{.entryPoint = FakeEntryPoint::kEepromRead, .handle = handle, .recordSize = eepromDataSize};
    if (eepromDataSize == kEepromRecordSize) {
        std::memcpy(&call.record, eepromData, kEepromRecordSize);
    }
    const FtStatus status = Record(call);
    if (eepromDataSize != kEepromRecordSize) {
        return kFtInvalidParameter;
    }
    if (status == kFtOk) {
        const FakeD2xx& fake = Active();
        std::memcpy(eepromData, &fake.eeprom, kEepromRecordSize);
        std::memcpy(manufacturer, fake.eepromStrings.Manufacturer.data(), kEepromStringSize);
        std::memcpy(manufacturerId, fake.eepromStrings.ManufacturerId.data(), kEepromStringSize);
        std::memcpy(description, fake.eepromStrings.Description.data(), kEepromStringSize);
        std::memcpy(serialNumber, fake.eepromStrings.SerialNumber.data(), kEepromStringSize);
    }
    return status;
}

FtStatus FT232H_D2XX_CALL FakeEepromProgram(FtHandle handle, void* eepromData, std::uint32_t eepromDataSize,
                                            char* manufacturer, char* manufacturerId, char* description,
                                            char* serialNumber) {
    FakeCall call{.entryPoint = FakeEntryPoint::kEepromProgram, .handle = handle, .recordSize = eepromDataSize};
    if (eepromDataSize == kEepromRecordSize) {
        std::memcpy(&call.record, eepromData, kEepromRecordSize);
        CopyStringsIn(call.strings, manufacturer, manufacturerId, description, serialNumber);
    }
    const FtStatus status = Record(call);
    if (eepromDataSize != kEepromRecordSize) {
        return kFtInvalidParameter;
    }
    if (status == kFtOk) {
        FakeD2xx& fake = Active();
        fake.eeprom = call.record;
        fake.eepromStrings = call.strings;
    }
    return status;
}

FtStatus FT232H_D2XX_CALL FakeEraseEe(FtHandle handle) {
    return Record({.entryPoint = FakeEntryPoint::kEraseEe, .handle = handle});
}

template <typename EntryPoint>
RawSymbol Raw(EntryPoint entryPoint) {
    return reinterpret_cast<RawSymbol>(entryPoint);
}

class FakeLibrary final : public SharedLibrary {
public:
    explicit FakeLibrary(const FakeD2xx& fake) : fake_(fake) {}

    RawSymbol FindSymbol(const char* name) const override {
        static const std::array<RawSymbol, kFakeEntryPointCount> kSymbols = {
            Raw(&FakeCreateDeviceInfoList), Raw(&FakeGetDeviceInfoList), Raw(&FakeOpen),    Raw(&FakeClose),
            Raw(&FakeEepromRead),           Raw(&FakeEepromProgram),     Raw(&FakeEraseEe),
        };
        for (std::size_t i = 0; i < kFakeEntryPointCount; ++i) {
            if (kNames[i] == name) {
                return fake_.missing[i] ? nullptr : kSymbols[i];
            }
        }
        return nullptr;
    }

private:
    const FakeD2xx& fake_;
};

}  // namespace

std::string_view NameOf(FakeEntryPoint entryPoint) {
    return kNames[static_cast<std::size_t>(entryPoint)];
}

FakeD2xx::FakeD2xx() : handle(this) {
    if (activeFake != nullptr) {
        std::abort();  // two fakes would answer for one library
    }
    activeFake = this;
}

FakeD2xx::~FakeD2xx() {
    activeFake = nullptr;
}

D2xxBinding FakeD2xx::Binding() {
    return D2xxBinding(std::make_unique<FakeLibrary>(*this));
}

std::vector<FakeEntryPoint> FakeD2xx::Sequence() const {
    std::vector<FakeEntryPoint> sequence;
    for (const FakeCall& call : calls) {
        sequence.push_back(call.entryPoint);
    }
    return sequence;
}

std::size_t FakeD2xx::CountOf(FakeEntryPoint entryPoint) const {
    std::size_t count = 0;
    for (const FakeCall& call : calls) {
        count += call.entryPoint == entryPoint ? 1 : 0;
    }
    return count;
}

const FakeCall* FakeD2xx::LastCallOf(FakeEntryPoint entryPoint) const {
    for (auto call = calls.rbegin(); call != calls.rend(); ++call) {
        if (call->entryPoint == entryPoint) {
            return &*call;
        }
    }
    return nullptr;
}

}  // namespace ft232h::testing
