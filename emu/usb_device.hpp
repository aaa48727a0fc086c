// One virtual chip on the virtual bus: its sysfs entry and device node in a
// umockdev testbed, and the usbfs requests on that node answered from the
// chip model. The requests arrive on umockdev's worker thread; the launcher
// reads the chip only after the program under test has ended.
#pragma once

#include <cstdio>
#include <deque>
#include <mutex>
#include <string>

#include "emu/chip.hpp"

struct _UMockdevTestbed;
struct _UMockdevIoctlBase;
struct _UMockdevIoctlData;
struct _UMockdevIoctlClient;

namespace emu {

// Where request lines go (one file shared by every device, one line each).
struct RequestLog {
    std::FILE* file = nullptr;
    long long startUs = 0;  // lines carry the time since then, in milliseconds
    std::mutex mutex;
};

// Microseconds on the monotonic clock.
long long MonotonicUs();

// An URB the program submitted and has not reaped yet. URBs belong to the
// open file they were submitted on, as the kernel keeps them.
struct PendingUrb {
    _UMockdevIoctlData* urb = nullptr;      // our copy of the client's struct usbdevfs_urb (one reference)
    _UMockdevIoctlData* buffer = nullptr;   // its data buffer, owned by `urb`; null for an empty one
    _UMockdevIoctlClient* owner = nullptr;  // the open file of the node
    unsigned char endpoint = 0;
};

struct UsbDevice {
    int position = 0;  // the order of --device, used in the log
    int bus = 1;
    int address = 0;
    std::string sysfsName;  // e.g. 1-2
    Chip chip;
    RequestLog* log = nullptr;
    _UMockdevIoctlBase* handler = nullptr;

    std::mutex mutex;                    // guards everything below and `chip`
    std::deque<PendingUrb> done;         // completed, waiting to be reaped (oldest first)
    std::deque<PendingUrb> bulkIn;       // pending reads from the chip's bulk IN endpoints
    long long lastStatusMs[2] = {0, 0};  // when each port last sent its modem status
    long long emptyReaps = 0;            // reaps that found nothing: the program's event thread polling
};

// Adds the device to the testbed (sysfs entry, node /dev/bus/usb/BBB/DDD)
// and answers its usbfs requests from now on. False, with a message on
// standard error, when umockdev refuses.
bool PlugIn(_UMockdevTestbed* testbed, UsbDevice& device);

// Releases what PlugIn attached (the URBs still held and the handler).
void Unplug(_UMockdevTestbed* testbed, UsbDevice& device);

}  // namespace emu
