// Implementation here must contain only Linux specific code.
#include "app/busy_device_hint.hpp"
#include "app/messages.hpp"

namespace ft232h {

// The kernel's ftdi_sio driver binds every FTDI device as it is plugged in,
// so on Linux it, not another program, is the usual holder; the README says
// how to make it let go.
const char* BusyDeviceHint() {
    return messages::kBusyDeviceLinuxHint;
}

}  // namespace ft232h
