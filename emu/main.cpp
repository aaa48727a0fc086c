// ft232h_emu: runs a program against virtual FTDI chips, so that FTDI's own
// D2XX library (or libftdi's ftdi_eeprom) can be tried without hardware. The
// chips sit on a virtual USB bus made with umockdev; the program runs with
// umockdev's preload library and sees them under /sys/bus/usb/devices and
// /dev/bus/usb as it would see real ones.
//
// Usage:
//   ft232h_emu [--log FILE] --device CHIP [--device CHIP]... -- COMMAND [ARG...]
//   ft232h_emu --factory-image FILE [--serial SERIAL]
//
// Each --device adds one chip, in this order on the bus (bus 1, addresses
// 2, 3, ...; FTDI's library lists them in that order). CHIP is a comma list:
//   type=ft232h | type=ft2232h   the chip (default ft232h); an FT2232H has
//                                two interfaces, which FTDI's library lists
//                                as two devices (A and B)
//   image=FILE                   the EEPROM: 256 bytes (128 little-endian
//                                words), read at start and written back when
//                                COMMAND has ended; a missing file is a blank
//                                chip (all 0xFF) and is created
//   fault=drop-writes            EEPROM writes and erases acknowledged but
//                                not done (a write-protected part)
//   fault=stall-control          FTDI vendor requests answered with STALL
//   fault=fail-control           FTDI vendor requests fail (protocol error)
//   fault=in-use                 claiming an interface fails with EBUSY, as
//                                when another program has the chip open;
//                                FTDI's library then lists it as opened
//                                (flag 1) with no type, ids or serial number
//                                and cannot open it
//   request=0xNN                 stall-control and fail-control hit only
//                                this vendor request (e.g. 0x90 EEPROM read)
//   after=N                      ... and only after N of the requests they
//                                would hit have gone through, as a cable
//                                that fails in the middle of a transfer
// Several fault= items may be given. The chip presents what its EEPROM held
// at start (ids, power, strings), as a real one does until it is replugged:
// each run of ft232h_emu is one plug-in. A blank or corrupt EEPROM presents
// the chip's built-in identity (0403:6014 "Single RS232-HS", or 0403:6010
// "Dual RS232-HS", without a serial number). Image paths are taken from the
// launcher's working directory.
//
// --log FILE appends one line per request to FILE: the time since the
// launcher started, the device, and the request with its answer (control
// transfers with what they mean, bulk transfers, claims and releases,
// cancelled reads, ioctls the chip does not know), and at the end how many
// reaps found nothing (the program's event thread polling).
//
// --factory-image FILE writes the image of a fresh chip: byte for byte what
// FTDI's library programs with its defaults (FTDI's ids, 100 mA, the virtual
// COM port driver, "FTDI", "USB <-> Serial Converter"), with the serial
// number SERIAL (default FT000001, 1 to 15 ASCII letters and digits).
//
// The exit status is COMMAND's (128 + the signal if a signal ended it), or
// 125 when the launcher itself fails (bad arguments, an unreadable image,
// umockdev refusing) and COMMAND did not run, or when an image could not be
// written back.
#include <dirent.h>
#include <errno.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <umockdev.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <list>
#include <optional>
#include <string>
#include <vector>

#include <glib-unix.h>

#include "emu/chip.hpp"
#include "emu/usb_device.hpp"

namespace {

constexpr int kLauncherFailure = 125;

struct ChipSettings {
    emu::ChipType type = emu::ChipType::kFt232h;
    std::string image;
    emu::Faults faults;
};

struct Options {
    std::string log;
    std::vector<ChipSettings> devices;
    std::vector<std::string> command;
    std::string factoryImage;
    std::string serial = "FT000001";
};

void Usage() {
    std::fputs(
        "usage: ft232h_emu [--log FILE] --device CHIP [--device CHIP]... -- COMMAND [ARG...]\n"
        "       ft232h_emu --factory-image FILE [--serial SERIAL]\n"
        "CHIP: type=ft232h|ft2232h[,image=FILE][,fault=drop-writes|stall-control|fail-control|in-use]"
        "[,request=0xNN][,after=N]\n",
        stderr);
}

// The whole of `text` as a number in `base` (0: C's prefixes), at most `max`.
std::optional<unsigned long> Number(const std::string& text, int base, unsigned long max) {
    char* rest = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text.c_str(), &rest, base);
    if (text.empty() || *rest != '\0' || errno != 0 || value > max) {
        return std::nullopt;
    }
    return value;
}

