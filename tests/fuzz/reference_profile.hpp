// A second, deliberately plain reading of the settings-file format, written
// from the service's documented rules rather than from its code, so that the
// fuzz targets can tell a wrong answer from a right one.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ft232h::fuzz {

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

// Space, tab, vertical tab, form feed and ^Z, as Windows trims them.
inline bool IsReferenceBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1A';
}

inline std::string_view ReferenceTrim(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsReferenceBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && IsReferenceBlank(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

inline std::string ReferenceLower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c + ('a' - 'A'));
        }
    }
    return lower;
}

inline bool ReferenceSameName(std::string_view a, std::string_view b) {
    return ReferenceLower(a) == ReferenceLower(b);
}

// One pair of enclosing double or single quotes comes off; a lone quote stays.
inline std::string ReferenceUnquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.front() == value.back()) {
        return std::string(value.substr(1, value.size() - 2));
    }
    return std::string(value);
}

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
    std::vector<std::string_view> lines;
    while (!bytes.empty()) {
        const std::size_t end = bytes.find_first_of("\r\n");
        const std::string_view line = bytes.substr(0, end);
        bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
        lines.push_back(line.substr(0, line.find('\0')));
    }
    for (const std::string_view raw : lines) {
        const std::string_view line = ReferenceTrim(raw);
        if (line.empty()) {
            continue;
        }
        const std::size_t close = line.rfind(']');
        if (line.front() == '[' && close != std::string_view::npos) {
            file.sections.push_back({std::string(ReferenceTrim(line.substr(1, close - 1))), {}});
            continue;
        }
        if (file.sections.empty() || line.front() == ';') {
            continue;
        }
        // A name without '=' is a key without a value, which hides any later
        // key of its name.
        const std::size_t equals = line.find('=');
        const std::string_view value = equals == std::string_view::npos ? "" : line.substr(equals + 1);
        file.sections.back().entries.push_back(
            {std::string(ReferenceTrim(line.substr(0, equals))), std::string(ReferenceTrim(value))});
    }
    return file;
}

// The value as the service must give it: only the first section of a name
// counts, and in it the first key of a name; nullopt when either is missing.
inline std::optional<std::string> ReferenceRead(const ReferenceFile& file, std::string_view section,
                                                std::string_view key) {
    for (const ReferenceSection& candidate : file.sections) {
        if (!ReferenceSameName(candidate.name, section)) {
            continue;
        }
        for (const ReferenceEntry& entry : candidate.entries) {
            if (ReferenceSameName(entry.key, key)) {
                return ReferenceUnquote(entry.value);
            }
        }
        return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace ft232h::fuzz
