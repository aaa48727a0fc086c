#include "d2xx/d2xx_binding.hpp"

#include <cstring>

namespace ft232h {

template <typename EntryPoint>
EntryPoint D2xxBinding::Resolve(const char* name) const {
    // The platform hands back a generic function address; converting one
    // function pointer type to another is the defined way to give it its type.
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast)
    return reinterpret_cast<EntryPoint>(library_->FindSymbol(name));
}

FtStatus D2xxBinding::CreateDeviceInfoList(std::uint32_t& count) const {
    const auto call = Resolve<FtCreateDeviceInfoListFunction>("FT_CreateDeviceInfoList");
    return call != nullptr ? call(&count) : kFtOtherError;
}

FtStatus D2xxBinding::GetDeviceInfoList(DeviceInfoNode* nodes, std::uint32_t& count) const {
    const auto call = Resolve<FtGetDeviceInfoListFunction>("FT_GetDeviceInfoList");
    return call != nullptr ? call(nodes, &count) : kFtOtherError;
}

FtStatus D2xxBinding::Open(std::int32_t deviceIndex, FtHandle& handle) const {
    const auto call = Resolve<FtOpenFunction>("FT_Open");
    return call != nullptr ? call(deviceIndex, &handle) : kFtOtherError;
}

void D2xxBinding::Close(FtHandle handle) const {
    if (const auto call = Resolve<FtCloseFunction>("FT_Close"); call != nullptr) {
        call(handle);
    }
}

FtStatus D2xxBinding::ReadEeprom(FtHandle handle, EepromRecord& record, EepromStrings& strings) const {
    const auto call = Resolve<FtEepromReadFunction>("FT_EEPROM_Read");
    if (call == nullptr) {
        return kFtOtherError;
    }
    const auto read = [&](EepromRecord& into, EepromStrings& text) {
        into.deviceType = kDeviceTypeFt232h;
        return call(handle, &into, kEepromRecordSize, text.Manufacturer.data(), text.ManufacturerId.data(),
                    text.Description.data(), text.SerialNumber.data());
    };
    // FTDI's library reports success once the EEPROM's first word has been
    // read, even when a cable that fails half-way leaves the rest unread and
    // the record made of whatever it had. So a read counts only when a second
    // one, from the same starting bytes, gives the very same record and
    // strings.
    EepromRecord again = record;
    EepromStrings againStrings = strings;
    if (const FtStatus status = read(record, strings); status != kFtOk) {
        return status;
    }
    if (const FtStatus status = read(again, againStrings); status != kFtOk) {
        return status;
    }
    const bool same =
        std::memcmp(&again, &record, sizeof record) == 0 && std::memcmp(&againStrings, &strings, sizeof strings) == 0;
    return same ? kFtOk : kFtEepromReadFailed;
}

FtStatus D2xxBinding::ProgramEeprom(FtHandle handle, EepromRecord& record, EepromStrings& strings) const {
    const auto call = Resolve<FtEepromProgramFunction>("FT_EEPROM_Program");
    return call != nullptr
               ? call(handle, &record, kEepromRecordSize, strings.Manufacturer.data(), strings.ManufacturerId.data(),
                      strings.Description.data(), strings.SerialNumber.data())
               : kFtOtherError;
}

FtStatus D2xxBinding::EraseEeprom(FtHandle handle) const {
    const auto call = Resolve<FtEraseEeFunction>("FT_EraseEE");
    return call != nullptr ? call(handle) : kFtOtherError;
}

}  // namespace ft232h
