// The usbfs side of a virtual chip: what the kernel would do for a program
// that opens /dev/bus/usb/BBB/DDD, with the chip model in place of the wire.
#include "emu/usb_device.hpp"

#include <errno.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <umockdev.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

namespace emu {
namespace {

constexpr std::size_t kSetupBytes = 8;
// The kernel's default usbfs memory limit (usbfs_memory_mb = 16): a larger
// URB is refused with ENOMEM there, and is not copied here.
constexpr int kMaxUrbBytes = 16 * 1024 * 1024;

long long NowMs() {
    return MonotonicUs() / 1000;
}

std::string HexBytes(const std::uint8_t* bytes, std::size_t count) {
    std::string out;
    char byte[4];
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(byte, sizeof byte, i == 0 ? "%02x" : " %02x", bytes[i]);
        out += byte;
    }
    return out;
}

void LogLine(UsbDevice& device, const std::string& text) {
    if (device.log == nullptr || device.log->file == nullptr) {
        return;
    }
    const std::lock_guard lock(device.log->mutex);
    const double elapsedMs = static_cast<double>(MonotonicUs() - device.log->startUs) / 1000.0;
    std::fprintf(device.log->file, "%10.3f ms  device %d (%03d/%03d): %s\n", elapsedMs, device.position, device.bus,
                 device.address, text.c_str());
    std::fflush(device.log->file);
}

const char* HandshakeName(Handshake handshake) {
    // A switch, so that a new kind of handshake cannot go unnamed unnoticed.
    switch (handshake) {
        case Handshake::kAck:
            return "ok";
        case Handshake::kStall:
            return "STALL";
        case Handshake::kError:
            return "ERROR (protocol)";
    }
    return "?";
}

usbdevfs_urb* UrbOf(const PendingUrb& pending) {
    return reinterpret_cast<usbdevfs_urb*>(pending.urb->data);
}

// A control URB is answered at once: the chip model computes the data stage
// and the status, and the URB waits to be reaped.
void SubmitControl(UsbDevice& device, PendingUrb& pending) {
    usbdevfs_urb* urb = UrbOf(pending);
    std::uint8_t* buffer = pending.buffer->data;
    const auto length = static_cast<std::size_t>(pending.buffer->data_len);
    Setup setup;
    setup.requestType = buffer[0];
    setup.request = buffer[1];
    setup.value = static_cast<std::uint16_t>(buffer[2] | (buffer[3] << 8));
    setup.index = static_cast<std::uint16_t>(buffer[4] | (buffer[5] << 8));
    setup.length = static_cast<std::uint16_t>(buffer[6] | (buffer[7] << 8));
    const std::size_t room = std::min<std::size_t>(setup.length, length - kSetupBytes);
    const std::span<std::uint8_t> data(buffer + kSetupBytes, room);
    const bool in = (setup.requestType & 0x80) != 0;

    const ControlAnswer answer = AnswerControl(device.chip, setup, data);
    urb->status = answer.handshake == Handshake::kAck ? 0 : answer.handshake == Handshake::kStall ? -EPIPE : -EPROTO;
    urb->actual_length = static_cast<int>(answer.handshake != Handshake::kAck ? 0 : in ? answer.length : room);

    char line[160];
    std::snprintf(line, sizeof line, "control %02x %02x %04x %04x %4u  %s -> %s", setup.requestType, setup.request,
                  setup.value, setup.index, static_cast<unsigned>(setup.length), DescribeRequest(setup).c_str(),
                  HandshakeName(answer.handshake));
    std::string text = line;
    if (answer.handshake == Handshake::kAck && in && answer.length > 0) {
        text += ": " + HexBytes(data.data(), answer.length);
    }
    LogLine(device, text);
}

// Bulk IN: a real FTDI chip sends its two modem-status bytes whenever its
// latency timer runs out, data or not. The oldest pending read of a port is
// answered that way once the port's timer has run out since its last answer.
bool CompleteDueBulkIn(UsbDevice& device, const UMockdevIoctlClient* owner) {
    const long long now = NowMs();
    for (auto it = device.bulkIn.begin(); it != device.bulkIn.end(); ++it) {
        const int port = it->endpoint == 0x83 ? 1 : 0;
        if (it->owner != owner ||
            now - device.lastStatusMs[port] < device.chip.latencyMs[static_cast<std::size_t>(port)]) {
            continue;
        }
        device.lastStatusMs[port] = now;
        usbdevfs_urb* urb = UrbOf(*it);
        const std::size_t room = it->buffer == nullptr ? 0 : static_cast<std::size_t>(it->buffer->data_len);
        const std::size_t n = std::min(kIdleModemStatus.size(), room);
        std::copy_n(kIdleModemStatus.begin(), n, it->buffer == nullptr ? nullptr : it->buffer->data);
        urb->status = 0;
        urb->actual_length = static_cast<int>(n);
        device.done.push_back(*it);
        device.bulkIn.erase(it);
        return true;
    }
    return false;
}

void Finish(UMockdevIoctlClient* client, long result, int error) {
    umockdev_ioctl_client_complete(client, result, error);
}

void HandleSubmit(UsbDevice& device, UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    UMockdevIoctlData* urbData = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
    if (urbData == nullptr) {
        Finish(client, -1, EFAULT);
        return;
    }
    auto* urb = reinterpret_cast<usbdevfs_urb*>(urbData->data);
    if (urb->buffer_length < 0 || urb->buffer_length > kMaxUrbBytes ||
        (urb->type == USBDEVFS_URB_TYPE_CONTROL && static_cast<std::size_t>(urb->buffer_length) < kSetupBytes)) {
        umockdev_ioctl_data_unref(urbData);
        Finish(client, -1, urb->buffer_length > kMaxUrbBytes ? ENOMEM : EINVAL);
        return;
    }
    PendingUrb pending;
    pending.endpoint = urb->endpoint;
    pending.owner = client;
    if (urb->buffer_length > 0) {
        pending.buffer = umockdev_ioctl_data_resolve(urbData, offsetof(usbdevfs_urb, buffer),
                                                     static_cast<std::size_t>(urb->buffer_length), nullptr);
        if (pending.buffer == nullptr) {
            umockdev_ioctl_data_unref(urbData);
            Finish(client, -1, EFAULT);
            return;
        }
    }
    // The resolved buffer belongs to urbData, which keeps it for the reap.
    if (pending.buffer != nullptr) {
        umockdev_ioctl_data_unref(pending.buffer);
    }
    pending.urb = urbData;

    if (urb->type == USBDEVFS_URB_TYPE_CONTROL) {
        SubmitControl(device, pending);
        device.done.push_back(pending);
    } else if (urb->type == USBDEVFS_URB_TYPE_BULK && (urb->endpoint & 0x80) != 0) {
        device.bulkIn.push_back(pending);
    } else {
        // Bulk OUT (data for the UART or the MPSSE) too: nothing here sends any.
        umockdev_ioctl_data_unref(pending.urb);
        char line[80];
        std::snprintf(line, sizeof line, "URB of type %d on endpoint %02x refused", urb->type, urb->endpoint);
        LogLine(device, line);
        Finish(client, -1, EINVAL);
        return;
    }
    Finish(client, 0, 0);
}

void HandleReap(UsbDevice& device, UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    const auto mine = [client](const PendingUrb& pending) { return pending.owner == client; };
    auto next = std::find_if(device.done.begin(), device.done.end(), mine);
    if (next == device.done.end() && CompleteDueBulkIn(device, client)) {
        next = std::prev(device.done.end());
    }
    if (next == device.done.end()) {
        ++device.emptyReaps;
        Finish(client, -1, EAGAIN);
        return;
    }
    const PendingUrb pending = *next;
    device.done.erase(next);
    const usbdevfs_urb* urb = UrbOf(pending);
    if (urb->type == USBDEVFS_URB_TYPE_BULK && (urb->endpoint & 0x80) != 0) {
        char line[96];
        if (urb->status == 0) {
            const std::size_t length = static_cast<std::size_t>(urb->actual_length);
            std::snprintf(line, sizeof line, "bulk IN %02x -> %s", urb->endpoint,
                          length == 0 ? "nothing" : HexBytes(pending.buffer->data, length).c_str());
        } else {
            std::snprintf(line, sizeof line, "bulk IN %02x -> cancelled", urb->endpoint);
        }
        LogLine(device, line);
    }
    UMockdevIoctlData* pointer = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), nullptr);
    if (pointer == nullptr) {
        device.done.push_front(pending);  // still the client's oldest
        Finish(client, -1, EFAULT);
        return;
    }
    umockdev_ioctl_data_set_ptr(pointer, 0, pending.urb);
    umockdev_ioctl_data_unref(pointer);
    umockdev_ioctl_data_unref(pending.urb);
    Finish(client, 0, 0);
}

