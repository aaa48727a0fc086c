#include "d2xx/d2xx_binding.hpp"

namespace ft232h {

template <typename EntryPoint>
EntryPoint D2xxBinding::Resolve(const char* name) const {
    // The platform hands back a generic function address; converting one
    // function pointer type to another is the defined way to give it its type.
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast)
    return reinterpret_cast<EntryPoint>(library_->FindSymbol(name));
}

FtStatus D2xxBinding::CreateDeviceInfoList(std::uint32_t& count) const {
    const auto call = Resolve<FT_CreateDeviceInfoList_t>("FT_CreateDeviceInfoList");
    return call != nullptr ? call(&count) : kFtOtherError;
}

FtStatus D2xxBinding::GetDeviceInfoList(DeviceInfoNode* nodes, std::uint32_t& count) const {
    const auto call = Resolve<FT_GetDeviceInfoList_t>("FT_GetDeviceInfoList");
    return call != nullptr ? call(nodes, &count) : kFtOtherError;
}

FtStatus D2xxBinding::Open(std::int32_t deviceIndex, FtHandle& handle) const {
    const auto call = Resolve<FT_Open_t>("FT_Open");
    return call != nullptr ? call(deviceIndex, &handle) : kFtOtherError;
}

void D2xxBinding::Close(FtHandle handle) const {
    if (const auto call = Resolve<FT_Close_t>("FT_Close"); call != nullptr) {
        call(handle);
    }
}

FtStatus D2xxBinding::ReadEeprom(FtHandle handle, EepromRecord& record, EepromStrings& strings) const {
    const auto call = Resolve<FT_EEPROM_Read_t>("FT_EEPROM_Read");
    if (call == nullptr) {
        return kFtOtherError;
    }
    record.deviceType = kDeviceTypeFt232h;
    return call(handle, &record, kEepromRecordSize, strings.Manufacturer.data(), strings.ManufacturerId.data(),
                strings.Description.data(), strings.SerialNumber.data());
}

FtStatus D2xxBinding::ProgramEeprom(FtHandle handle, EepromRecord& record, EepromStrings& strings) const {
    const auto call = Resolve<FT_EEPROM_Program_t>("FT_EEPROM_Program");
    return call != nullptr
               ? call(handle, &record, kEepromRecordSize, strings.Manufacturer.data(), strings.ManufacturerId.data(),
                      strings.Description.data(), strings.SerialNumber.data())
               : kFtOtherError;
}

FtStatus D2xxBinding::EraseEeprom(FtHandle handle) const {
    const auto call = Resolve<FT_EraseEE_t>("FT_EraseEE");
    return call != nullptr ? call(handle) : kFtOtherError;
}

}  // namespace ft232h
