// The judge of which values -w may program: generated settings files, each
// with every key, go through the built tool, FTDI's own library and a
// virtual FT232H. For each file, from a fresh chip:
//   - either -w refuses, naming exactly the keys whose value the chip does
//     not keep (in the order of the file, with the value as written), and
//     the chip's image is the same, byte for byte;
//   - or -w reports success, and the chip, plugged in again, gives back
//     every value as written: through -r when it still has FTDI's ids (with
//     other ids FTDI's library no longer lists it), and always through
//     libftdi's reading of its image.
// Two values may come back otherwise, as a user means them: ManufacturerId,
// which the chip does not keep (the serial number's first two characters
// come back), and an empty SerialNumber, for which the library makes one of
// ManufacturerId.
//
// The sets of values below are what FTDI's library was seen to keep as
// written; they are the test's own, so that a set of the tool's that is too
// narrow shows as a refusal the test does not expect, and one that is too
// wide as a value the chip changes or a failure the test does not expect.
//
//   emu_round_trip SEED SHARD SHARDS FILES
//
// runs the files of the sequence SEED that fall to shard SHARD of SHARDS,
// out of FILES files in all. FT232H_ROUND_TRIP_SEED and
// FT232H_ROUND_TRIP_FILES, when set, replace SEED and FILES for a longer
// run. The tool and library come from the emu flavour's configuration
// (FT232H_E2E_CONFIG, as for the rows). Each failing file is printed whole,
// with the seed and its number.
#include <time.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/chip_world.hpp"
#include "tests/e2e/tool_sandbox.hpp"

namespace ft232h::e2e {
namespace {

// A small generator of our own: the same files on every platform and
// standard library, from the seed and the file's number alone.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}

    std::uint64_t Next() {
        state_ += 0x9E3779B97F4A7C15ULL;
        std::uint64_t z = state_;
        z = (z ^ (z >> 30U)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27U)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31U);
    }
    // 0 .. count-1.
    std::uint64_t Below(std::uint64_t count) { return Next() % count; }
    bool Chance(std::uint64_t inEvery) { return Below(inEvery) == 0; }

private:
    std::uint64_t state_;
};

// The values the chip keeps: `lowest` to `highest` in steps of `step`; the
// field holds 0 .. `widest`.
struct ValueSet {
    std::uint64_t lowest;
    std::uint64_t highest;
    std::uint64_t step;
    std::uint64_t widest;

    [[nodiscard]] bool Holds(std::uint64_t value) const {
        return value >= lowest && value <= highest && (value - lowest) % step == 0;
    }
};

constexpr std::uint64_t kByte = 0xFF;
constexpr std::uint64_t kWord = 0xFFFF;
constexpr std::uint64_t kLong = 0xFFFFFFFF;
constexpr ValueSet kFlag{0, 1, 1, kByte};
constexpr ValueSet kDrive{4, 16, 4, kByte};
constexpr ValueSet kCbus{0, 12, 1, kByte};

struct Key {
    const char* section;
    const char* name;
    std::optional<ValueSet> values;  // none: a string
    bool channelMode = false;
    // What libftdi's reading of the image calls it, when it reads it at all.
    bool decoded = true;
};