void HandleDiscard(UsbDevice& device, UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    gulong address = 0;
    std::memcpy(&address, arg->data, sizeof address);
    for (auto it = device.bulkIn.begin(); it != device.bulkIn.end(); ++it) {
        if (it->owner == client && it->urb->client_addr == address) {
            UrbOf(*it)->status = -ENOENT;
            UrbOf(*it)->actual_length = 0;
            device.done.push_back(*it);
            device.bulkIn.erase(it);
            Finish(client, 0, 0);
            return;
        }
    }
    // Already completed (or never ours): the kernel says EINVAL.
    Finish(client, -1, EINVAL);
}

// CLAIMINTERFACE and RELEASEINTERFACE take the interface number.
bool HandleInterface(UsbDevice& device, UMockdevIoctlClient* client, UMockdevIoctlData* arg, bool claim) {
    UMockdevIoctlData* number = umockdev_ioctl_data_resolve(arg, 0, sizeof(unsigned int), nullptr);
    if (number == nullptr) {
        Finish(client, -1, EFAULT);
        return true;
    }
    unsigned int interface = 0;
    std::memcpy(&interface, number->data, sizeof interface);
    umockdev_ioctl_data_unref(number);
    char line[80];
    if (interface >= static_cast<unsigned>(device.chip.presented.interfaces)) {
        std::snprintf(line, sizeof line, "%s interface %u -> no such interface", claim ? "claim" : "release",
                      interface);
        LogLine(device, line);
        Finish(client, -1, claim ? ENOENT : EINVAL);
        return true;
    }
    if (claim && device.chip.faults.inUse) {
        std::snprintf(line, sizeof line, "claim interface %u -> busy (held by another program)", interface);
        LogLine(device, line);
        Finish(client, -1, EBUSY);
        return true;
    }
    std::snprintf(line, sizeof line, "%s interface %u", claim ? "claim" : "release", interface);
    LogLine(device, line);
    Finish(client, 0, 0);
    return true;
}

