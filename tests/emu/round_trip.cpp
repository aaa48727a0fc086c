// The judge of which values -w may program: generated settings files, each
// with every key, go through the built tool, FTDI's own library and a
// virtual FT232H. For each file, from the chip as the row plugged it in:
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
// written. They are the test's own, so that a set of the tool's that is too
// narrow shows as a refusal the test does not expect, and one that is too
// wide as a value the chip changes or a failure the test does not expect.
// FT232H_ROUND_TRIP_SEED and FT232H_ROUND_TRIP_FILES, when set, replace the
// row's seed and number of files for a longer or another run.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/chip_world.hpp"
#include "tests/e2e/tool_sandbox.hpp"

namespace ft232h::e2e {
namespace {

// The values the chip keeps, `lowest` to `highest` in steps of `step`, of a
// field that holds 0 .. `widest`; a string's `widest` is 0.
struct ValueSet {
    std::uint64_t lowest = 0;
    std::uint64_t highest = 0;
    std::uint64_t step = 1;
    std::uint64_t widest = 0;

    [[nodiscard]] bool Holds(std::uint64_t value) const {
        return value >= lowest && value <= highest && (value - lowest) % step == 0;
    }
};

struct Key {
    std::string section;
    std::string name;
    ValueSet values;
    bool channelMode = false;
};

// In the order of the file.
std::vector<Key> Keys() {
    constexpr ValueSet kFlag{0, 1, 1, 0xFF};
    std::vector<Key> keys{{"DESC", "Manufacturer", {}},
                          {"DESC", "ManufacturerId", {}},
                          {"DESC", "Description", {}},
                          {"DESC", "SerialNumber", {}},
                          {"COMMON", "deviceType", {8, 8, 1, 0xFFFFFFFF}},
                          {"COMMON", "VendorId", {1, 0xFFFE, 1, 0xFFFF}},
                          {"COMMON", "ProductId", {1, 0xFFFF, 1, 0xFFFF}},
                          {"COMMON", "SerNumEnable", kFlag},
                          {"COMMON", "MaxPower", {0, 500, 2, 0xFFFF}}};
    for (const char* name : {"SelfPowered", "RemoteWakeup", "PullDownEnable"}) {
        keys.push_back({"COMMON", name, kFlag});
    }
    for (const std::string group : {"AC", "AD"}) {
        keys.push_back({"FT232H", group + "SlowSlew", kFlag});
        keys.push_back({"FT232H", group + "SchmittInput", kFlag});
        keys.push_back({"FT232H", group + "DriveCurrent", {4, 16, 4, 0xFF}});
    }
    for (int pin = 0; pin < 10; ++pin) {
        keys.push_back({"FT232H", "Cbus" + std::to_string(pin), {0, 12, 1, 0xFF}});
    }
    for (const char* name : {"FT1248Cpol", "FT1248Lsb", "FT1248FlowControl", "IsFifo", "IsFifoTar", "IsFastSer",
                             "IsFT1248", "PowerSaveEnable", "DriverType"}) {
        keys.push_back({"FT232H", name, kFlag, std::string(name).starts_with("Is")});
    }
    return keys;
}

const std::vector<Key> kKeys = Keys();
constexpr std::size_t kManufacturerId = 1;
constexpr std::size_t kSerialNumber = 3;
constexpr std::size_t kVendorId = 5;
constexpr std::size_t kProductId = 6;
const std::string kFtdiIds = "1027:24596";
// The room of the three stored strings, an empty serial number counting as
// the eight characters the library makes.
constexpr std::size_t kStringRoom = 44;
constexpr std::size_t kMadeSerialNumber = 8;
const std::string kWritten =
    " の内容を NO.0 の FT232H の eeprom に書き込みました\r\nNO.0 の FT232H を一度抜き差しして下さい\r\n";
const std::string kWriteFailed = "NO.0 の FT232H の eeprom 書き込みが失敗しました\r\n";
const std::string kRule = "--------------------------\r\n";

// The generator's output is the same on every standard library; only the
// draws are ours.
struct Random {
    std::mt19937_64 engine;
    std::uint64_t Below(std::uint64_t count) { return engine() % count; }
    bool Chance(std::uint64_t inEvery) { return Below(inEvery) == 0; }
};

std::uint64_t InSet(const ValueSet& set, Random& random) {
    const std::uint64_t members = (set.highest - set.lowest) / set.step + 1;
    // The edges half of the time: that is where a set is wrong by one.
    const std::uint64_t edges[] = {0, 1, members - 2, members - 1};
    const std::uint64_t member =
        random.Chance(2) ? std::min(edges[random.Below(4)], members - 1) : random.Below(members);
    return set.lowest + set.step * member;
}

// Just outside the set, or the field's extremes, or anywhere in the field.
std::uint64_t OutOfSet(const ValueSet& set, Random& random) {
    std::vector<std::uint64_t> candidates{0, set.widest, set.highest + 1, set.highest + set.step};
    candidates.insert(candidates.end(),
                      {set.lowest - 1, set.lowest + 1, set.highest - 1, random.Below(set.widest + 1)});
    std::erase_if(candidates, [&](std::uint64_t value) { return value > set.widest || set.Holds(value); });
    return candidates.at(random.Below(candidates.size()));
}

std::string Text(Random& random, std::size_t length) {
    static const std::string kCharacters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789 -_.<>()";
    std::string text;
    while (text.size() < length) {
        text.push_back(kCharacters.at(random.Below(kCharacters.size())));
    }
    return text;
}

// One file's values as written.
std::vector<std::string> Generate(std::uint64_t seed, std::uint64_t number) {
    Random random{std::mt19937_64(seed * 1000003 + number)};
    // Half the files hold only values the chip keeps, the others up to six
    // keys outside their sets.
    std::vector<bool> outside(kKeys.size(), false);
    for (std::uint64_t bad = random.Chance(2) ? 1 + random.Below(6) : 0; bad > 0; --bad) {
        outside.at(kSerialNumber + 1 + random.Below(kKeys.size() - kSerialNumber - 1)) = true;
    }
    // One channel mode or none, and now and then more.
    const std::uint64_t mode = random.Below(5);
    const bool clash = random.Chance(8);
    std::vector<std::string> values(kKeys.size());
    std::uint64_t modeKey = 0;
    for (std::size_t i = kSerialNumber + 1; i < kKeys.size(); ++i) {
        const Key& key = kKeys[i];
        std::uint64_t value = outside[i] ? OutOfSet(key.values, random) : InSet(key.values, random);
        if (key.channelMode && !outside[i]) {
            value = (modeKey == mode || (clash && random.Chance(2))) ? 1 : 0;
        }
        modeKey += key.channelMode ? 1 : 0;
        values[i] = std::to_string(value);
    }
    // FTDI's ids three times in four, so that most chips can be read back.
    if (!outside[kVendorId] && !outside[kProductId] && !random.Chance(4)) {
        values[kVendorId] = kFtdiIds.substr(0, 4);
        values[kProductId] = kFtdiIds.substr(5);
    }
    // Strings that fit the chip; strings beyond it are the rows' concern.
    const std::size_t manufacturer = random.Below(13);
    const std::size_t description = random.Below(kStringRoom - kMadeSerialNumber - 12 + 1);
    values[0] = Text(random, manufacturer);
    values[kManufacturerId] = Text(random, random.Below(4));
    values[2] = Text(random, description);
    const std::size_t serialRoom = std::min<std::size_t>(15, kStringRoom - manufacturer - description);
    values[kSerialNumber] = random.Chance(6) ? "" : Text(random, 1 + random.Below(serialRoom));
    return values;
}

std::uint64_t Number(const std::string& text) {
    return std::stoull(text);
}

// The keys -w must refuse: each value outside its set, and each channel
// mode at 1 when more than one is.
std::vector<std::size_t> Refused(const std::vector<std::string>& values) {
    std::vector<std::size_t> refused;
    std::vector<std::size_t> modes;
    for (std::size_t i = kSerialNumber + 1; i < kKeys.size(); ++i) {
        if (!kKeys[i].values.Holds(Number(values[i]))) {
            refused.push_back(i);
        } else if (kKeys[i].channelMode && Number(values[i]) == 1) {
            modes.push_back(i);
        }
    }
    if (modes.size() > 1) {
        refused.insert(refused.end(), modes.begin(), modes.end());
        std::sort(refused.begin(), refused.end());
    }
    return refused;
}

// What the key must read back as, ? standing for any character; `serial`
// is the serial number read back.
std::string ReadBack(const std::vector<std::string>& values, std::size_t i, const std::string& serial) {
    const std::string& id = values[kManufacturerId];
    if (i == kManufacturerId) {
        return serial.substr(0, 2);
    }
    if (i == kSerialNumber && values[i].empty()) {
        // ManufacturerId's first two characters and six of the library's;
        // a ManufacturerId of one character is taken as it is.
        return id.size() >= 2 ? id.substr(0, 2) + std::string(kMadeSerialNumber - 2, '?') : id;
    }
    return i > kSerialNumber ? std::to_string(Number(values[i])) : values[i];
}

constexpr const char* kToWrite = "ft232h_eeprom_to_write_no0.ini";
constexpr const char* kDump = "ft232h_eeprom_no0.ini";

// One file through the tool and the chip, from `image`; returns what went
// wrong, empty when nothing did.
std::string Try(const ToolSandbox& sandbox, const std::vector<std::string>& values, const std::string& image,
                bool& refused, bool& readBack) {
    std::string failures;
    const auto expect = [&](const std::string& what, const std::string& actual, const std::string& expected) {
        if (!Matches(actual, expected)) {
            failures += what + ":\n" + actual + "\ninstead of:\n" + expected + "\n";
        }
    };
    const auto tool = [&](const char* option) {
        const ToolRun run = sandbox.Run({option, "0"});
        expect(std::string(option) + " 0 ends", std::to_string(run.exitStatus) + " " + run.errors, "0 ");
        return run.output;
    };
    // Each key read back, where the reading has it, must be as written.
    const auto compare = [&](const std::string& what, std::map<std::string, std::string> read) {
        for (std::size_t i = 0; i < kKeys.size(); ++i) {
            if (read.contains(kKeys[i].name)) {
                expect(what + kKeys[i].name, read[kKeys[i].name], ReadBack(values, i, read["SerialNumber"]));
            }
        }
    };
    std::string file;
    for (std::size_t i = 0; i < kKeys.size(); ++i) {
        file += (i == 0 || kKeys[i].section != kKeys[i - 1].section ? "[" + kKeys[i].section + "]\r\n" : "") +
                kKeys[i].name + "=" + (i > kSerialNumber ? values[i] : "\"" + values[i] + "\"") + "\r\n";
    }
    WriteFile(sandbox.FilePath("chip0.bin"), image);
    WriteFile(sandbox.FilePath(kToWrite), file);
    const std::vector<std::size_t> refusedKeys = Refused(values);
    const std::string path = sandbox.PrintedPath(kToWrite);
    // What follows the device table, which the rows judge.
    std::string expected;
    for (const std::size_t i : refusedKeys) {
        expected += path + " の " + kKeys[i].name + "=" + values[i] + " は不正な値です\r\n";
    }
    expected += refusedKeys.empty() ? path + kWritten : kWriteFailed;
    const std::string printed = tool("-w");
    const std::size_t table = printed.rfind(kRule);
    expect("-w 0 prints", table == std::string::npos ? printed : printed.substr(table + kRule.size()), expected);
    const std::string after = ReadFile(sandbox.FilePath("chip0.bin"));
    refused = !refusedKeys.empty();
    readBack = !refused && values[kVendorId] + ":" + values[kProductId] == kFtdiIds;
    if (refused) {
        expect("the image after a refusal", after == image ? "as it was" : "changed", "as it was");
    } else {
        // libftdi's reading of the image, and while the chip keeps FTDI's
        // ids, its dump by the tool once it is plugged in again.
        ChipFields decoded;
        std::string failure;
        expect("libftdi reads the image", DecodeChip(after, decoded, failure) ? "" : failure, "");
        compare("the image's ", decoded);
    }
    if (readBack) {
        std::filesystem::remove(sandbox.FilePath(kDump));
        const std::string done = "NO.0 の FT232H の eeprom を " + sandbox.PrintedPath(kDump) + " に書き出しました\r\n";
        const std::string output = tool("-r");
        expect("-r 0 after the replug prints", output.ends_with(done) ? done : output, done);
        compare("the dump's ", SettingsOf(ReadFile(sandbox.FilePath(kDump))));
    }
    return failures.empty() ? failures : failures + "--- the file:\n" + file;
}

std::uint64_t Setting(const char* variable, std::uint64_t row) {
    const char* value = std::getenv(variable);
    return value != nullptr && *value != '\0' ? std::stoull(value) : row;
}

}  // namespace

std::string RoundTrip(const ToolSandbox& sandbox, const RoundTripShard& shard, std::string& failures) {
    const std::uint64_t seed = Setting("FT232H_ROUND_TRIP_SEED", shard.seed);
    const std::uint64_t files = Setting("FT232H_ROUND_TRIP_FILES", shard.files);
    const std::string image = ReadFile(sandbox.FilePath("chip0.bin"));
    std::array<int, 4> count{};  // files, refused, read back with -r, failed
    for (std::uint64_t number = shard.shard; number < files; number += shard.shards) {
        bool refused = false;
        bool readBack = false;
        const std::string found = Try(sandbox, Generate(seed, number), image, refused, readBack);
        count[0] += 1;
        count[1] += refused ? 1 : 0;
        count[2] += readBack ? 1 : 0;
        if (!found.empty()) {
            count[3] += 1;
            failures += "file " + std::to_string(number) + " of seed " + std::to_string(seed) + ":\n" + found;
        }
    }
    // The row then finds the chip as it plugged it in.
    WriteFile(sandbox.FilePath("chip0.bin"), image);
    std::ostringstream figures;
    figures << "seed " << seed << ", shard " << shard.shard << " of " << shard.shards << ": " << count[0] << " files, "
            << count[1] << " refused, " << count[2] << " read back with -r, " << count[0] - count[1] - count[2]
            << " with other ids judged by their image, " << count[3] << " failed\n";
    return figures.str();
}

}  // namespace ft232h::e2e
