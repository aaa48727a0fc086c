#include "tests/emu/image_decoder.hpp"

#include <ftdi.h>
#include <libusb.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

// libftdi decodes only an image it has read from a chip itself: its
// ftdi_set_eeprom_buf leaves the chip size at 0, and there is no other way to
// set it, so decoding would then read outside its buffer. The image is
// therefore handed over as a chip would hand it: this definition takes the
// place of libusb's for libftdi and answers its word reads (request 0x90,
// word address in wIndex) from the image the handle points at, so that
// libftdi also sizes the chip and tells a blank one by its own rules.
extern "C" int libusb_control_transfer(libusb_device_handle* handle, std::uint8_t requestType, std::uint8_t request,
                                       std::uint16_t value, std::uint16_t index, unsigned char* data,
                                       std::uint16_t length, unsigned int timeout) {
    static_cast<void>(value);
    static_cast<void>(timeout);
    const auto* image = reinterpret_cast<const ft232h::emu_test::Image*>(handle);
    constexpr std::size_t kWordBytes = 2;
    // Vendor request, device to host.
    constexpr std::uint8_t kVendorIn = 0xC0;
    if (requestType != kVendorIn || request != SIO_READ_EEPROM_REQUEST || length != kWordBytes ||
        index * kWordBytes >= image->size()) {
        return LIBUSB_ERROR_PIPE;
    }
    std::memcpy(data, image->data() + index * kWordBytes, kWordBytes);
    return static_cast<int>(kWordBytes);
}

