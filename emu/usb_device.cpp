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
// What an idle FTDI chip's bulk IN packet carries: its two modem-status bytes.
constexpr std::array<std::uint8_t, 2> kIdleModemStatus{0x01, 0x60};

long long now_ms() {
    return monotonic_us() / 1000;
}

std::string hex_bytes(const std::uint8_t* bytes, std::size_t count) {
    std::string out;
    char byte[4];
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(byte, sizeof byte, i == 0 ? "%02x" : " %02x", bytes[i]);
        out += byte;
    }
    return out;
}

void log_line(UsbDevice& device, const std::string& text) {
    if (device.log == nullptr || device.log->file == nullptr) {
        return;
    }
    const std::lock_guard lock(device.log->mutex);
    const double elapsed_ms = static_cast<double>(monotonic_us() - device.log->start_us) / 1000.0;
    std::fprintf(device.log->file, "%10.3f ms  device %d (%03d/%03d): %s\n", elapsed_ms, device.position, device.bus,
                 device.address, text.c_str());
    std::fflush(device.log->file);
}

const char* handshake_name(Handshake handshake) {
    // A switch, so that a new kind of handshake cannot go unnamed unnoticed.
    switch (handshake) {
        case Handshake::ack:
            return "ok";
        case Handshake::stall:
            return "STALL";
        case Handshake::error:
            return "ERROR (protocol)";
    }
    return "?";
}

usbdevfs_urb* urb_of(const PendingUrb& pending) {
    return reinterpret_cast<usbdevfs_urb*>(pending.urb->data);
}

// A control URB is answered at once: the chip model computes the data stage
// and the status, and the URB waits to be reaped.
void submit_control(UsbDevice& device, PendingUrb& pending) {
    usbdevfs_urb* urb = urb_of(pending);
    std::uint8_t* buffer = pending.buffer->data;
    const auto length = static_cast<std::size_t>(pending.buffer->data_len);
    Setup setup;
    setup.request_type = buffer[0];
    setup.request = buffer[1];
    setup.value = static_cast<std::uint16_t>(buffer[2] | (buffer[3] << 8));
    setup.index = static_cast<std::uint16_t>(buffer[4] | (buffer[5] << 8));
    setup.length = static_cast<std::uint16_t>(buffer[6] | (buffer[7] << 8));
    const std::size_t room = std::min<std::size_t>(setup.length, length - kSetupBytes);
    const std::span<std::uint8_t> data(buffer + kSetupBytes, room);
    const bool in = (setup.request_type & 0x80) != 0;

    const ControlAnswer answer = answer_control(device.chip, setup, data);
    urb->status = answer.handshake == Handshake::ack ? 0 : answer.handshake == Handshake::stall ? -EPIPE : -EPROTO;
    urb->actual_length = static_cast<int>(answer.handshake != Handshake::ack ? 0 : in ? answer.length : room);

    char line[160];
    std::snprintf(line, sizeof line, "control %02x %02x %04x %04x %4u  %s -> %s", setup.request_type, setup.request,
                  setup.value, setup.index, static_cast<unsigned>(setup.length), describe_request(setup).c_str(),
                  handshake_name(answer.handshake));
    std::string text = line;
    if (answer.handshake == Handshake::ack && in && answer.length > 0) {
        text += ": " + hex_bytes(data.data(), answer.length);
    }
    log_line(device, text);
}

// Bulk IN: a real FTDI chip sends its two modem-status bytes whenever its
// latency timer runs out, data or not. The oldest pending read of a port is
// answered that way once the port's timer has run out since its last answer.
bool complete_due_bulk_in(UsbDevice& device, const UMockdevIoctlClient* owner) {
    const long long now = now_ms();
    for (auto it = device.bulk_in.begin(); it != device.bulk_in.end(); ++it) {
        const int port = it->endpoint == 0x83 ? 1 : 0;
        if (it->owner != owner ||
            now - device.last_status_ms[port] < device.chip.latency_ms[static_cast<std::size_t>(port)]) {
            continue;
        }
        device.last_status_ms[port] = now;
        usbdevfs_urb* urb = urb_of(*it);
        const std::size_t room = it->buffer == nullptr ? 0 : static_cast<std::size_t>(it->buffer->data_len);
        const std::size_t n = std::min(kIdleModemStatus.size(), room);
        std::copy_n(kIdleModemStatus.begin(), n, it->buffer == nullptr ? nullptr : it->buffer->data);
        urb->status = 0;
        urb->actual_length = static_cast<int>(n);
        device.done.push_back(*it);
        device.bulk_in.erase(it);
        return true;
    }
    return false;
}

void finish(UMockdevIoctlClient* client, long result, int error) {
    umockdev_ioctl_client_complete(client, result, error);
}

