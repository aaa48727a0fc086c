// Implementation here is for the systems without a hint of their own
// (Windows, macOS): there the busy line stands alone.
#include "app/busy_device_hint.hpp"

namespace ft232h {

const char* BusyDeviceHint() {
    return nullptr;
}

}  // namespace ft232h
