// The facts of the system the tool is built for that are no service of their
// own: one switch each, here and nowhere else.
#pragma once

namespace ft232h {

// Linux's kernel binds its ftdi_sio driver to every FTDI device as it is
// plugged in, so there it, not another program, is the usual holder of a
// busy device, and the README says how to make it let go.
#if defined(__linux__)
inline constexpr bool kKernelDriverHoldsFtdiDevices = true;
#else
inline constexpr bool kKernelDriverHoldsFtdiDevices = false;
#endif

}  // namespace ft232h
