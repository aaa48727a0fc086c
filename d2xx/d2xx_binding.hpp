// The run-time binding to FTDI's D2XX library.
#pragma once

#include <cstdint>
#include <memory>

#include "d2xx/d2xx_api.hpp"
#include "d2xx/eeprom_record.hpp"
#include "d2xx/shared_library.hpp"

namespace ft232h {

// Owns the loaded library for the whole run and calls its entry points. Each
// call looks its entry point up afresh by name. An entry point the library
// lacks (older releases have no FT_EEPROM_* calls) is never called through:
// the call returns kFtOtherError instead, so the step that needed it fails
// as it would on any non-zero status.
class D2xxBinding {
public:
    explicit D2xxBinding(std::unique_ptr<SharedLibrary> library) : library_(std::move(library)) {}

    FtStatus CreateDeviceInfoList(std::uint32_t& count) const;
    FtStatus GetDeviceInfoList(DeviceInfoNode* nodes, std::uint32_t& count) const;
    FtStatus Open(std::int32_t deviceIndex, FtHandle& handle) const;
    // The status of FT_Close means nothing to the tool, so it is not returned.
    void Close(FtHandle handle) const;
    // Passes the record with its size, 44, and the four strings in their order.
    // The library reads only as the device type the record names, so the
    // record is marked as an FT232H's first; the call fills the rest.
    FtStatus ReadEeprom(FtHandle handle, EepromRecord& record, EepromStrings& strings) const;
    FtStatus ProgramEeprom(FtHandle handle, EepromRecord& record, EepromStrings& strings) const;
    FtStatus EraseEeprom(FtHandle handle) const;

private:
    template <typename EntryPoint>
    EntryPoint Resolve(const char* name) const;

    std::unique_ptr<SharedLibrary> library_;
};

// Every device operation's sequence: open the device, act on its handle and
// close it again whatever the act gave. False without acting when the device
// cannot be opened, and then nothing is closed; otherwise what `act` returns.
template <typename Act>
bool WithOpenDevice(const D2xxBinding& d2xx, std::int32_t deviceIndex, Act&& act) {
    FtHandle handle = nullptr;
    if (d2xx.Open(deviceIndex, handle) != kFtOk) {
        return false;
    }
    const bool result = act(handle);
    d2xx.Close(handle);
    return result;
}

}  // namespace ft232h
