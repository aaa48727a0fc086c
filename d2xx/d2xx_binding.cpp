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
    record.deviceType = kDeviceTypeFt232h;
    return call(handle, &record, kEepromRecordSize, strings.Manufacturer.data(), strings.ManufacturerId.data(),
                strings.Description.data(), strings.SerialNumber.data());
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
