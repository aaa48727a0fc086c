// Our own declarations of the D2XX entry points and records, held against
// FTDI's header: the tool never includes it, so only this check would notice
// a difference. Most of it is decided at compile time; the run then resolves
// every entry point the tool uses in FTDI's own library.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <type_traits>

#include <ftd2xx.h>

#include "d2xx/d2xx_api.hpp"
#include "d2xx/eeprom_record.hpp"
#include "d2xx/shared_library.hpp"

namespace {

using ft232h::DeviceInfoNode;
using ft232h::EepromRecord;

// The same field at the same place with the same size in both records.
#define FT232H_SAME_FIELD(ours, oursField, theirs, theirsField)                                     \
    static_assert(offsetof(ours, oursField) == offsetof(theirs, theirsField), #oursField " moved"); \
    static_assert(sizeof(ours::oursField) == sizeof(theirs::theirsField), #oursField " changed size")

static_assert(sizeof(EepromRecord) == sizeof(FT_EEPROM_232H));
static_assert(ft232h::kEepromRecordSize == sizeof(FT_EEPROM_232H));
FT232H_SAME_FIELD(EepromRecord, deviceType, FT_EEPROM_232H, common.deviceType);
FT232H_SAME_FIELD(EepromRecord, VendorId, FT_EEPROM_232H, common.VendorId);
FT232H_SAME_FIELD(EepromRecord, ProductId, FT_EEPROM_232H, common.ProductId);
FT232H_SAME_FIELD(EepromRecord, SerNumEnable, FT_EEPROM_232H, common.SerNumEnable);
FT232H_SAME_FIELD(EepromRecord, MaxPower, FT_EEPROM_232H, common.MaxPower);
FT232H_SAME_FIELD(EepromRecord, SelfPowered, FT_EEPROM_232H, common.SelfPowered);
FT232H_SAME_FIELD(EepromRecord, RemoteWakeup, FT_EEPROM_232H, common.RemoteWakeup);
FT232H_SAME_FIELD(EepromRecord, PullDownEnable, FT_EEPROM_232H, common.PullDownEnable);
FT232H_SAME_FIELD(EepromRecord, ACSlowSlew, FT_EEPROM_232H, ACSlowSlew);
FT232H_SAME_FIELD(EepromRecord, ACSchmittInput, FT_EEPROM_232H, ACSchmittInput);
FT232H_SAME_FIELD(EepromRecord, ACDriveCurrent, FT_EEPROM_232H, ACDriveCurrent);
FT232H_SAME_FIELD(EepromRecord, ADSlowSlew, FT_EEPROM_232H, ADSlowSlew);
FT232H_SAME_FIELD(EepromRecord, ADSchmittInput, FT_EEPROM_232H, ADSchmittInput);
FT232H_SAME_FIELD(EepromRecord, ADDriveCurrent, FT_EEPROM_232H, ADDriveCurrent);
FT232H_SAME_FIELD(EepromRecord, Cbus0, FT_EEPROM_232H, Cbus0);
FT232H_SAME_FIELD(EepromRecord, Cbus1, FT_EEPROM_232H, Cbus1);
FT232H_SAME_FIELD(EepromRecord, Cbus2, FT_EEPROM_232H, Cbus2);
FT232H_SAME_FIELD(EepromRecord, Cbus3, FT_EEPROM_232H, Cbus3);
FT232H_SAME_FIELD(EepromRecord, Cbus4, FT_EEPROM_232H, Cbus4);
FT232H_SAME_FIELD(EepromRecord, Cbus5, FT_EEPROM_232H, Cbus5);
FT232H_SAME_FIELD(EepromRecord, Cbus6, FT_EEPROM_232H, Cbus6);
FT232H_SAME_FIELD(EepromRecord, Cbus7, FT_EEPROM_232H, Cbus7);
FT232H_SAME_FIELD(EepromRecord, Cbus8, FT_EEPROM_232H, Cbus8);
FT232H_SAME_FIELD(EepromRecord, Cbus9, FT_EEPROM_232H, Cbus9);
FT232H_SAME_FIELD(EepromRecord, FT1248Cpol, FT_EEPROM_232H, FT1248Cpol);
FT232H_SAME_FIELD(EepromRecord, FT1248Lsb, FT_EEPROM_232H, FT1248Lsb);
FT232H_SAME_FIELD(EepromRecord, FT1248FlowControl, FT_EEPROM_232H, FT1248FlowControl);
FT232H_SAME_FIELD(EepromRecord, IsFifo, FT_EEPROM_232H, IsFifo);
FT232H_SAME_FIELD(EepromRecord, IsFifoTar, FT_EEPROM_232H, IsFifoTar);
FT232H_SAME_FIELD(EepromRecord, IsFastSer, FT_EEPROM_232H, IsFastSer);
FT232H_SAME_FIELD(EepromRecord, IsFT1248, FT_EEPROM_232H, IsFT1248);
FT232H_SAME_FIELD(EepromRecord, PowerSaveEnable, FT_EEPROM_232H, PowerSaveEnable);
FT232H_SAME_FIELD(EepromRecord, DriverType, FT_EEPROM_232H, DriverType);
// The values the tool writes into them, or reads from the list.
static_assert(ft232h::kDeviceTypeFt232h == FT_DEVICE_232H);
static_assert(ft232h::kDeviceTypeUnknown == FT_DEVICE_UNKNOWN);
static_assert(ft232h::kDeviceFlagOpened == FT_FLAGS_OPENED);

static_assert(sizeof(DeviceInfoNode) == sizeof(FT_DEVICE_LIST_INFO_NODE));
FT232H_SAME_FIELD(DeviceInfoNode, Flags, FT_DEVICE_LIST_INFO_NODE, Flags);
FT232H_SAME_FIELD(DeviceInfoNode, Type, FT_DEVICE_LIST_INFO_NODE, Type);
FT232H_SAME_FIELD(DeviceInfoNode, ID, FT_DEVICE_LIST_INFO_NODE, ID);
FT232H_SAME_FIELD(DeviceInfoNode, LocId, FT_DEVICE_LIST_INFO_NODE, LocId);
FT232H_SAME_FIELD(DeviceInfoNode, SerialNumber, FT_DEVICE_LIST_INFO_NODE, SerialNumber);
FT232H_SAME_FIELD(DeviceInfoNode, Description, FT_DEVICE_LIST_INFO_NODE, Description);
FT232H_SAME_FIELD(DeviceInfoNode, ftHandle, FT_DEVICE_LIST_INFO_NODE, ftHandle);

// The statuses the tool and the simulator name.
static_assert(ft232h::kFtOk == FT_OK);
static_assert(ft232h::kFtDeviceNotFound == FT_DEVICE_NOT_FOUND);
static_assert(ft232h::kFtInvalidParameter == FT_INVALID_PARAMETER);
static_assert(ft232h::kFtEepromReadFailed == FT_EEPROM_READ_FAILED);
static_assert(ft232h::kFtEepromNotProgrammed == FT_EEPROM_NOT_PROGRAMMED);
static_assert(ft232h::kFtOtherError == FT_OTHER_ERROR);

// The entry points, parameter for parameter. The list node differs in name
// only, checked field by field above.
static_assert(std::is_same_v<ft232h::FtStatus, FT_STATUS>);
static_assert(std::is_same_v<ft232h::FtHandle, FT_HANDLE>);
static_assert(std::is_same_v<ft232h::FtCreateDeviceInfoListFunction, decltype(&FT_CreateDeviceInfoList)>);
static_assert(std::is_same_v<ft232h::FtGetDeviceInfoListFunction,
                             FT_STATUS (*)(DeviceInfoNode*, std::remove_pointer_t<LPDWORD>*)>);
static_assert(
    std::is_same_v<FT_STATUS (*)(FT_DEVICE_LIST_INFO_NODE*, std::uint32_t*), decltype(&FT_GetDeviceInfoList)>);
static_assert(std::is_same_v<ft232h::FtOpenFunction, decltype(&FT_Open)>);
static_assert(std::is_same_v<ft232h::FtCloseFunction, decltype(&FT_Close)>);
static_assert(std::is_same_v<ft232h::FtEepromReadFunction, decltype(&FT_EEPROM_Read)>);
static_assert(std::is_same_v<ft232h::FtEepromProgramFunction, decltype(&FT_EEPROM_Program)>);
static_assert(std::is_same_v<ft232h::FtEraseEeFunction, decltype(&FT_EraseEE)>);

}  // namespace

// Loads FTDI's library the way the tool does, from the directory given, and
// resolves every entry point the tool binds by name. Nothing is called:
// without a device, FTDI's FT_Open is not safe to call.
int main(int argc, char** argv) {
    const auto library = ft232h::LoadD2xxLibrary(argc == 2 ? std::string(argv[1]) + "/" : std::string());
    int failures = library ? 0 : 1;
    for (const char* name : {"FT_CreateDeviceInfoList", "FT_GetDeviceInfoList", "FT_Open", "FT_Close", "FT_EEPROM_Read",
                             "FT_EEPROM_Program", "FT_EraseEE"}) {
        if (!library || library->FindSymbol(name) == nullptr) {
            std::printf("FAILED: %s not found\n", name);
            failures = 1;
        }
    }
    std::printf("%d passed, %d failed\n", 1 - failures, failures);
    return failures;
}