bool ParseChip(const std::string& text, ChipSettings& settings) {
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find(',', start), text.size());
        const std::string item = text.substr(start, end - start);
        start = end + 1;
        const std::size_t equals = item.find('=');
        if (equals == std::string::npos) {
            std::fprintf(stderr, "ft232h_emu: '%s' in a device is not KEY=VALUE\n", item.c_str());
            return false;
        }
        const std::string key = item.substr(0, equals);
        const std::string value = item.substr(equals + 1);
        if (key == "type" && (value == "ft232h" || value == "ft2232h")) {
            settings.type = value == "ft232h" ? emu::ChipType::kFt232h : emu::ChipType::kFt2232h;
        } else if (key == "image" && !value.empty()) {
            settings.image = value;
        } else if (key == "fault" && value == "drop-writes") {
            settings.faults.dropWrites = true;
        } else if (key == "fault" && value == "stall-control") {
            settings.faults.stallControl = true;
        } else if (key == "fault" && value == "fail-control") {
            settings.faults.failControl = true;
        } else if (key == "fault" && value == "in-use") {
            settings.faults.inUse = true;
        } else if (key == "request") {
            const std::optional<unsigned long> request = Number(value, 0, 0xFF);
            if (!request) {
                std::fprintf(stderr, "ft232h_emu: request=%s is not a request number\n", value.c_str());
                return false;
            }
            settings.faults.onlyRequest = static_cast<std::uint8_t>(*request);
        } else if (key == "after") {
            const std::optional<unsigned long> after = Number(value, 10, 0xFFFF);
            if (!after) {
                std::fprintf(stderr, "ft232h_emu: after=%s is not a count of requests\n", value.c_str());
                return false;
            }
            settings.faults.after = static_cast<unsigned>(*after);
        } else {
            std::fprintf(stderr, "ft232h_emu: unknown device setting '%s'\n", item.c_str());
            return false;
        }
        if (end == text.size()) {
            break;
        }
    }
    return true;
}

bool Parse(int argc, char** argv, Options& options) {
    int i = 1;
    for (; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--") {
            ++i;
            break;
        }
        if (arg == "--log" && hasValue) {
            options.log = argv[++i];
        } else if (arg == "--device" && hasValue) {
            ChipSettings settings;
            if (!ParseChip(argv[++i], settings)) {
                return false;
            }
            options.devices.push_back(settings);
        } else if (arg == "--factory-image" && hasValue) {
            options.factoryImage = argv[++i];
        } else if (arg == "--serial" && hasValue) {
            options.serial = argv[++i];
        } else {
            return false;
        }
    }
    for (; i < argc; ++i) {
        options.command.emplace_back(argv[i]);
    }
    if (!options.factoryImage.empty()) {
        return options.devices.empty() && options.command.empty();
    }
    return !options.devices.empty() && !options.command.empty();
}

bool ValidSerial(const std::string& serial) {
    if (serial.empty() || serial.size() > 15) {
        return false;
    }
    for (const char c : serial) {
        const bool alnum = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        if (!alnum) {
            return false;
        }
    }
    return true;
}

bool WriteImage(const std::string& path, const emu::Eeprom& eeprom);

// An image file is exactly 256 bytes. A missing one is a blank chip, and is
// written at once, so that a path that cannot be written fails before the
// command runs rather than after.
bool ReadImage(const std::string& path, emu::Eeprom& eeprom) {
    eeprom.fill(0xFFFF);
    struct stat status {};
    if (stat(path.c_str(), &status) != 0 && errno == ENOENT) {
        return WriteImage(path, eeprom);
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "ft232h_emu: cannot read %s\n", path.c_str());
        return false;
    }
    std::array<std::uint8_t, emu::kImageBytes + 1> bytes{};
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (in.gcount() != static_cast<std::streamsize>(emu::kImageBytes)) {
        std::fprintf(stderr, "ft232h_emu: %s is not a %zu-byte EEPROM image\n", path.c_str(), emu::kImageBytes);
        return false;
    }
    eeprom = emu::EepromFromBytes(std::span<const std::uint8_t, emu::kImageBytes>(bytes.data(), emu::kImageBytes));
    return true;
}

