// What the fuzz targets share: the way a broken property stops the run so
// that libFuzzer keeps the input, scratch files, and one plain reading of the
// settings-file format, written from its documented rules rather than from
// the service's code, to tell a wrong answer from a right one.
#pragma once

#include <iconv.h>
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
    // False for an odd number of bytes after a UTF-16 mark: no UTF-16 file,
    // which the service neither reads nor writes.
    bool readable = true;
    // The file starts with a UTF-16 mark; its values cross into code page 932.
    bool utf16 = false;
    // What the rules below read: the bytes, or a UTF-16 file's text in UTF-8.
    std::string text;
    std::vector<ReferenceSection> sections;  // in file order, duplicates kept
};

// The text of UTF-16 `bytes` (mark left off) in UTF-8. An unpaired surrogate
// gets the three bytes UTF-8 would give its number, so no unit is lost and
// no code page has a form for it.
inline std::optional<std::string> ReferenceUtf8OfUtf16(std::string_view bytes, bool bigEndian) {
    if (bytes.size() % 2 != 0) {
        return std::nullopt;
    }
    const auto unit = [&](std::size_t at) {
        const char32_t first = static_cast<unsigned char>(bytes[at]);
        const char32_t second = static_cast<unsigned char>(bytes[at + 1]);
        return bigEndian ? first << 8 | second : second << 8 | first;
    };
    std::string text;
    for (std::size_t at = 0; at < bytes.size(); at += 2) {
        char32_t c = unit(at);
        if (c >= 0xD800 && c < 0xDC00 && at + 2 < bytes.size() && unit(at + 2) >= 0xDC00 && unit(at + 2) < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (unit(at + 2) - 0xDC00);
            at += 2;
        }
        const int following = c < 0x80 ? 0 : c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
        constexpr unsigned char kLead[] = {0x00, 0xC0, 0xE0, 0xF0};
        text.push_back(static_cast<char>(kLead[following] | c >> (6 * following)));
        for (int k = following - 1; k >= 0; --k) {
            text.push_back(static_cast<char>(0x80 | (c >> (6 * k) & 0x3F)));
        }
    }
    return text;
}

// All of `in` converted by iconv; nullopt at anything it cannot convert.
inline std::optional<std::string> ReferenceConvert(const char* to, const char* from, std::string in) {
    const iconv_t converter = iconv_open(to, from);
    Require(converter != reinterpret_cast<iconv_t>(-1), "iconv lacks code page 932");
    // No character grows more than fourfold between these encodings.
    std::string out(in.size() * 4, '\0');
    char* source = in.data();
    std::size_t sourceLeft = in.size();
    char* target = out.data();
    std::size_t targetLeft = out.size();
    const bool whole = iconv(converter, &source, &sourceLeft, &target, &targetLeft) != static_cast<std::size_t>(-1);
    iconv_close(converter);
    if (!whole) {
        return std::nullopt;
    }
    out.resize(out.size() - targetLeft);
    return out;
}

// `text` converted from the set `from` to the set `to` in a UTF-16 file, as
// it is in any other; nullopt when it does not convert back to the same
// (a character the page lacks, a look-alike, one character under two codes).
inline std::optional<std::string> ReferenceRoundTrip(const ReferenceFile& file, const std::string& text, const char* to,
                                                     const char* from) {
    if (!file.utf16) {
        return text;
    }
    std::optional<std::string> converted = ReferenceConvert(to, from, text);
    if (!converted || ReferenceConvert(from, to, *converted) != text) {
        return std::nullopt;
    }
    return converted;
}

// A value of the file's text as the service gives it, in code page 932.
inline std::optional<std::string> ReferenceCodePage(const ReferenceFile& file, const std::string& text) {
    return ReferenceRoundTrip(file, text, "CP932", "UTF-8");
}

// Bytes a caller passes, as the file's text holds them.
inline std::optional<std::string> ReferenceTextOf(const ReferenceFile& file, const std::string& bytes) {
    return ReferenceRoundTrip(file, bytes, "UTF-8", "CP932");
}

inline ReferenceFile ParseReferenceFile(std::string_view bytes) {
    ReferenceFile file;
    file.utf16 = bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF");
    const std::optional<std::string> text =
        file.utf16 ? ReferenceUtf8OfUtf16(bytes.substr(2), bytes[0] == '\xFE') : std::string(bytes);
    if (!text) {
        file.readable = false;
        return file;
    }
    file.text = *text;
    bytes = file.text;
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

// The value the service must give for `section` and `key` as a caller names
// them, in the code page: empty when either is missing (a name that is no
// text in the page names nothing in a UTF-16 file); nullopt for a UTF-16
// file's value that the page cannot hold, which the service marks inexact.
inline std::optional<std::string> ReferenceValue(const ReferenceFile& file, const std::string& section,
                                                 const std::string& key) {
    const std::optional<std::string> sectionText = ReferenceTextOf(file, section);
    const std::optional<std::string> keyText = ReferenceTextOf(file, key);
    if (!sectionText || !keyText) {
        return std::string();
    }
    return ReferenceCodePage(file, ReferenceRead(file, *sectionText, *keyText).value_or(""));
}

}  // namespace ft232h::fuzz
