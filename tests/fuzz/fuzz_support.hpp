// What the fuzz targets share: the way a broken property stops the run so
// that libFuzzer keeps the input, scratch files, and one plain reading of the
// settings-file format, written from its documented rules rather than from
// the service's code, to tell a wrong answer from a right one.
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ft232h::fuzz {

// libFuzzer saves the input and fails when the target aborts.
inline void Require(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "property broken: %s\n", what);
        std::abort();
    }
}

// A file in a directory of this process's own, removed when the process ends
// normally (a crashing input leaves it for a look).
inline std::filesystem::path ScratchFile(const char* name) {
    static const struct Directory {
        Directory() {
            std::string pattern = (std::filesystem::temp_directory_path() / "ft232h-fuzz-XXXXXX").string();
            Require(mkdtemp(pattern.data()) != nullptr, "cannot create a scratch directory");
            path = pattern;
        }
        ~Directory() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
        std::filesystem::path path;
    } kDirectory;
    return kDirectory.path / name;
}

inline void WriteWholeFile(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    Require(out.good(), "cannot write the scratch file");
}

inline std::string ReadWholeFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    Require(in.good(), "cannot read the scratch file back");
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Space, tab, vertical tab, form feed and ^Z, as Windows trims them.
inline std::string_view ReferenceTrim(std::string_view text) {
    const auto blank = [](char c) { return std::string_view(" \t\v\f\x1A").find(c) != std::string_view::npos; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

inline bool ReferenceSameName(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; };
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [&](char x, char y) { return lower(x) == lower(y); });
}

// One pair of enclosing double or single quotes comes off; a lone quote stays.
inline std::string ReferenceUnquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.front() == value.back()) {
        value = value.substr(1, value.size() - 2);
    }
    return std::string(value);
}

struct ReferenceEntry {
    std::string key;
    std::string value;  // blanks around it dropped, quotes still on
};

struct ReferenceSection {
    std::string name;
    std::vector<ReferenceEntry> entries;
};

struct ReferenceFile {
    // False for a UTF-16 file, which the service refuses to read.
    bool readable = true;
    std::vector<ReferenceSection> sections;  // in file order, duplicates kept
};

inline ReferenceFile ParseReferenceFile(std::string_view bytes) {
    ReferenceFile file;
    if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF")) {
        file.readable = false;
        return file;
    }
    if (bytes.starts_with("\xEF\xBB\xBF")) {
        bytes.remove_prefix(3);
    }
    // Every CR and every LF ends a line (a run of them leaves empty lines,
    // which count for nothing); a NUL ends the line's text.
    while (!bytes.empty()) {
        const std::size_t end = bytes.find_first_of("\r\n");
        const std::string_view raw = bytes.substr(0, end);
        bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
        const std::string_view line = ReferenceTrim(raw.substr(0, raw.find('\0')));
        const std::size_t close = line.rfind(']');
        if (line.starts_with('[') && close != std::string_view::npos) {
            file.sections.push_back({std::string(ReferenceTrim(line.substr(1, close - 1))), {}});
        } else if (!line.empty() && !file.sections.empty() && line.front() != ';') {
            // A name without '=' is a key without a value, which hides any
            // later key of its name.
            const std::size_t equals = line.find('=');
            const std::string_view value = equals == std::string_view::npos ? "" : line.substr(equals + 1);
            file.sections.back().entries.push_back(
                {std::string(ReferenceTrim(line.substr(0, equals))), std::string(ReferenceTrim(value))});
        }
    }
    return file;
}

// The value as the service must give it: only the first section of a name
// counts, and in it the first key of a name; nullopt when either is missing.
inline std::optional<std::string> ReferenceRead(const ReferenceFile& file, std::string_view section,
                                                std::string_view key) {
    for (const ReferenceSection& candidate : file.sections) {
        if (ReferenceSameName(candidate.name, section)) {
            for (const ReferenceEntry& entry : candidate.entries) {
                if (ReferenceSameName(entry.key, key)) {
                    return ReferenceUnquote(entry.value);
                }
            }
            return std::nullopt;
        }
    }
    return std::nullopt;
}

}  // namespace ft232h::fuzz