const std::array<Key, 37> kKeys{{
    {"DESC", "Manufacturer", {}},
    {"DESC", "ManufacturerId", {}, false, false},
    {"DESC", "Description", {}},
    {"DESC", "SerialNumber", {}},
    {"COMMON", "deviceType", ValueSet{8, 8, 1, kLong}, false, false},
    {"COMMON", "VendorId", ValueSet{1, 0xFFFE, 1, kWord}},
    {"COMMON", "ProductId", ValueSet{1, 0xFFFF, 1, kWord}},
    {"COMMON", "SerNumEnable", kFlag},
    {"COMMON", "MaxPower", ValueSet{0, 500, 2, kWord}},
    {"COMMON", "SelfPowered", kFlag},
    {"COMMON", "RemoteWakeup", kFlag},
    {"COMMON", "PullDownEnable", kFlag},
    {"FT232H", "ACSlowSlew", kFlag},
    {"FT232H", "ACSchmittInput", kFlag},
    {"FT232H", "ACDriveCurrent", kDrive},
    {"FT232H", "ADSlowSlew", kFlag},
    {"FT232H", "ADSchmittInput", kFlag},
    {"FT232H", "ADDriveCurrent", kDrive},
    {"FT232H", "Cbus0", kCbus},
    {"FT232H", "Cbus1", kCbus},
    {"FT232H", "Cbus2", kCbus},
    {"FT232H", "Cbus3", kCbus},
    {"FT232H", "Cbus4", kCbus},
    {"FT232H", "Cbus5", kCbus},
    {"FT232H", "Cbus6", kCbus},
    {"FT232H", "Cbus7", kCbus},
    {"FT232H", "Cbus8", kCbus},
    {"FT232H", "Cbus9", kCbus},
    {"FT232H", "FT1248Cpol", kFlag},
    {"FT232H", "FT1248Lsb", kFlag},
    {"FT232H", "FT1248FlowControl", kFlag},
    {"FT232H", "IsFifo", kFlag, true},
    {"FT232H", "IsFifoTar", kFlag, true},
    {"FT232H", "IsFastSer", kFlag, true},
    {"FT232H", "IsFT1248", kFlag, true},
    {"FT232H", "PowerSaveEnable", kFlag},
    {"FT232H", "DriverType", kFlag},
}};
constexpr std::size_t kManufacturer = 0;
constexpr std::size_t kManufacturerId = 1;
constexpr std::size_t kDescription = 2;
constexpr std::size_t kSerialNumber = 3;
constexpr std::size_t kVendorId = 5;
constexpr std::size_t kProductId = 6;
constexpr std::uint64_t kFtdiVendorId = 0x0403;
constexpr std::uint64_t kFt232hProductId = 0x6014;
// What the three stored strings may take together, an empty serial number
// counting as the eight characters the library makes.
constexpr std::size_t kStringRoom = 44;
constexpr std::size_t kMadeSerialNumber = 8;
const std::string kFreshSerial = "FT0001AA";

// One generated file: each key's value as a number or a string, and as
// the text written.
struct Settings {
    std::array<std::uint64_t, kKeys.size()> numbers{};
    std::array<std::string, kKeys.size()> texts;
};

std::uint64_t InSet(const ValueSet& set, Random& random) {
    const std::uint64_t members = (set.highest - set.lowest) / set.step + 1;
    // The edges half of the time: that is where a set is wrong by one.
    if (random.Chance(2)) {
        const std::array<std::uint64_t, 4> edges{0, 1, members - 2, members - 1};
        return set.lowest + set.step * std::min(edges.at(random.Below(edges.size())), members - 1);
    }
    return set.lowest + set.step * random.Below(members);
}

std::uint64_t OutOfSet(const ValueSet& set, Random& random) {
    std::vector<std::uint64_t> candidates{0,
                                          set.widest,
                                          set.highest + 1,
                                          set.highest + set.step,
                                          set.lowest + 1,
                                          set.highest - 1,
                                          random.Below(set.widest + 1)};
    if (set.lowest > 0) {
        candidates.push_back(set.lowest - 1);
    }
    std::erase_if(candidates, [&](std::uint64_t value) { return value > set.widest || set.Holds(value); });
    return candidates.at(random.Below(candidates.size()));
}

std::string Text(Random& random, std::size_t length) {
    static const std::string kCharacters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789 -_.<>()";
    std::string text;
    for (std::size_t i = 0; i < length; ++i) {
        text.push_back(kCharacters.at(random.Below(kCharacters.size())));
    }
    return text;
}

