// Implementation here must not depend on any platform: the settings-file
// text as bytes in memory.
//
// Reads the way GetPrivateProfileStringA does and writes the way
// WritePrivateProfileStringA does on the files people meet, so a settings
// file moves between Windows and other systems unchanged: names match without
// regard to ASCII case, blanks around names and values do not count, one pair
// of enclosing quotes is removed, the first of duplicated sections and keys
// counts, CR LF, LF and a lone CR all end a line, a NUL ends a line's text,
// and new lines are written with CR LF. Unlike the Windows API, it never
// rewrites a line it does not have to change: every other byte of the file,
// line ends included, stays as it was.
#include "eeprom/settings_text.hpp"

#include <algorithm>
#include <cstring>

#include "eeprom/ascii_case.hpp"

namespace ft232h {

namespace {

constexpr std::string_view kLineBreak = "\r\n";
constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

bool HoldsLineBreakOrNul(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// A name with blanks at its ends would be read back without them.
bool IsTrimmedName(std::string_view name) {
    return !name.empty() && !IsSettingsBlank(name.front()) && !IsSettingsBlank(name.back()) &&
           !HoldsLineBreakOrNul(name);
}

// The new content of a file: its old bytes up to `keepUntil`, then
// `inserted`, then its old bytes from `resumeFrom` on.
struct Edit {
    std::size_t keepUntil = 0;
    std::string inserted;
    std::size_t resumeFrom = 0;
};

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && IsSettingsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsSettingsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// A NUL ends the text that counts, as it ends a C string on Windows; the
// line itself still goes on to its break.
std::string_view UpToNul(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldAsciiCase(a[i]) != FoldAsciiCase(b[i])) {
            return false;
        }
    }
    return true;
}

// Where the lines of the file start: after a UTF-8 byte order mark, which an
// editor may put in front of the first section. The mark changes nothing
// else: values stay the bytes they are, both ways. Windows would convert
// them between UTF-8 and the system's code page, which gives another string
// on another machine and turns a byte the page lacks into '?', where the
// EEPROM's strings are single bytes that must come back as they went.
std::size_t FirstLineStart(std::string_view bytes) {
    return bytes.starts_with(kUtf8ByteOrderMark) ? kUtf8ByteOrderMark.size() : 0;
}

struct Line {
    std::size_t begin = 0;
    // Where the line's break begins (the end of the file when it has none).
    std::size_t breakBegin = 0;
    // Where the next line begins.
    std::size_t next = 0;
    bool hasBreak = false;
};

// Splits a file into lines as Windows does: CR LF, LF and a lone CR each end
// a line, so an LF CR pair is a line end and an empty line. CRs in a row
// before an LF, which a text-mode write of CR LF leaves behind, are one
// break. The next CR and the next LF are each searched for once and kept
// until passed, so a file costs two searches of its bytes however it is cut.
class LineSplitter {
public:
    explicit LineSplitter(std::string_view bytes) : bytes_(bytes) {}

    // The line starting at `begin`; lines are asked for in file order.
    Line At(std::size_t begin) {
        Line line;
        line.begin = begin;
        line.breakBegin = std::min(Next('\r', begin, carriageReturn_), Next('\n', begin, lineFeed_));
        line.hasBreak = line.breakBegin < bytes_.size();
        line.next = line.breakBegin;
        if (line.hasBreak && bytes_[line.breakBegin] == '\r') {
            std::size_t after = line.breakBegin;
            while (after < bytes_.size() && bytes_[after] == '\r') {
                ++after;
            }
            if (after < bytes_.size() && bytes_[after] == '\n') {
                line.next = after;
            }
        }
        if (line.hasBreak) {
            ++line.next;
        }
        return line;
    }

private:
    static constexpr std::size_t kNotSearched = static_cast<std::size_t>(-1);

    std::size_t Next(char wanted, std::size_t from, std::size_t& found) const {
        if (found == kNotSearched || found < from) {
            const void* at = std::memchr(bytes_.data() + from, wanted, bytes_.size() - from);
            found =
                at != nullptr ? static_cast<std::size_t>(static_cast<const char*>(at) - bytes_.data()) : bytes_.size();
        }
        return found;
    }

