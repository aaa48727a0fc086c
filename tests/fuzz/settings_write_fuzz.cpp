// One key written into an arbitrary existing settings file. Input: a mode
// byte, then section, key and value as FuzzedDataProvider strings (ended by a
// backslash and one other byte), then the file's bytes. The mode can instead
// pick the section or key from those already in the file, so that replacing
// a value is tried as often as adding one.
//
// Afterwards the file still reads; the key reads back as written; every key
// that read before reads the same; the text outside the one changed line is
// kept, and so is a UTF-16 file's byte order; a refused write leaves the file
// as it was. Every read is also compared with the reference reading of the
// same bytes.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "eeprom/settings_service.hpp"
#include "tests/fuzz/fuzz_support.hpp"

namespace {

namespace fuzz = ft232h::fuzz;
using ft232h::SettingsWrite;

// A section and a key as a caller names them: in the code page.
using Probe = std::pair<std::string, std::string>;

// Large enough that no value in a fuzzed file is ever cut.
constexpr std::size_t kWholeValue = std::size_t{1} << 20;
constexpr std::size_t kMaximumProbes = 64;

std::vector<Probe> ProbesOf(const fuzz::ReferenceFile& file) {
    std::vector<Probe> probes;
    // A name the code page cannot hold cannot be asked for.
    const auto probe = [&](const std::string& section, const std::string& key) {
        const std::optional<std::string> sectionBytes = fuzz::ReferenceCodePage(file, section);
        const std::optional<std::string> keyBytes = fuzz::ReferenceCodePage(file, key);
        if (sectionBytes && keyBytes) {
            probes.emplace_back(*sectionBytes, *keyBytes);
        }
    };
    for (const fuzz::ReferenceSection& section : file.sections) {
        // A key that no section holds, to see that nothing appears from nowhere.
        probe(section.name, "ft232h-fuzz-absent");
        for (const fuzz::ReferenceEntry& entry : section.entries) {
            probe(section.name, entry.key);
        }
    }
    if (probes.size() > kMaximumProbes) {
        probes.resize(kMaximumProbes);
    }
    return probes;
}

// The product's reading must be the reference's (ReferenceValue), a value
// the code page cannot hold marked inexact; nullopt for such a value.
std::optional<std::string> CheckedRead(const std::string& path, const fuzz::ReferenceFile& reference,
                                       const Probe& probe) {
    const ft232h::SettingsKey wanted{probe.first, probe.second};
    const ft232h::SettingsRead read = ft232h::ReadSettings(path, std::span(&wanted, 1), kWholeValue);
    fuzz::Require(read.file == ft232h::SettingsFileRead::kRead, "a readable file did not read");
    const std::optional<std::string> expected = fuzz::ReferenceValue(reference, probe.first, probe.second);
    fuzz::Require(read.values.front().exact == expected.has_value(),
                  "the service and the reference differ on whether the code page holds a value");
    fuzz::Require(!expected || read.values.front().text == *expected,
                  "the service and the reference read a key differently");
    return expected;
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
        section = fuzz::ReferenceCodePage(before, chosen.name).value_or(chosen.name);
        if ((mode & 2) != 0 && !chosen.entries.empty()) {
            const std::string& name = chosen.entries[(mode >> 5) % chosen.entries.size()].key;
            key = fuzz::ReferenceCodePage(before, name).value_or(name);
        }
    }

    const std::filesystem::path file = fuzz::ScratchFile("profile.ini");
    const std::string path = file.string();
    fuzz::WriteWholeFile(file, original);

    std::vector<Probe> probes = ProbesOf(before);
    std::vector<std::optional<std::string>> readBefore;
    if (before.readable) {
        for (const Probe& probe : probes) {
            readBefore.push_back(CheckedRead(path, before, probe));
        }
    }

    // The entry is checked first, then the file, then whether a UTF-16 file
    // can hold the entry's text.
    const auto text = [&](const std::string& bytes) { return fuzz::ReferenceTextOf(before, bytes); };
    const SettingsWrite expected = !ft232h::IsWritableSettingsEntry(section, key, value) ? SettingsWrite::kRefused
                                   : !before.readable                                    ? SettingsWrite::kFileFailed
                                   : !text(section) || !text(key) || !text(value)        ? SettingsWrite::kRefused
                                                                                         : SettingsWrite::kWritten;
    const ft232h::SettingsEntry entry{section, key, value};
    const SettingsWrite outcome = ft232h::WriteSettings(path, std::span(&entry, 1));
    fuzz::Require(outcome == expected, "a write was refused or allowed wrongly");
    const std::string after = fuzz::ReadWholeFile(file);
    if (outcome != SettingsWrite::kWritten) {
        fuzz::Require(after == original, "a write that failed changed the file");
        return 0;
    }

    const fuzz::ReferenceFile reference = fuzz::ParseReferenceFile(after);
    fuzz::Require(reference.readable, "a written file no longer reads");
    fuzz::Require(!before.utf16 || after.starts_with(original.substr(0, 2)), "a write lost the file's byte order");
    fuzz::Require(ChangedWithinOneLine(before.text, reference.text), "a write changed more than the one line");
    CheckedRead(path, reference, {section, key});
    fuzz::Require(fuzz::ReferenceRead(reference, *text(section), *text(key)) ==
                      text(fuzz::ReferenceUnquote(fuzz::ReferenceTrim(value))),
                  "the key does not read back");

    for (std::size_t i = 0; i < probes.size(); ++i) {
        const std::optional<std::string> now = CheckedRead(path, reference, probes[i]);
        // Compared as text: two code-page forms of one character name the same key.
        const bool isWrittenKey = fuzz::ReferenceSameName(*text(probes[i].first), *text(section)) &&
                                  fuzz::ReferenceSameName(*text(probes[i].second), *text(key));
        if (!isWrittenKey) {
            fuzz::Require(now == readBefore[i], "another key changed");
        }
    }
    return 0;
}