// umockdev does not tell when the program closes the node (its
// client-vanished signal is never sent), so the URBs a closed file left
// behind stay until the chip is unplugged.
void DropUrbs(std::deque<PendingUrb>& urbs) {
    for (const PendingUrb& pending : urbs) {
        umockdev_ioctl_data_unref(pending.urb);
    }
    urbs.clear();
}

gboolean OnIoctl(UMockdevIoctlBase* /*handler*/, UMockdevIoctlClient* client, gpointer userData) {
    auto& device = *static_cast<UsbDevice*>(userData);
    const std::lock_guard lock(device.mutex);
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);

    switch (request) {
        case USBDEVFS_SUBMITURB:
            HandleSubmit(device, client, arg);
            return TRUE;
        // libusb only ever reaps without waiting; a waiting reap is answered
        // the same way (EAGAIN when nothing is done) rather than held.
        case USBDEVFS_REAPURB:
        case USBDEVFS_REAPURBNDELAY:
            HandleReap(device, client, arg);
            return TRUE;
        case USBDEVFS_DISCARDURB:
            HandleDiscard(device, client, arg);
            return TRUE;
        case USBDEVFS_CLAIMINTERFACE:
            return HandleInterface(device, client, arg, true);
        case USBDEVFS_RELEASEINTERFACE:
            return HandleInterface(device, client, arg, false);
        case USBDEVFS_GET_CAPABILITIES: {
            UMockdevIoctlData* caps = umockdev_ioctl_data_resolve(arg, 0, sizeof(std::uint32_t), nullptr);
            if (caps == nullptr) {
                Finish(client, -1, EFAULT);
                return TRUE;
            }
            const std::uint32_t value = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                                        USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
            std::memcpy(caps->data, &value, sizeof value);
            umockdev_ioctl_data_unref(caps);
            Finish(client, 0, 0);
            return TRUE;
        }
        case USBDEVFS_GETDRIVER:
            // No kernel driver is bound to a virtual chip, so libftdi has
            // none to detach.
            Finish(client, -1, ENODATA);
            return TRUE;
        default: {
            char line[80];
            std::snprintf(line, sizeof line, "ioctl %#lx not supported", static_cast<unsigned long>(request));
            LogLine(device, line);
            Finish(client, -1, ENOTTY);
            return TRUE;
        }
    }
}