    std::string_view bytes_;
    std::size_t carriageReturn_ = kNotSearched;
    std::size_t lineFeed_ = kNotSearched;
};

// The name of a section line ("[name]", blanks allowed around and inside
// the brackets, anything after the last bracket ignored, as Windows does),
// or nullopt for any other line.
std::optional<std::string_view> SectionName(std::string_view text) {
    if (text.empty() || text.front() != '[') {
        return std::nullopt;
    }
    const std::size_t close = text.rfind(']');
    if (close == std::string_view::npos) {
        return std::nullopt;
    }
    return TrimBlanks(text.substr(1, close - 1));
}

// Where `key` of `section` is in the file, or where it would go.
struct KeyLocation {
    bool sectionFound = false;
    // Just past the last non-blank line of the section (its header when it
    // has nothing else): a new key goes there, before any blank lines that
    // separate the section from the next.
    std::size_t sectionEnd = 0;
    bool sectionEndHasBreak = false;
    bool keyFound = false;
    // The key's line is its name alone: a value needs its '=' first.
    bool keyWithoutEquals = false;
    // The value as written, without the blanks around it; for a name alone,
    // the end of the name.
    std::size_t valueBegin = 0;
    std::size_t valueEnd = 0;
    // Where the key's line break begins.
    std::size_t lineBreakBegin = 0;
};

std::size_t OffsetIn(std::string_view bytes, std::string_view part) {
    return static_cast<std::size_t>(part.data() - bytes.data());
}

// The start of the first line from `lineStart` on whose first byte after
// its blanks is '[', or the end of the file. Only a '[' can start a section,
// so the lines between are passed over at the speed of the search for it.
std::size_t NextBracketLine(std::string_view bytes, std::size_t lineStart) {
    for (std::size_t from = lineStart; from < bytes.size();) {
        const void* at = std::memchr(bytes.data() + from, '[', bytes.size() - from);
        if (at == nullptr) {
            break;
        }
        const auto bracket = static_cast<std::size_t>(static_cast<const char*>(at) - bytes.data());
        std::size_t start = bracket;
        while (start > lineStart && IsSettingsBlank(bytes[start - 1])) {
            --start;
        }
        if (start == lineStart || bytes[start - 1] == '\n' || bytes[start - 1] == '\r') {
            return start;
        }
        from = bracket + 1;
    }
    return bytes.size();
}

// One pass over the lines, ending as soon as the key is found or the first
// section of that name is over: later sections of the same name are not
// consulted, as on Windows. Outside that section only lines that start with
// '[' are looked at, so a large file costs little more than a search for
// that byte.
KeyLocation LocateKey(std::string_view bytes, std::string_view section, std::string_view key) {
    KeyLocation location;
    bool inSection = false;
    LineSplitter lines(bytes);
    for (std::size_t begin = FirstLineStart(bytes); begin < bytes.size();) {
        if (!inSection) {
            begin = NextBracketLine(bytes, begin);
            if (begin == bytes.size()) {
                break;
            }
        }
        const Line line = lines.At(begin);
        begin = line.next;
        std::size_t first = line.begin;
        while (first < line.breakBegin && IsSettingsBlank(bytes[first])) {
            ++first;
        }
        if (first == line.breakBegin || bytes[first] == '\0' || (!inSection && bytes[first] != '[')) {
            continue;
        }
        const std::string_view text = TrimBlanks(UpToNul(bytes.substr(first, line.breakBegin - first)));
        if (const auto name = SectionName(text)) {
            if (inSection) {
                break;
            }
            inSection = EqualIgnoringCase(*name, section);
            if (inSection) {
                location.sectionFound = true;
                location.sectionEnd = line.next;
                location.sectionEndHasBreak = line.hasBreak;
            }
            continue;
        }
        if (!inSection) {
            continue;
        }
        location.sectionEnd = line.next;
        location.sectionEndHasBreak = line.hasBreak;
        // Comments never hold keys. A line without '=' is a key without a
        // value: Windows reads it as missing, and it hides a later line of
        // the same name.
        const std::size_t equals = text.find('=');
        const std::string_view name = TrimBlanks(text.substr(0, equals));
        if (text.front() == ';' || !EqualIgnoringCase(name, key)) {
            continue;
        }
        location.keyFound = true;
        location.lineBreakBegin = line.breakBegin;
        if (equals == std::string_view::npos) {
            location.keyWithoutEquals = true;
            location.valueBegin = OffsetIn(bytes, name) + name.size();
            location.valueEnd = location.valueBegin;
            break;
        }
        const std::string_view value = TrimBlanks(text.substr(equals + 1));
        location.valueBegin = value.empty() ? OffsetIn(bytes, text) + equals + 1 : OffsetIn(bytes, value);
        location.valueEnd = location.valueBegin + value.size();
        break;
    }
    return location;
}

bool EndsWithLineBreak(std::string_view bytes) {
    return bytes.size() <= FirstLineStart(bytes) || bytes.back() == '\n' || bytes.back() == '\r';
}

// How the file's bytes change when the key is set: only the key's value
// changes, or one line is inserted at the end of its section, or a section
// is appended. Every other line keeps its bytes and its own line break.
Edit KeySetEdit(std::string_view bytes, std::string_view section, std::string_view key, std::string_view value) {
    const KeyLocation location = LocateKey(bytes, section, key);
    Edit edit;
    if (location.keyFound) {
        edit.keepUntil = location.valueBegin;
        if (location.keyWithoutEquals) {
            edit.inserted = "=";
        }
        edit.inserted.append(value);
        edit.resumeFrom = location.lineBreakBegin;
        return edit;
    }
    if (location.sectionFound) {
        edit.keepUntil = location.sectionEnd;
        if (!location.sectionEndHasBreak) {
            edit.inserted.append(kLineBreak);
        }
    } else {
        edit.keepUntil = bytes.size();
        if (!EndsWithLineBreak(bytes)) {
            edit.inserted.append(kLineBreak);
        }
        edit.inserted.append("[").append(section).append("]").append(kLineBreak);
    }
    edit.inserted.append(key).append("=").append(value).append(kLineBreak);
    edit.resumeFrom = edit.keepUntil;
    return edit;
}

// The value with one pair of enclosing quotes removed. As on Windows, single
// quotes count too, and a lone quote is kept.
std::string_view Unquoted(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

}  // namespace

bool IsWritableSettingsEntry(std::string_view section, std::string_view key, std::string_view value) {
    return IsTrimmedName(section) && section.find(']') == std::string_view::npos && IsTrimmedName(key) &&
           key.find('=') == std::string_view::npos && key.front() != ';' && key.front() != '[' &&
           !HoldsLineBreakOrNul(value);
}

std::optional<std::string> SettingsTextWithEntries(std::string_view bytes, std::span<const SettingsEntry> entries) {
    std::string edited(bytes);
    for (const SettingsEntry& entry : entries) {
        const Edit edit = KeySetEdit(edited, entry.section, entry.key, entry.value);
        if (edit.keepUntil + edit.inserted.size() + (edited.size() - edit.resumeFrom) > kMaximumSettingsFileSize) {
            return std::nullopt;
        }
        edited.replace(edit.keepUntil, edit.resumeFrom - edit.keepUntil, edit.inserted);
    }
    return edited;
}

std::vector<std::string> SettingsTextValues(std::string_view bytes, std::span<const SettingsKey> keys,
                                            std::size_t maximumLength) {
    std::vector<std::string> values;
    values.reserve(keys.size());
    for (const SettingsKey& wanted : keys) {
        const KeyLocation location = LocateKey(bytes, wanted.section, wanted.key);
        if (!location.keyFound) {
            values.emplace_back();
            continue;
        }
        const std::string_view value =
            Unquoted(bytes.substr(location.valueBegin, location.valueEnd - location.valueBegin));
        values.emplace_back(value.substr(0, maximumLength < value.size() ? maximumLength + 1 : value.size()));
    }
    return values;
}

}  // namespace ft232h
