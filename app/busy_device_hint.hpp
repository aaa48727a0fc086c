// What the system itself may have to do with a device that another program
// or driver holds. One implementation per platform.
#pragma once

namespace ft232h {

// The line printed once after the lines of the busy devices, or nullptr
// where the tool has nothing to add to them.
const char* BusyDeviceHint();

}  // namespace ft232h