Settings Generate(std::uint64_t seed, std::uint64_t number) {
    Random random(seed ^ (number * 0xD1B54A32D192ED03ULL));
    Settings settings;
    // About half the files hold only values the chip keeps; the others up
    // to six keys outside their sets.
    std::vector<bool> outside(kKeys.size(), false);
    if (random.Chance(2)) {
        for (std::uint64_t bad = 1 + random.Below(6); bad > 0; --bad) {
            std::size_t key = 0;
            do {
                key = random.Below(kKeys.size());
            } while (!kKeys.at(key).values);
            outside.at(key) = true;
        }
    }
    // One channel mode or none, and now and then two or more.
    const std::uint64_t mode = random.Below(5);
    const bool modesClash = random.Chance(8);
    std::size_t modeKey = 0;
    for (std::size_t i = 0; i < kKeys.size(); ++i) {
        const Key& key = kKeys.at(i);
        if (!key.values) {
            continue;
        }
        std::uint64_t value = outside.at(i) ? OutOfSet(*key.values, random) : InSet(*key.values, random);
        if (key.channelMode) {
            if (!outside.at(i)) {
                value = (modeKey == mode || (modesClash && random.Chance(2))) ? 1 : 0;
            }
            ++modeKey;
        }
        settings.numbers.at(i) = value;
        std::ostringstream text;
        if (random.Chance(5)) {
            text << "0x" << std::hex << value;
        } else {
            text << value;
        }
        settings.texts.at(i) = text.str();
    }
    // FTDI's ids three times in four, so that most chips can be read back
    // with -r after the replug.
    if (!outside.at(kVendorId) && !outside.at(kProductId) && !random.Chance(4)) {
        settings.numbers.at(kVendorId) = kFtdiVendorId;
        settings.numbers.at(kProductId) = kFt232hProductId;
        settings.texts.at(kVendorId) = std::to_string(kFtdiVendorId);
        settings.texts.at(kProductId) = std::to_string(kFt232hProductId);
    }
    // Strings that fit the chip, with room for a serial number the library
    // makes: strings beyond it are the rows' concern.
    const std::size_t manufacturer = random.Below(13);
    const std::size_t description = random.Below(kStringRoom - kMadeSerialNumber - 12 + 1);
    const std::size_t serialRoom = std::min<std::size_t>(15, kStringRoom - manufacturer - description);
    settings.texts.at(kManufacturer) = Text(random, manufacturer);
    settings.texts.at(kDescription) = Text(random, description);
    settings.texts.at(kSerialNumber) = random.Chance(6) ? "" : Text(random, 1 + random.Below(serialRoom));
    settings.texts.at(kManufacturerId) = Text(random, random.Below(4));
    return settings;
}

std::string FileText(const Settings& settings) {
    std::string file;
    std::string section;
    for (std::size_t i = 0; i < kKeys.size(); ++i) {
        const Key& key = kKeys.at(i);
        if (section != key.section) {
            section = key.section;
            file += "[" + section + "]\r\n";
        }
        const std::string& text = settings.texts.at(i);
        file += std::string(key.name) + "=" + (key.values ? text : "\"" + text + "\"") + "\r\n";
    }
    return file;
}

// The keys -w must refuse: each value outside its set, and each channel
// mode set when more than one is.
std::vector<std::size_t> Refused(const Settings& settings) {
    std::vector<std::size_t> refused;
    std::vector<std::size_t> modes;
    for (std::size_t i = 0; i < kKeys.size(); ++i) {
        const Key& key = kKeys.at(i);
        if (key.values && !key.values->Holds(settings.numbers.at(i))) {
            refused.push_back(i);
        } else if (key.channelMode && settings.numbers.at(i) == 1) {
            modes.push_back(i);
        }
    }
    if (modes.size() > 1) {
        refused.insert(refused.end(), modes.begin(), modes.end());
        std::sort(refused.begin(), refused.end());
    }
    return refused;
}