namespace ft232h::emu_test {
namespace {

struct FtdiFree {
    void operator()(ftdi_context* ftdi) const {
        // The handle is the image, not a device libftdi could close.
        ftdi->usb_dev = nullptr;
        ftdi_free(ftdi);
    }
};

// How libftdi's value becomes the settings file's.
enum class Kind {
    kNumber,
    kFlag,          // libftdi keeps the bit itself; the file has 0 or 1
    kDriveCurrent,  // libftdi's code 0..3 for 4, 8, 12, 16 mA
};

struct Field {
    const char* name;
    ftdi_eeprom_value value;
    Kind kind;
};

// The groups follow FTDI's library: what it programs as AC lands in group 0.
constexpr Field kFields[] = {
    {"VendorId", VENDOR_ID, Kind::kNumber},
    {"ProductId", PRODUCT_ID, Kind::kNumber},
    {"ReleaseNumber", RELEASE_NUMBER, Kind::kNumber},
    {"MaxPower", MAX_POWER, Kind::kNumber},
    {"SelfPowered", SELF_POWERED, Kind::kFlag},
    {"RemoteWakeup", REMOTE_WAKEUP, Kind::kFlag},
    {"SerNumEnable", USE_SERIAL, Kind::kFlag},
    {"PullDownEnable", SUSPEND_PULL_DOWNS, Kind::kFlag},
    {"Cbus0", CBUS_FUNCTION_0, Kind::kNumber},
    {"Cbus1", CBUS_FUNCTION_1, Kind::kNumber},
    {"Cbus2", CBUS_FUNCTION_2, Kind::kNumber},
    {"Cbus3", CBUS_FUNCTION_3, Kind::kNumber},
    {"Cbus4", CBUS_FUNCTION_4, Kind::kNumber},
    {"Cbus5", CBUS_FUNCTION_5, Kind::kNumber},
    {"Cbus6", CBUS_FUNCTION_6, Kind::kNumber},
    {"Cbus7", CBUS_FUNCTION_7, Kind::kNumber},
    {"Cbus8", CBUS_FUNCTION_8, Kind::kNumber},
    {"Cbus9", CBUS_FUNCTION_9, Kind::kNumber},
    {"ACDriveCurrent", GROUP0_DRIVE, Kind::kDriveCurrent},
    {"ACSchmittInput", GROUP0_SCHMITT, Kind::kFlag},
    {"ACSlowSlew", GROUP0_SLEW, Kind::kFlag},
    {"ADDriveCurrent", GROUP1_DRIVE, Kind::kDriveCurrent},
    {"ADSchmittInput", GROUP1_SCHMITT, Kind::kFlag},
    {"ADSlowSlew", GROUP1_SLEW, Kind::kFlag},
    {"ChannelType", CHANNEL_A_TYPE, Kind::kNumber},
    {"DriverType", CHANNEL_A_DRIVER, Kind::kFlag},
    {"FT1248Cpol", CLOCK_POLARITY, Kind::kFlag},
    {"FT1248Lsb", DATA_ORDER, Kind::kFlag},
    {"FT1248FlowControl", FLOW_CONTROL, Kind::kFlag},
    {"PowerSaveEnable", POWER_SAVE, Kind::kFlag},
    {"ChipSize", CHIP_SIZE, Kind::kNumber},
    {"ChipType", CHIP_TYPE, Kind::kNumber},
};

// The channel type's bits as the settings file's four mode flags, in the
// FT232H's own order: libftdi's CHANNEL_IS_* names are other chips' (its
// "OPTO" bit is the FT232H's CPU-style FIFO, seen with FTDI's library).
constexpr std::pair<const char*, int> kModes[] = {
    {"IsFifo", 0x01},
    {"IsFifoTar", 0x02},
    {"IsFastSer", 0x04},
    {"IsFT1248", 0x08},
};

int SettingsValue(Kind kind, int value) {
    constexpr int kMilliampsPerCode = 4;
    switch (kind) {
        case Kind::kFlag:
            return static_cast<int>(value != 0);
        case Kind::kDriveCurrent:
            return (value + 1) * kMilliampsPerCode;
        case Kind::kNumber:
            break;
    }
    return value;
}

}  // namespace

std::optional<Image> ImageFromBytes(std::string_view bytes) {
    Image image{};
    if (bytes.size() != image.size()) {
        return std::nullopt;
    }
    std::copy(bytes.begin(), bytes.end(), image.begin());
    return image;
}

std::optional<DecodedImage> DecodeImage(const Image& image, std::string& failure) {
    const std::unique_ptr<ftdi_context, FtdiFree> ftdi(ftdi_new());
    if (!ftdi) {
        failure = "ftdi_new failed";
        return std::nullopt;
    }
    ftdi->type = TYPE_232H;
    // Only read through, never written: see libusb_control_transfer above.
    ftdi->usb_dev = reinterpret_cast<libusb_device_handle*>(const_cast<Image*>(&image));
    int size = 0;
    if (ftdi_read_eeprom(ftdi.get()) != 0 || ftdi_get_eeprom_value(ftdi.get(), CHIP_SIZE, &size) != 0) {
        failure = std::string("libftdi cannot read the image: ") + ftdi_get_error_string(ftdi.get());
        return std::nullopt;
    }
    if (size < 0) {
        failure = "blank image (erased chip)";
        return std::nullopt;
    }
    if (ftdi_eeprom_decode(ftdi.get(), 0) != 0) {
        failure = std::string("libftdi refuses the image: ") + ftdi_get_error_string(ftdi.get());
        return std::nullopt;
    }
    DecodedImage decoded;
    for (const Field& field : kFields) {
        int value = 0;
        if (ftdi_get_eeprom_value(ftdi.get(), field.value, &value) != 0) {
            failure = std::string("libftdi has no value ") + field.name;
            return std::nullopt;
        }
        decoded[field.name] = std::to_string(SettingsValue(field.kind, value));
    }
    const int channelType = std::stoi(decoded["ChannelType"]);
    for (const auto& [name, bit] : kModes) {
        decoded[name] = std::to_string(static_cast<int>((channelType & bit) != 0));
    }
    constexpr int kLongest = 128;
    std::array<char, kLongest> manufacturer{};
    std::array<char, kLongest> description{};
    std::array<char, kLongest> serial{};
    if (ftdi_eeprom_get_strings(ftdi.get(), manufacturer.data(), kLongest, description.data(), kLongest, serial.data(),
                                kLongest) != 0) {
        failure = "libftdi cannot give the strings";
        return std::nullopt;
    }
    decoded["Manufacturer"] = manufacturer.data();
    decoded["Description"] = description.data();
    decoded["SerialNumber"] = serial.data();
    return decoded;
}

}  // namespace ft232h::emu_test
