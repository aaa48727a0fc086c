#include "sim/sim_library.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "d2xx/eeprom_record.hpp"
#include "sim/record_values.hpp"
#include "sim/sim_module.hpp"
#include "sim/sim_state.hpp"

namespace ft232h::sim {

namespace {

constexpr FtStatus kFtInvalidHandle = 1;
constexpr FtStatus kFtDeviceNotOpened = 3;
constexpr FtStatus kFtEepromWriteFailed = 12;
constexpr FtStatus kFtEepromEraseFailed = 13;

void Complain(const std::string& what) {
    std::fprintf(stderr, "ftd2xx simulator: %s\n", what.c_str());
}

// The devices this process has open. Handles are the addresses of the
// entries, so they are non-null and unique while open. It has to outlive
// single calls, which makes it the library's one piece of process state; the
// tool uses the library from one thread, so it takes no lock.
class OpenHandles {
public:
    FtHandle Add(std::uint32_t deviceIndex) {
        open_.push_back(std::make_unique<OpenDevice>(OpenDevice{deviceIndex}));
        return open_.back().get();
    }

    std::optional<std::uint32_t> DeviceOf(FtHandle handle) const {
        const auto found = Find(handle);
        if (found == open_.end()) {
            return std::nullopt;
        }
        return (*found)->deviceIndex;
    }

    FtHandle HandleOf(std::uint32_t deviceIndex) const {
        for (const auto& device : open_) {
            if (device->deviceIndex == deviceIndex) {
                return device.get();
            }
        }
        return nullptr;
    }

    void Remove(FtHandle handle) {
        const auto found = Find(handle);
        if (found != open_.end()) {
            open_.erase(found);
        }
    }

private:
    struct OpenDevice {
        std::uint32_t deviceIndex;
    };

    std::vector<std::unique_ptr<OpenDevice>>::const_iterator Find(FtHandle handle) const {
        return std::find_if(open_.begin(), open_.end(),
                            [handle](const auto& device) { return static_cast<FtHandle>(device.get()) == handle; });
    }

    std::vector<std::unique_ptr<OpenDevice>> open_;
};

OpenHandles& TheOpenHandles() {
    static OpenHandles handles;
    return handles;
}

// How many matching calls each fault line (by its place in the state) has
// let through in this process: a line's `after` counts per run.
std::map<std::size_t, std::uint32_t>& TheCallsLetThrough() {
    static std::map<std::size_t, std::uint32_t> counts;
    return counts;
}

std::string StatePath() {
    if (auto path = SimEnvironmentValue(kStateEnvironmentVariable); path && !path->empty()) {
        return *path;
    }
    const std::string module = SimModulePath();
    const std::size_t separator = module.find_last_of("/\\");
    const std::string directory = separator == std::string::npos ? std::string{} : module.substr(0, separator + 1);
    return directory + kStateFileName;
}

// The state one call works on, and the log entry it leaves.
class Call {
public:
    explicit Call(EntryPoint entryPoint) { entry_.entryPoint = std::string(EntryPointName(entryPoint)); }

    // false when the state file exists but does not load.
    bool Load() {
        statePath_ = StatePath();
        std::string error;
        if (LoadStateFile(statePath_, state_, error) == LoadResult::kInvalid) {
            Complain(error);
            return false;
        }
        return true;
    }

    SimState& State() { return state_; }

    bool Save(std::string& error) const { return SaveStateFile(statePath_, state_, error); }

    void Argument(std::string key, std::string value) {
        entry_.arguments.emplace_back(std::move(key), std::move(value));
    }

    void DeviceArgument(std::optional<std::uint32_t> deviceIndex) {
        Argument("device", deviceIndex ? std::to_string(*deviceIndex) : "-");
    }

    // The injected status for this call, if a fault line matches it.
    std::optional<FtStatus> Fault(EntryPoint entryPoint, std::optional<std::uint32_t> deviceIndex) const {
        for (std::size_t line = 0; line < state_.faults.size(); ++line) {
            const SimFault& fault = state_.faults[line];
            if (fault.entryPoint != entryPoint || (fault.deviceIndex && fault.deviceIndex != deviceIndex)) {
                continue;
            }
            std::uint32_t& letThrough = TheCallsLetThrough()[line];
            if (letThrough < fault.after) {
                ++letThrough;
                return std::nullopt;
            }
            return fault.status;
        }
        return std::nullopt;
    }