// A settings file's key=value lines, quotes removed.
std::map<std::string, std::string> ReadSettings(const std::string& text) {
    std::map<std::string, std::string> values;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const auto equals = line.find('=');
        if (equals != std::string::npos) {
            std::string value = line.substr(equals + 1);
            if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
                value = value.substr(1, value.size() - 2);
            }
            values[line.substr(0, equals)] = value;
        }
    }
    return values;
}

// What a key must read back as, or nullopt where any value is right.
std::optional<std::string> ReadBack(const Settings& settings, std::size_t i, const std::string& serialRead) {
    const Key& key = kKeys.at(i);
    if (key.values) {
        return std::to_string(settings.numbers.at(i));
    }
    const std::string& id = settings.texts.at(kManufacturerId);
    if (i == kManufacturerId) {
        return serialRead.substr(0, 2);
    }
    if (i == kSerialNumber && settings.texts.at(i).empty()) {
        // The library makes one of ManufacturerId's first two characters and
        // six of its own; a ManufacturerId of one character is taken as it is.
        return id.size() >= 2 ? id.substr(0, 2) + std::string(kMadeSerialNumber - 2, '?') : id;
    }
    return settings.texts.at(i);
}

struct Figures {
    int files = 0;
    int refused = 0;
    int readBack = 0;
    int imageOnly = 0;
    int failed = 0;
};

class Judge {
public:
    explicit Judge(std::uint64_t seed) : seed_(seed), sandbox_(LibraryKind::kSimulator) {
        WriteFile(sandbox_.FilePath("chips.txt"), "type=ft232h,image=../chip0.bin\n");
    }

    void Try(std::uint64_t number, Figures& figures) {
        const Settings settings = Generate(seed_, number);
        const std::string file = FileText(settings);
        const std::string image = FactoryImage(kFreshSerial);
        WriteFile(sandbox_.FilePath("chip0.bin"), image);
        WriteFile(sandbox_.FilePath(kToWrite), file);
        failures_.clear();
        ++figures.files;

        const std::vector<std::size_t> refused = Refused(settings);
        std::string expected = Table();
        for (const std::size_t i : refused) {
            expected += sandbox_.PrintedPath(kToWrite) + " の " + kKeys.at(i).name + "=" + settings.texts.at(i) +
                        " は不正な値です\r\n";
        }
        expected += refused.empty()
                        ? sandbox_.PrintedPath(kToWrite) + " の内容を NO.0 の FT232H の eeprom に書き込みました\r\n" +
                              "NO.0 の FT232H を一度抜き差しして下さい\r\n"
                        : std::string("NO.0 の FT232H の eeprom 書き込みが失敗しました\r\n");
        Expect("-w 0 prints", Run({"-w", "0"}).output, expected);
        const std::string after = ReadFile(sandbox_.FilePath("chip0.bin"));
        if (!refused.empty()) {
            ++figures.refused;
            Expect("the refused file leaves the image", after == image ? "unchanged" : "changed", "unchanged");
        } else {
            JudgeImage(settings, after);
            if (settings.numbers.at(kVendorId) == kFtdiVendorId &&
                settings.numbers.at(kProductId) == kFt232hProductId) {
                ++figures.readBack;
                JudgeDump(settings);
            } else {
                ++figures.imageOnly;
            }
        }
        if (!failures_.empty()) {
            ++figures.failed;
            std::cerr << "FAILED: file " << number << " of seed " << seed_ << ":\n"
                      << failures_ << "--- the file:\n"
                      << file << "\n";
        }
    }

private:
    static constexpr const char* kToWrite = "ft232h_eeprom_to_write_no0.ini";
    static constexpr const char* kDump = "ft232h_eeprom_no0.ini";

    static std::string Table() {
        return "FT232H が 1 個見つかりました\r\n--------------------------\r\n[NO]       [SerialNumber]\r\n"
               " 0          " +
               kFreshSerial + "\r\n--------------------------\r\n";
    }

    ToolRun Run(const std::vector<std::string>& arguments) {
        ToolRun run = sandbox_.Run(arguments);
        if (run.exitStatus != 0 || !run.errors.empty()) {
            failures_ += "status " + std::to_string(run.exitStatus) + ", errors: " + run.errors + "\n";
        }
        return run;
    }