void handle_submit(UsbDevice& device, UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    UMockdevIoctlData* urb_data = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
    if (urb_data == nullptr) {
        finish(client, -1, EFAULT);
        return;
    }
    auto* urb = reinterpret_cast<usbdevfs_urb*>(urb_data->data);
    if (urb->buffer_length < 0 || urb->buffer_length > kMaxUrbBytes ||
        (urb->type == USBDEVFS_URB_TYPE_CONTROL && static_cast<std::size_t>(urb->buffer_length) < kSetupBytes)) {
        umockdev_ioctl_data_unref(urb_data);
        finish(client, -1, urb->buffer_length > kMaxUrbBytes ? ENOMEM : EINVAL);
        return;
    }
    PendingUrb pending;
    pending.endpoint = urb->endpoint;
    pending.owner = client;
    if (urb->buffer_length > 0) {
        pending.buffer = umockdev_ioctl_data_resolve(urb_data, offsetof(usbdevfs_urb, buffer),
                                                     static_cast<std::size_t>(urb->buffer_length), nullptr);
        if (pending.buffer == nullptr) {
            umockdev_ioctl_data_unref(urb_data);
            finish(client, -1, EFAULT);
            return;
        }
    }
    // The resolved buffer belongs to urb_data, which keeps it for the reap.
    if (pending.buffer != nullptr) {
        umockdev_ioctl_data_unref(pending.buffer);
    }
    pending.urb = urb_data;

    if (urb->type == USBDEVFS_URB_TYPE_CONTROL) {
        submit_control(device, pending);
        device.done.push_back(pending);
    } else if (urb->type == USBDEVFS_URB_TYPE_BULK && (urb->endpoint & 0x80) != 0) {
        device.bulk_in.push_back(pending);
    } else {
        // Bulk OUT (data for the UART or the MPSSE) too: nothing here sends any.
        umockdev_ioctl_data_unref(pending.urb);
        char line[80];
        std::snprintf(line, sizeof line, "URB of type %d on endpoint %02x refused", urb->type, urb->endpoint);
        log_line(device, line);
        finish(client, -1, EINVAL);
        return;
    }
    finish(client, 0, 0);
}

void handle_reap(UsbDevice& device, UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    const auto mine = [client](const PendingUrb& pending) { return pending.owner == client; };
    auto next = std::find_if(device.done.begin(), device.done.end(), mine);
    if (next == device.done.end() && complete_due_bulk_in(device, client)) {
        next = std::prev(device.done.end());
    }
    if (next == device.done.end()) {
        ++device.empty_reaps;
        finish(client, -1, EAGAIN);
        return;
    }
    const PendingUrb pending = *next;
    device.done.erase(next);
    const usbdevfs_urb* urb = urb_of(pending);
    if (urb->type == USBDEVFS_URB_TYPE_BULK && (urb->endpoint & 0x80) != 0) {
        char line[96];
        if (urb->status == 0) {
            const std::size_t length = static_cast<std::size_t>(urb->actual_length);
            std::snprintf(line, sizeof line, "bulk IN %02x -> %s", urb->endpoint,
                          length == 0 ? "nothing" : hex_bytes(pending.buffer->data, length).c_str());
        } else {
            std::snprintf(line, sizeof line, "bulk IN %02x -> cancelled", urb->endpoint);
        }
        log_line(device, line);
    }
    UMockdevIoctlData* pointer = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), nullptr);
    if (pointer == nullptr) {
        device.done.push_front(pending);  // still the client's oldest
        finish(client, -1, EFAULT);
        return;
    }
    umockdev_ioctl_data_set_ptr(pointer, 0, pending.urb);
    umockdev_ioctl_data_unref(pointer);
    umockdev_ioctl_data_unref(pending.urb);
    finish(client, 0, 0);
}

void handle_discard(UsbDevice& device, UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    gulong address = 0;
    std::memcpy(&address, arg->data, sizeof address);
    for (auto it = device.bulk_in.begin(); it != device.bulk_in.end(); ++it) {
        if (it->owner == client && it->urb->client_addr == address) {
            urb_of(*it)->status = -ENOENT;
            urb_of(*it)->actual_length = 0;
            device.done.push_back(*it);
            device.bulk_in.erase(it);
            finish(client, 0, 0);
            return;
        }
    }
    // Already completed (or never ours): the kernel says EINVAL.
    finish(client, -1, EINVAL);
}

// CLAIMINTERFACE and RELEASEINTERFACE take the interface number.
bool handle_interface(UsbDevice& device, UMockdevIoctlClient* client, UMockdevIoctlData* arg, bool claim) {
    UMockdevIoctlData* number = umockdev_ioctl_data_resolve(arg, 0, sizeof(unsigned int), nullptr);
    if (number == nullptr) {
        finish(client, -1, EFAULT);
        return true;
    }
    unsigned int interface = 0;
    std::memcpy(&interface, number->data, sizeof interface);
    umockdev_ioctl_data_unref(number);
    char line[80];
    if (interface >= static_cast<unsigned>(device.chip.presented.interfaces)) {
        std::snprintf(line, sizeof line, "%s interface %u -> no such interface", claim ? "claim" : "release",
                      interface);
        log_line(device, line);
        finish(client, -1, claim ? ENOENT : EINVAL);
        return true;
    }
    if (claim && device.chip.faults.in_use) {
        std::snprintf(line, sizeof line, "claim interface %u -> busy (held by another program)", interface);
        log_line(device, line);
        finish(client, -1, EBUSY);
        return true;
    }
    std::snprintf(line, sizeof line, "%s interface %u", claim ? "claim" : "release", interface);
    log_line(device, line);
    finish(client, 0, 0);
    return true;
}

