// One key written into an arbitrary existing settings file. Input: a mode
// byte, then section, key and value as FuzzedDataProvider strings (ended by a
// backslash and one other byte), then the file's bytes. The mode can instead
// pick the section or key from those already in the file, so that replacing
// a value is tried as often as adding one.
//
// Afterwards the file still reads; the key reads back as written; every key
// that read before reads the same; the bytes outside the one changed line
// are kept; a refused write leaves the file as it was. Every read is also
// compared with the reference reading of the same bytes.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "eeprom/profile_file.hpp"
#include "tests/fuzz/fuzz_support.hpp"

namespace {

namespace fuzz = ft232h::fuzz;

using Probe = std::pair<std::string, std::string>;

// Large enough that no value in a fuzzed file is ever cut.
constexpr std::size_t kWholeValue = std::size_t{1} << 20;
constexpr std::size_t kMaximumProbes = 64;

std::vector<Probe> ProbesOf(const fuzz::ReferenceFile& file) {
    std::vector<Probe> probes;
    for (const fuzz::ReferenceSection& section : file.sections) {
        // A key that no section holds, to see that nothing appears from nowhere.
        probes.emplace_back(section.name, "ft232h-fuzz-absent");
        for (const fuzz::ReferenceEntry& entry : section.entries) {
            probes.emplace_back(section.name, entry.key);
        }
    }
    if (probes.size() > kMaximumProbes) {
        probes.resize(kMaximumProbes);
    }
    return probes;
}

// The product's reading must be the reference's: the value, or empty when
// the section or key is missing.
std::string CheckedRead(const std::string& path, const fuzz::ReferenceFile& reference, const Probe& probe) {
    const std::optional<std::string> value = ft232h::ReadProfileString(path, probe.first, probe.second, kWholeValue);
    fuzz::Require(value.has_value(), "a readable file did not read");
    fuzz::Require(*value == fuzz::ReferenceRead(reference, probe.first, probe.second).value_or(""),
                  "the service and the reference read a key differently");
    return *value;
}

// True when `after` is `before` with one stretch replaced, and the stretch
// of `before` that went lies within one line.
bool ChangedWithinOneLine(std::string_view before, std::string_view after) {
    const auto prefix = std::mismatch(before.begin(), before.end(), after.begin(), after.end()).first - before.begin();
    const auto suffix =
        std::mismatch(before.rbegin(), before.rend() - prefix, after.rbegin(), after.rend() - prefix).first -
        before.rbegin();
    return before.substr(static_cast<std::size_t>(prefix), before.size() - static_cast<std::size_t>(prefix + suffix))
               .find_first_of("\r\n") == std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::uint8_t mode = input.ConsumeIntegral<std::uint8_t>();
    std::string section = input.ConsumeRandomLengthString();
    std::string key = input.ConsumeRandomLengthString();
    const std::string value = input.ConsumeRandomLengthString();
    const std::string original = input.ConsumeRemainingBytesAsString();

    const fuzz::ReferenceFile before = fuzz::ParseReferenceFile(original);
    // Mode bit 0: take the section from the file; bit 1: the key too. The
    // other bits choose which one.
    if ((mode & 1) != 0 && !before.sections.empty()) {
        const fuzz::ReferenceSection& chosen = before.sections[(mode >> 2) % before.sections.size()];
        section = chosen.name;
        if ((mode & 2) != 0 && !chosen.entries.empty()) {
            key = chosen.entries[(mode >> 5) % chosen.entries.size()].key;
        }
    }

    const std::filesystem::path file = fuzz::ScratchFile("profile.ini");
    const std::string path = file.string();
    fuzz::WriteWholeFile(file, original);

    std::vector<Probe> probes = ProbesOf(before);
    std::vector<std::string> readBefore;
    if (before.readable) {
        for (const Probe& probe : probes) {
            readBefore.push_back(CheckedRead(path, before, probe));
        }
    }

    const bool writable = ft232h::IsWritableProfileEntry(section, key, value);
    const ft232h::ProfileWrite outcome = ft232h::WriteProfileString(path, section, key, value);
    const bool written = outcome == ft232h::ProfileWrite::kWritten;
    fuzz::Require(outcome != ft232h::ProfileWrite::kRefused || !writable, "a writable entry was refused");
    const std::string after = fuzz::ReadWholeFile(file);

    // Only an entry that cannot be written, or a file the service does not
    // read, is refused.
    fuzz::Require(written == (writable && before.readable), "a write was refused or allowed wrongly");
    if (!written) {
        fuzz::Require(after == original, "a refused write changed the file");
        return 0;
    }
    fuzz::Require(ChangedWithinOneLine(original, after), "a write changed more than the one line");

    const fuzz::ReferenceFile reference = fuzz::ParseReferenceFile(after);
    fuzz::Require(reference.readable, "a written file no longer reads");
    const std::string readBack = CheckedRead(path, reference, {section, key});
    fuzz::Require(readBack == fuzz::ReferenceUnquote(fuzz::ReferenceTrim(value)), "the key does not read back");

    for (std::size_t i = 0; i < probes.size(); ++i) {
        const std::string now = CheckedRead(path, reference, probes[i]);
        const bool isWrittenKey =
            fuzz::ReferenceSameName(probes[i].first, section) && fuzz::ReferenceSameName(probes[i].second, key);
        if (!isWrittenKey) {
            fuzz::Require(now == readBefore[i], "another key changed");
        }
    }
    return 0;
}