    void Expect(const std::string& what, const std::string& actual, const std::string& expected) {
        if (actual != expected) {
            failures_ += what + ":\n" + actual + "\ninstead of:\n" + expected + "\n";
        }
    }

    // Matches with ? standing for any character.
    void ExpectLike(const std::string& what, const std::string& actual, const std::string& pattern) {
        const bool like = actual.size() == pattern.size() &&
                          std::equal(pattern.begin(), pattern.end(), actual.begin(),
                                     [](char wanted, char seen) { return wanted == '?' || wanted == seen; });
        if (!like) {
            Expect(what, actual, pattern);
        }
    }

    void JudgeImage(const Settings& settings, const std::string& image) {
        ChipFields fields;
        std::string failure;
        if (!DecodeChip(image, fields, failure)) {
            failures_ += "the image after -w: " + failure + "\n";
            return;
        }
        for (std::size_t i = 0; i < kKeys.size(); ++i) {
            const auto wanted = ReadBack(settings, i, fields["SerialNumber"]);
            if (kKeys.at(i).decoded && wanted) {
                ExpectLike(std::string("the image's ") + kKeys.at(i).name, fields[kKeys.at(i).name], *wanted);
            }
        }
    }

    // Plugged in again, the chip is dumped by the tool.
    void JudgeDump(const Settings& settings) {
        std::filesystem::remove(sandbox_.FilePath(kDump));
        const std::string output = Run({"-r", "0"}).output;
        const std::string done = "NO.0 の FT232H の eeprom を " + sandbox_.PrintedPath(kDump) + " に書き出しました\r\n";
        if (!output.ends_with(done)) {
            Expect("-r 0 after the replug prints", output, "... " + done);
            return;
        }
        auto dumped = ReadSettings(ReadFile(sandbox_.FilePath(kDump)));
        for (std::size_t i = 0; i < kKeys.size(); ++i) {
            const auto wanted = ReadBack(settings, i, dumped["SerialNumber"]);
            if (wanted) {
                ExpectLike(std::string("the dump's ") + kKeys.at(i).name, dumped[kKeys.at(i).name], *wanted);
            }
        }
    }

    std::uint64_t seed_;
    ToolSandbox sandbox_;
    std::string failures_;
};

double Seconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

std::uint64_t Setting(const char* variable, const char* argument) {
    const char* value = std::getenv(variable);
    return std::stoull(value != nullptr && *value != '\0' ? value : argument);
}

}  // namespace
}  // namespace ft232h::e2e

int main(int argc, char** argv) {
    using namespace ft232h::e2e;
    if (argc != 5) {
        std::cerr << "usage: emu_round_trip SEED SHARD SHARDS FILES\n";
        return 2;
    }
    try {
        const std::uint64_t seed = Setting("FT232H_ROUND_TRIP_SEED", argv[1]);
        const std::uint64_t shard = std::stoull(argv[2]);
        const std::uint64_t shards = std::stoull(argv[3]);
        const std::uint64_t files = Setting("FT232H_ROUND_TRIP_FILES", argv[4]);
        const double start = Seconds();
        Judge judge(seed);
        Figures figures;
        for (std::uint64_t number = shard; number < files; number += shards) {
            judge.Try(number, figures);
        }
        std::cout << "seed " << seed << ", shard " << shard << " of " << shards << ": " << figures.files << " files, "
                  << figures.refused << " refused, " << figures.readBack << " read back with -r, " << figures.imageOnly
                  << " with other ids judged by their image, " << figures.failed << " failed, "
                  << static_cast<int>(Seconds() - start) << " s\n";
        return figures.failed == 0 && figures.files > 0 ? 0 : 1;
    } catch (const std::exception& error) {
        std::cerr << "error: " << error.what() << "\n";
        return 2;
    }
}