// umockdev does not tell when the program closes the node (its
// client-vanished signal is never sent), so the URBs a closed file left
// behind stay until the chip is unplugged.
void drop_urbs(std::deque<PendingUrb>& urbs) {
    for (const PendingUrb& pending : urbs) {
        umockdev_ioctl_data_unref(pending.urb);
    }
    urbs.clear();
}

gboolean on_ioctl(UMockdevIoctlBase* /*handler*/, UMockdevIoctlClient* client, gpointer user_data) {
    auto& device = *static_cast<UsbDevice*>(user_data);
    const std::lock_guard lock(device.mutex);
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);

    switch (request) {
        case USBDEVFS_SUBMITURB:
            handle_submit(device, client, arg);
            return TRUE;
        // libusb only ever reaps without waiting; a waiting reap is answered
        // the same way (EAGAIN when nothing is done) rather than held.
        case USBDEVFS_REAPURB:
        case USBDEVFS_REAPURBNDELAY:
            handle_reap(device, client, arg);
            return TRUE;
        case USBDEVFS_DISCARDURB:
            handle_discard(device, client, arg);
            return TRUE;
        case USBDEVFS_CLAIMINTERFACE:
            return handle_interface(device, client, arg, true);
        case USBDEVFS_RELEASEINTERFACE:
            return handle_interface(device, client, arg, false);
        case USBDEVFS_GET_CAPABILITIES: {
            UMockdevIoctlData* caps = umockdev_ioctl_data_resolve(arg, 0, sizeof(std::uint32_t), nullptr);
            if (caps == nullptr) {
                finish(client, -1, EFAULT);
                return TRUE;
            }
            const std::uint32_t value = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                                        USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
            std::memcpy(caps->data, &value, sizeof value);
            umockdev_ioctl_data_unref(caps);
            finish(client, 0, 0);
            return TRUE;
        }
        case USBDEVFS_GETDRIVER:
            // No kernel driver is bound to a virtual chip, so libftdi has
            // none to detach.
            finish(client, -1, ENODATA);
            return TRUE;
        default: {
            char line[80];
            std::snprintf(line, sizeof line, "ioctl %#lx not supported", static_cast<unsigned long>(request));
            log_line(device, line);
            finish(client, -1, ENOTTY);
            return TRUE;
        }
    }
}

std::string hex_of(const std::vector<std::uint8_t>& bytes) {
    std::string out;
    char byte[3];
    for (const std::uint8_t b : bytes) {
        std::snprintf(byte, sizeof byte, "%02x", b);
        out += byte;
    }
    return out;
}

}  // namespace

long long monotonic_us() {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool plug_in(UMockdevTestbed* testbed, UsbDevice& device) {
    char node[32];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03d", device.bus, device.address);
    device.handler = umockdev_ioctl_base_new();
    g_signal_connect_data(device.handler, "handle-ioctl", reinterpret_cast<GCallback>(&on_ioctl), &device, nullptr,
                          G_CONNECT_AFTER);
    GError* attach_error = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed, node, device.handler, &attach_error)) {
        std::fprintf(stderr, "ft232h_emu: cannot attach %s: %s\n", node,
                     attach_error != nullptr ? attach_error->message : "?");
        g_clear_error(&attach_error);
        return false;
    }

    const Presentation& p = device.chip.presented;
    const std::string sysfs_path =
        "/sys/devices/pci0000:00/0000:00:14.0/usb" + std::to_string(device.bus) + "/" + device.sysfs_name;
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
        "P: " + sysfs_path.substr(4),
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
        "A: idVendor=" + hex4(p.vendor_id) + "\\n",
        "A: idProduct=" + hex4(p.product_id) + "\\n",
        "A: bcdDevice=" + hex4(p.release) + "\\n",
        "A: bNumConfigurations=1\\n",
        "A: bConfigurationValue=1\\n",
        "A: bNumInterfaces= " + std::to_string(p.interfaces) + "\\n",
        "A: bMaxPacketSize0=64\\n",
        "H: descriptors=" + hex_of(p.device_descriptor) + hex_of(p.configuration_descriptor),
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
            umockdev_testbed_set_attribute(testbed, sysfs_path.c_str(), names[i],
                                           (string_descriptor_text(p.strings[i]) + "\n").c_str());
        }
    }
    return true;
}

void unplug(UMockdevTestbed* testbed, UsbDevice& device) {
    char node[32];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03d", device.bus, device.address);
    if (device.handler != nullptr) {
        umockdev_testbed_detach_ioctl(testbed, node, nullptr);
        g_object_unref(device.handler);
        device.handler = nullptr;
    }
    const std::lock_guard lock(device.mutex);
    if (device.empty_reaps > 0) {
        log_line(device, std::to_string(device.empty_reaps) + " reaps found nothing to reap");
    }
    drop_urbs(device.done);
    drop_urbs(device.bulk_in);
}

}  // namespace emu