std::string HexOf(const std::vector<std::uint8_t>& bytes) {
    std::string out;
    char byte[3];
    for (const std::uint8_t b : bytes) {
        std::snprintf(byte, sizeof byte, "%02x", b);
        out += byte;
    }
    return out;
}

}  // namespace

long long MonotonicUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool PlugIn(UMockdevTestbed* testbed, UsbDevice& device) {
    char node[32];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03d", device.bus, device.address);
    device.handler = umockdev_ioctl_base_new();
    g_signal_connect_data(device.handler, "handle-ioctl", reinterpret_cast<GCallback>(&OnIoctl), &device, nullptr,
                          G_CONNECT_AFTER);
    GError* attachError = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed, node, device.handler, &attachError)) {
        std::fprintf(stderr, "ft232h_emu: cannot attach %s: %s\n", node,
                     attachError != nullptr ? attachError->message : "?");
        g_clear_error(&attachError);
        return false;
    }

    const Presentation& p = device.chip.presented;
    const std::string sysfsPath =
        "/sys/devices/pci0000:00/0000:00:14.0/usb" + std::to_string(device.bus) + "/" + device.sysfsName;
    char number[16];
    const auto padded = [&number](int value) {
        std::snprintf(number, sizeof number, "%03d", value);
        return std::string(number);
    };
    const auto hex4 = [&number](unsigned value) {
        std::snprintf(number, sizeof number, "%04x", value);
        return std::string(number);
    };
    // umockdev's record format: P: the sysfs path, N: the node, E: the
    // properties udev would add (libusb built with udev finds the node
    // through DEVNAME), A: the kernel's attribute files (values escaped, so
    // the newline is written \n), H: a binary attribute in hexadecimal.
    const std::vector<std::string> lines = {
        "P: " + sysfsPath.substr(4),
        "N: " + std::string(node).substr(5),
        "E: SUBSYSTEM=usb",
        "E: DEVTYPE=usb_device",
        "E: DRIVER=usb",
        "E: DEVNAME=" + std::string(node),
        "E: BUSNUM=" + padded(device.bus),
        "E: DEVNUM=" + padded(device.address),
        "A: busnum=" + std::to_string(device.bus) + "\\n",
        "A: devnum=" + std::to_string(device.address) + "\\n",
        "A: speed=480\\n",
        "A: version= 2.00\\n",
        "A: idVendor=" + hex4(p.vendorId) + "\\n",
        "A: idProduct=" + hex4(p.productId) + "\\n",
        "A: bcdDevice=" + hex4(p.release) + "\\n",
        "A: bNumConfigurations=1\\n",
        "A: bConfigurationValue=1\\n",
        "A: bNumInterfaces= " + std::to_string(p.interfaces) + "\\n",
        "A: bMaxPacketSize0=64\\n",
        "H: descriptors=" + HexOf(p.deviceDescriptor) + HexOf(p.configurationDescriptor),
    };
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\n";
    }
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(testbed, text.c_str(), &error)) {
        std::fprintf(stderr, "ft232h_emu: cannot add %s: %s\n", node, error != nullptr ? error->message : "?");
        g_clear_error(&error);
        return false;
    }
    // Strings go in separately: they come from the EEPROM and may hold any byte.
    const char* names[] = {nullptr, "manufacturer", "product", "serial"};
    for (std::size_t i = 1; i < p.strings.size(); ++i) {
        if (!p.strings[i].empty()) {
            umockdev_testbed_set_attribute(testbed, sysfsPath.c_str(), names[i],
                                           (StringDescriptorText(p.strings[i]) + "\n").c_str());
        }
    }
    return true;
}

void Unplug(UMockdevTestbed* testbed, UsbDevice& device) {
    char node[32];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03d", device.bus, device.address);
    if (device.handler != nullptr) {
        umockdev_testbed_detach_ioctl(testbed, node, nullptr);
        g_object_unref(device.handler);
        device.handler = nullptr;
    }
    const std::lock_guard lock(device.mutex);
    if (device.emptyReaps > 0) {
        LogLine(device, std::to_string(device.emptyReaps) + " reaps found nothing to reap");
    }
    DropUrbs(device.done);
    DropUrbs(device.bulkIn);
}

}  // namespace emu