    FtStatus Finish(FtStatus status) {
        entry_.status = status;
        if (state_.log && !AppendLogEntry(LogPathForState(statePath_), entry_)) {
            Complain("cannot append to " + LogPathForState(statePath_));
        }
        return status;
    }

private:
    std::string statePath_;
    SimState state_;
    SimLogEntry entry_;
};

// Runs an entry point's body so that nothing thrown inside reaches the caller.
template <typename Body>
FtStatus Guarded(Body body) noexcept {
    try {
        return body();
    } catch (...) {
        return kFtOtherError;
    }
}

// A caller's string: the bytes before its terminator, reading no further than
// the terminator and never past the 64-byte buffer. Empty when there is no
// terminator in the buffer.
std::optional<std::string> CallerString(const char* text) {
    std::string bytes;
    for (std::size_t i = 0; i < kEepromStringSize; ++i) {
        if (text[i] == '\0') {
            return bytes;
        }
        bytes.push_back(text[i]);
    }
    return std::nullopt;
}

std::string CallerStringForLog(const char* text) {
    if (text == nullptr) {
        return "-";
    }
    if (const auto bytes = CallerString(text)) {
        return ToHex(*bytes);
    }
    return ToHex(std::string_view(text, kEepromStringSize));
}

void CopyStringOut(const std::string& bytes, char* buffer) {
    const std::size_t length = std::min(bytes.size(), kMaxEepromStringLength);
    std::memcpy(buffer, bytes.data(), length);
    buffer[length] = '\0';
}

std::uint32_t DeviceTypeOf(const void* record) {
    std::uint32_t deviceType = 0;
    std::memcpy(&deviceType, record, sizeof deviceType);
    return deviceType;
}

// FTDI's library does not store an empty serial number when ManufacturerId
// is given: it makes one of ManufacturerId's first two characters and six
// more of its own, which the loc id stands in for here so that runs repeat.
std::string StoredSerialNumber(const std::string& serialNumber, const std::string& manufacturerId,
                               std::uint32_t locId) {
    if (!serialNumber.empty() || manufacturerId.size() < 2) {
        return serialNumber.empty() ? manufacturerId : serialNumber;
    }
    std::array<char, 7> digits{};
    std::snprintf(digits.data(), digits.size(), "%06X", static_cast<unsigned>(locId & 0xFFFFFFU));
    return manufacturerId.substr(0, 2) + digits.data();
}

DeviceInfoNode NodeOf(const SimDevice& device, FtHandle openHere) {
    DeviceInfoNode node{};
    if (device.inUse) {
        // Another process or driver holds the device: FTDI's library then
        // shows it as open, of unknown type, and nothing else.
        node.Flags = kDeviceFlagOpened;
        node.Type = kDeviceTypeUnknown;
        return node;
    }
    node.Flags = device.flags;
    node.Type = device.type;
    node.ID = device.id;
    node.LocId = device.locId;
    std::memcpy(node.SerialNumber, device.serialNumber.data(), sizeof node.SerialNumber);
    std::memcpy(node.Description, device.description.data(), sizeof node.Description);
    if (openHere != nullptr) {
        node.Flags |= kDeviceFlagOpened;
        node.ftHandle = openHere;
    }
    return node;
}

// The checks shared by the calls that take a handle: which device it was
// opened on and whether that device is still in the list.
struct HandleCheck {
    std::optional<std::uint32_t> deviceIndex;
    std::optional<FtStatus> failure;
};

HandleCheck CheckHandle(Call& call, EntryPoint entryPoint, FtHandle handle) {
    HandleCheck check;
    check.deviceIndex = TheOpenHandles().DeviceOf(handle);
    call.DeviceArgument(check.deviceIndex);
    if (const auto fault = call.Fault(entryPoint, check.deviceIndex)) {
        check.failure = *fault;
    } else if (!check.deviceIndex) {
        check.failure = kFtInvalidHandle;
    } else if (*check.deviceIndex >= call.State().devices.size()) {
        check.failure = kFtDeviceNotFound;
    }
    return check;
}

}  // namespace

FtStatus SimCreateDeviceInfoList(std::uint32_t* count) noexcept {
    return Guarded([&] {
        Call call(EntryPoint::kCreateDeviceInfoList);
        if (!call.Load()) {
            return kFtOtherError;
        }
        const SimState& state = call.State();
        if (count == nullptr) {
            call.Argument("count", "-");
            return call.Finish(kFtInvalidParameter);
        }
        const auto fault = call.Fault(EntryPoint::kCreateDeviceInfoList, std::nullopt);
        // A failing library has been seen to report 0 along with its status.
        *count = state.createCount.value_or(fault ? 0 : static_cast<std::uint32_t>(state.devices.size()));
        call.Argument("count", std::to_string(*count));
        return call.Finish(fault.value_or(kFtOk));
    });
}

FtStatus SimGetDeviceInfoList(DeviceInfoNode* nodes, std::uint32_t* count) noexcept {
    return Guarded([&] {
        Call call(EntryPoint::kGetDeviceInfoList);
        if (!call.Load()) {
            return kFtOtherError;
        }
        const SimState& state = call.State();
        if (count == nullptr) {
            call.Argument("count_in", "-");
            return call.Finish(kFtInvalidParameter);
        }
        call.Argument("count_in", std::to_string(*count));
        if (const auto fault = call.Fault(EntryPoint::kGetDeviceInfoList, std::nullopt)) {
            *count = state.getCount.value_or(0);
            call.Argument("count_out", std::to_string(*count));
            call.Argument("filled", "0");
            return call.Finish(*fault);
        }
        if (nodes == nullptr) {
            return call.Finish(kFtInvalidParameter);
        }
        // The library reports every device and trusts the array to be as long
        // as its last count; filling no more than the caller says it has keeps
        // a short array intact while the count still tells the whole list.
        const auto deviceCount = static_cast<std::uint32_t>(state.devices.size());
        const std::uint32_t filled = std::min(*count, deviceCount);
        for (std::uint32_t i = 0; i < filled; ++i) {
            nodes[i] = NodeOf(state.devices[i], TheOpenHandles().HandleOf(i));
        }
        *count = state.getCount.value_or(deviceCount);
        call.Argument("count_out", std::to_string(*count));
        call.Argument("filled", std::to_string(filled));
        return call.Finish(kFtOk);
    });
}

FtStatus SimOpen(int deviceIndex, FtHandle* handle) noexcept {
    return Guarded([&] {
        Call call(EntryPoint::kOpen);
        if (!call.Load()) {
            return kFtOtherError;
        }
        const SimState& state = call.State();
        call.Argument("index", std::to_string(deviceIndex));
        const auto index =
            deviceIndex >= 0 ? std::optional<std::uint32_t>(static_cast<std::uint32_t>(deviceIndex)) : std::nullopt;
        if (const auto fault = call.Fault(EntryPoint::kOpen, index)) {
            return call.Finish(*fault);
        }
        if (handle == nullptr) {
            return call.Finish(kFtInvalidParameter);
        }
        if (!index || *index >= state.devices.size()) {
            return call.Finish(kFtDeviceNotFound);
        }
        if (state.devices[*index].inUse || TheOpenHandles().HandleOf(*index) != nullptr) {
            return call.Finish(kFtDeviceNotOpened);
        }
        *handle = TheOpenHandles().Add(*index);
        return call.Finish(kFtOk);
    });
}

FtStatus SimClose(FtHandle handle) noexcept {
    return Guarded([&] {
        Call call(EntryPoint::kClose);
        if (!call.Load()) {
            return kFtOtherError;
        }
        const auto deviceIndex = TheOpenHandles().DeviceOf(handle);
        call.DeviceArgument(deviceIndex);
        if (const auto fault = call.Fault(EntryPoint::kClose, deviceIndex)) {
            return call.Finish(*fault);
        }
        if (!deviceIndex) {
            return call.Finish(kFtInvalidHandle);
        }
        TheOpenHandles().Remove(handle);
        return call.Finish(kFtOk);
    });
}

FtStatus SimEepromRead(FtHandle handle, void* eepromData, std::uint32_t eepromDataSize, char* manufacturer,
                       char* manufacturerId, char* description, char* serialNumber) noexcept {
    return Guarded([&] {
        Call call(EntryPoint::kEepromRead);
        if (!call.Load()) {
            return kFtOtherError;
        }
        const HandleCheck check = CheckHandle(call, EntryPoint::kEepromRead, handle);
        call.Argument("size", std::to_string(eepromDataSize));
        const bool typeReadable = eepromData != nullptr && eepromDataSize >= sizeof(std::uint32_t);
        call.Argument("device_type", typeReadable ? std::to_string(DeviceTypeOf(eepromData)) : "-");
        if (check.failure) {
            return call.Finish(*check.failure);
        }
        const SimDevice& device = call.State().devices[*check.deviceIndex];
        if (eepromData == nullptr || manufacturer == nullptr || manufacturerId == nullptr || description == nullptr ||
            serialNumber == nullptr || eepromDataSize != kEepromRecordSize || DeviceTypeOf(eepromData) != device.type ||
            device.type != kDeviceTypeFt232h) {
            return call.Finish(kFtInvalidParameter);
        }
        if (!device.eeprom.programmed || ReadsAsNotProgrammed(FromRecordBytes(device.eeprom.record))) {
            return call.Finish(kFtEepromNotProgrammed);
        }
        std::memcpy(eepromData, device.eeprom.record.data(), kEepromRecordSize);
        CopyStringOut(device.eeprom.manufacturer, manufacturer);
        // The chip keeps no ManufacturerId: the library gives back the serial
        // number's first two characters.
        CopyStringOut(device.eeprom.serialNumber.substr(0, 2), manufacturerId);
        CopyStringOut(device.eeprom.description, description);
        CopyStringOut(device.eeprom.serialNumber, serialNumber);
        return call.Finish(kFtOk);
    });
}

FtStatus SimEepromProgram(FtHandle handle, void* eepromData, std::uint32_t eepromDataSize, char* manufacturer,
                          char* manufacturerId, char* description, char* serialNumber) noexcept {
    return Guarded([&] {
        Call call(EntryPoint::kEepromProgram);
        if (!call.Load()) {
            return kFtOtherError;
        }
        const HandleCheck check = CheckHandle(call, EntryPoint::kEepromProgram, handle);
        call.Argument("size", std::to_string(eepromDataSize));
        const bool recordReadable = eepromData != nullptr && eepromDataSize == kEepromRecordSize;
        call.Argument("record", recordReadable
                                    ? ToHex(std::string_view(static_cast<const char*>(eepromData), kEepromRecordSize))
                                    : "-");
        call.Argument("manufacturer", CallerStringForLog(manufacturer));
        call.Argument("manufacturer_id", CallerStringForLog(manufacturerId));
        call.Argument("description", CallerStringForLog(description));
        call.Argument("serial", CallerStringForLog(serialNumber));
        if (check.failure) {
            return call.Finish(*check.failure);
        }
        SimDevice& device = call.State().devices[*check.deviceIndex];
        if (!recordReadable || manufacturer == nullptr || manufacturerId == nullptr || description == nullptr ||
            serialNumber == nullptr || DeviceTypeOf(eepromData) != device.type || device.type != kDeviceTypeFt232h) {
            return call.Finish(kFtInvalidParameter);
        }
        SimEeprom eeprom;
        eeprom.programmed = true;
        std::memcpy(eeprom.record.data(), eepromData, kEepromRecordSize);
        const auto manufacturerBytes = CallerString(manufacturer);
        const auto manufacturerIdBytes = CallerString(manufacturerId);
        const auto descriptionBytes = CallerString(description);
        const auto serialNumberBytes = CallerString(serialNumber);
        if (!manufacturerBytes || !manufacturerIdBytes || !descriptionBytes || !serialNumberBytes) {
            return call.Finish(kFtInvalidParameter);
        }
        eeprom.manufacturer = *manufacturerBytes;
        eeprom.manufacturerId = *manufacturerIdBytes;
        eeprom.description = *descriptionBytes;
        eeprom.serialNumber = *serialNumberBytes;
        FtStatus refusal = kFtOk;
        const auto stored = RecordAsProgrammed(FromRecordBytes(eeprom.record), refusal);
        if (!stored) {
            return call.Finish(refusal);
        }
        eeprom.record = ToRecordBytes(*stored);
        eeprom.serialNumber = StoredSerialNumber(eeprom.serialNumber, eeprom.manufacturerId, device.locId);
        device.eeprom = std::move(eeprom);
        std::string error;
        if (!call.Save(error)) {
            Complain(error);
            return call.Finish(kFtEepromWriteFailed);
        }
        return call.Finish(kFtOk);
    });
}

FtStatus SimEraseEe(FtHandle handle) noexcept {
    return Guarded([&] {
        Call call(EntryPoint::kEraseEe);
        if (!call.Load()) {
            return kFtOtherError;
        }
        const HandleCheck check = CheckHandle(call, EntryPoint::kEraseEe, handle);
        if (check.failure) {
            return call.Finish(*check.failure);
        }
        call.State().devices[*check.deviceIndex].eeprom = SimEeprom{};
        std::string error;
        if (!call.Save(error)) {
            Complain(error);
            return call.Finish(kFtEepromEraseFailed);
        }
        return call.Finish(kFtOk);
    });
}

}  // namespace ft232h::sim