// Written beside the old file and renamed over it, so an interrupted run
// never leaves half an image.
bool WriteImage(const std::string& path, const emu::Eeprom& eeprom) {
    const std::string temporary = path + ".tmp";
    const auto bytes = emu::ImageBytes(eeprom);
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            std::fprintf(stderr, "ft232h_emu: cannot write %s\n", temporary.c_str());
            std::remove(temporary.c_str());
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::fprintf(stderr, "ft232h_emu: cannot replace %s: %s\n", path.c_str(), std::strerror(errno));
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

struct Run {
    GMainLoop* loop = nullptr;
    GPid child = 0;
    bool childRunning = false;
    int status = kLauncherFailure;
};

void OnChildExit(GPid /*pid*/, gint waitStatus, gpointer userData) {
    auto& run = *static_cast<Run*>(userData);
    run.childRunning = false;
    if (WIFEXITED(waitStatus)) {
        run.status = WEXITSTATUS(waitStatus);
    } else if (WIFSIGNALED(waitStatus)) {
        run.status = 128 + WTERMSIG(waitStatus);
    }
    g_main_loop_quit(run.loop);
}

// A signal to the launcher goes to the program under test; the launcher ends
// when it does, and still writes the images back.
struct Forwarded {
    const Run* run = nullptr;
    int signal = 0;
};

gboolean ForwardSignal(gpointer userData) {
    const auto& forwarded = *static_cast<const Forwarded*>(userData);
    if (forwarded.run->childRunning) {
        kill(forwarded.run->child, forwarded.signal);
    }
    return G_SOURCE_CONTINUE;
}

bool StartCommand(const std::vector<std::string>& command, const std::string& root, Run& run) {
    gchar** environment = g_get_environ();
    const gchar* preload = g_environ_getenv(environment, "LD_PRELOAD");
    std::string preloads = "libumockdev-preload.so.0";
    if (preload != nullptr && *preload != '\0') {
        preloads += std::string(":") + preload;
    }
    environment = g_environ_setenv(environment, "LD_PRELOAD", preloads.c_str(), TRUE);
    environment = g_environ_setenv(environment, "UMOCKDEV_DIR", root.c_str(), TRUE);
    std::vector<gchar*> argv;
    for (const std::string& arg : command) {
        argv.push_back(const_cast<gchar*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    GError* error = nullptr;
    const auto flags =
        static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_CHILD_INHERITS_STDIN);
    const gboolean started =
        g_spawn_async(nullptr, argv.data(), environment, flags, nullptr, nullptr, &run.child, &error);
    g_strfreev(environment);
    if (!started) {
        std::fprintf(stderr, "ft232h_emu: cannot run %s: %s\n", command[0].c_str(), error->message);
        g_clear_error(&error);
        return false;
    }
    run.childRunning = true;
    return true;
}

// FTDI's library lists devices in the reverse of the order in which its
// libusb reads /sys/bus/usb/devices, and that order is the file system's:
// hash order on ext4, creation order on btrfs or a recent tmpfs, the reverse
// on an older tmpfs. To make list positions follow the order of --device on
// any machine, the same names are first created in a scratch directory
// beside the testbed's, and each device gets the name that the directory
// will hand out at its position. Returns the sysfs names by device, or an
// empty list when the probe fails.
std::vector<std::string> NamesInListOrder(const std::string& root, std::size_t count) {
    std::vector<std::string> created;
    for (std::size_t i = 0; i < count; ++i) {
        created.push_back("1-" + std::to_string(i + 1));
    }
    const std::string probe = root + "/order-probe";
    if (mkdir(probe.c_str(), 0700) != 0) {
        return {};
    }
    bool made = true;
    for (const std::string& name : created) {
        std::FILE* file = std::fopen((probe + "/" + name).c_str(), "w");
        made = made && file != nullptr;
        if (file != nullptr) {
            std::fclose(file);
        }
    }
    std::vector<std::string> read;
    if (DIR* directory = opendir(probe.c_str()); directory != nullptr) {
        while (const dirent* entry = readdir(directory)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") {
                read.push_back(name);
            }
        }
        closedir(directory);
    }
    for (const std::string& name : created) {
        unlink((probe + "/" + name).c_str());
    }
    rmdir(probe.c_str());
    if (!made || read.size() != count) {
        return {};
    }
    std::reverse(read.begin(), read.end());
    return read;
}

int MakeFactoryImage(const Options& options) {
    if (!ValidSerial(options.serial)) {
        std::fprintf(stderr, "ft232h_emu: the serial number must be 1 to 15 ASCII letters and digits\n");
        return kLauncherFailure;
    }
    return WriteImage(options.factoryImage, emu::FactoryImage(options.serial)) ? 0 : kLauncherFailure;
}

int Emulate(const Options& options) {
    emu::RequestLog log;
    log.startUs = emu::MonotonicUs();
    if (!options.log.empty()) {
        log.file = std::fopen(options.log.c_str(), "a");
        if (log.file == nullptr) {
            std::fprintf(stderr, "ft232h_emu: cannot open %s: %s\n", options.log.c_str(), std::strerror(errno));
            return kLauncherFailure;
        }
    }
    // std::list: the handlers keep pointers to the devices.
    std::list<emu::UsbDevice> devices;
    for (std::size_t i = 0; i < options.devices.size(); ++i) {
        const ChipSettings& settings = options.devices[i];
        emu::Eeprom eeprom{};
        eeprom.fill(0xFFFF);
        if (!settings.image.empty() && !ReadImage(settings.image, eeprom)) {
            if (log.file != nullptr) {
                std::fclose(log.file);
            }
            return kLauncherFailure;
        }
        emu::UsbDevice& device = devices.emplace_back();
        device.position = static_cast<int>(i);
        device.address = static_cast<int>(i) + 2;
        device.chip = emu::MakeChip(settings.type, eeprom, settings.faults);
        device.log = &log;
    }

    UMockdevTestbed* testbed = umockdev_testbed_new();
    gchar* root = umockdev_testbed_get_root_dir(testbed);
    const std::vector<std::string> names = NamesInListOrder(root, devices.size());
    bool ready = names.size() == devices.size();
    if (!ready) {
        std::fprintf(stderr, "ft232h_emu: cannot probe the directory order under %s\n", root);
    }
    // Created in the probe's order of names, so that a file system that
    // hands entries out by creation order gives the probed order too.
    for (std::size_t created = 1; ready && created <= devices.size(); ++created) {
        const std::string name = "1-" + std::to_string(created);
        const auto position = static_cast<std::size_t>(std::find(names.begin(), names.end(), name) - names.begin());
        emu::UsbDevice& device = *std::next(devices.begin(), static_cast<std::ptrdiff_t>(position));
        device.sysfsName = name;
        ready = emu::PlugIn(testbed, device);
    }

    Run run;
    if (ready && StartCommand(options.command, root, run)) {
        run.loop = g_main_loop_new(nullptr, FALSE);
        g_child_watch_add(run.child, &OnChildExit, &run);
        std::array<Forwarded, 3> forwarded{{{&run, SIGINT}, {&run, SIGTERM}, {&run, SIGHUP}}};
        std::array<guint, 3> sources{};
        for (std::size_t i = 0; i < forwarded.size(); ++i) {
            sources[i] = g_unix_signal_add(forwarded[i].signal, &ForwardSignal, &forwarded[i]);
        }
        g_main_loop_run(run.loop);
        for (const guint source : sources) {
            g_source_remove(source);
        }
        g_main_loop_unref(run.loop);
        g_spawn_close_pid(run.child);
    }

    for (emu::UsbDevice& device : devices) {
        emu::Unplug(testbed, device);
    }
    g_object_unref(testbed);
    g_free(root);

    std::size_t i = 0;
    for (emu::UsbDevice& device : devices) {
        const std::string& image = options.devices[i++].image;
        if (ready && !image.empty() && !WriteImage(image, device.chip.eeprom)) {
            run.status = kLauncherFailure;
        }
    }
    if (log.file != nullptr) {
        std::fclose(log.file);
    }
    return run.status;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!Parse(argc, argv, options)) {
        Usage();
        return kLauncherFailure;
    }
    if (!options.factoryImage.empty()) {
        return MakeFactoryImage(options);
    }
    return Emulate(options);
}
