// Implementation here must contain only POSIX specific code.
//
// The settings-file service off Windows. It reads the way
// GetPrivateProfileStringA does and writes the way WritePrivateProfileStringA
// does on the files people meet, so a settings file moves between Windows and
// other systems unchanged: names match without regard to ASCII case, blanks
// around names and values do not count, one pair of enclosing quotes is
// removed, the first of duplicated sections and keys counts, CR LF, LF and a
// lone CR all end a line, a NUL ends a line's text, and new lines are
// written with CR LF. Unlike the Windows API, it never rewrites a line it
// does not have to change: every other byte of the file, line ends
// included, stays as it was.
//
// Each write rereads the file and replaces it whole through a temporary file
// and a rename, so a failure at any point leaves either the old file or the
// new one, never a mixture or a short file. A settings file that is a
// symbolic link is written through, as on Windows: the file it leads to is
// replaced in its own directory and the link stays.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "eeprom/profile_file.hpp"
#include "eeprom/profile_file_posix_internal.hpp"

namespace ft232h {

namespace {

int SystemOpen(const char* path, int flags, mode_t mode) {
    return ::open(path, flags, mode);  // NOLINT(cppcoreguidelines-pro-type-vararg): open is variadic
}

constexpr ProfileFileCalls kSystemCalls{
    SystemOpen, ::read, ::write, ::fstat, ::lstat, ::realpath, ::access, ::fchmod, ::fsync, ::close, ::rename, ::unlink,
};

constexpr std::string_view kLineBreak = "\r\n";
constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";
// Mode of a file we create; the umask applies on top, as for any new file.
constexpr mode_t kNewFileMode = 0644;
// A fresh name is tried this many times before giving up: a clash needs
// another process writing the same file at the same nanosecond.
constexpr int kTemporaryNameAttempts = 16;

// ---------------------------------------------------------------------------
// Reading and writing whole files.

enum class FileState { kRead, kMissing, kFailed };

// A whole file in memory.
struct FileContent {
    FileState state = FileState::kFailed;
    std::string bytes;
    mode_t mode = 0;
};

bool ReadOpenFile(const ProfileFileCalls& calls, int fd, FileContent& file) {
    struct stat status {};
    // Anything but a regular file (a directory, a pipe, a device) is not a
    // settings file, and reading a pipe could wait forever.
    if (calls.fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size < 0 ||
        static_cast<std::uintmax_t>(status.st_size) > kMaximumProfileFileSize) {
        return false;
    }
    file.mode = status.st_mode & 0777;
    // One byte more than the size so that the end of the file is seen at
    // once; the file may still grow while it is read, hence the loop, bounded
    // by the cap whatever the size said.
    std::string& bytes = file.bytes;
    bytes.resize(static_cast<std::size_t>(status.st_size) + 1);
    std::size_t used = 0;
    for (;;) {
        if (used == bytes.size()) {
            if (bytes.size() > kMaximumProfileFileSize) {
                return false;
            }
            bytes.resize(std::min(bytes.size() * 2, kMaximumProfileFileSize + 1));
        }
        const ssize_t count = calls.read(fd, bytes.data() + used, bytes.size() - used);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (count == 0) {
            bytes.resize(used);
            return true;
        }
        used += static_cast<std::size_t>(count);
    }
}

FileContent ReadWholeFile(const ProfileFileCalls& calls, const std::string& path) {
    FileContent file;
    const int fd = calls.open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0);
    if (fd < 0) {
        if (errno == ENOENT) {
            file.state = FileState::kMissing;
        }
        return file;
    }
    const bool read = ReadOpenFile(calls, fd, file);
    const bool closed = calls.close(fd) == 0;
    if (read && closed) {
        file.state = FileState::kRead;
    } else {
        file.bytes.clear();
    }
    return file;
}

bool WriteAll(const ProfileFileCalls& calls, int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t count = calls.write(fd, bytes.data(), bytes.size());
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        // No progress on a regular file means no room left.
        if (count == 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(count));
    }
    return true;
}

// A name beside `path` that no other writer picks at the same time: the
// process id and the clock, mixed, with the attempt number for a retry.
std::string TemporaryName(const std::string& path, int attempt) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    std::uint64_t mixed =
        (static_cast<std::uint64_t>(getpid()) << 32) ^ static_cast<std::uint64_t>(now.tv_sec) * 1000000007u ^
        static_cast<std::uint64_t>(now.tv_nsec) ^ static_cast<std::uint64_t>(attempt) * 0x9E3779B97F4A7C15u;
    // splitmix64's finaliser spreads every input bit over the whole name.
    mixed = (mixed ^ (mixed >> 30)) * 0xBF58476D1CE4E5B9u;
    mixed = (mixed ^ (mixed >> 27)) * 0x94D049BB133111EBu;
    mixed ^= mixed >> 31;
    constexpr std::string_view kDigits = "0123456789abcdef";
    std::string name = path;
    name += '.';
    for (int shift = 60; shift >= 0; shift -= 4) {
        name += kDigits[(mixed >> shift) & 0xF];
    }
    name += ".tmp";
    return name;
}

// The new content of a file: its old bytes up to `keepUntil`, then
// `inserted`, then its old bytes from `resumeFrom` on.
struct Edit {
    std::size_t keepUntil = 0;
    std::string inserted;
    std::size_t resumeFrom = 0;
};

// Puts the edited bytes in place of the file at `path` in one rename. The
// old file, if any, is untouched until the rename, and on any failure the
// temporary file is removed again. The pieces are written straight from the
// old content, so a large file is not copied once more in memory.
bool ReplaceFile(const ProfileFileCalls& calls, const std::string& path, const FileContent& old, const Edit& edit) {
    const bool existed = old.state == FileState::kRead;
    const mode_t mode = existed ? old.mode : kNewFileMode;
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < kTemporaryNameAttempts && fd < 0; ++attempt) {
        temporary = TemporaryName(path, attempt);
        fd = calls.open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, mode);
        if (fd < 0 && errno != EEXIST) {
            return false;
        }
    }
    if (fd < 0) {
        return false;
    }
    const std::string_view bytes = old.bytes;
    // The umask narrowed the mode at creation; an existing file's own mode
    // is what it keeps.
    bool good = !existed || calls.fchmod(fd, mode) == 0;
    good = good && WriteAll(calls, fd, bytes.substr(0, edit.keepUntil));
    good = good && WriteAll(calls, fd, edit.inserted);
    good = good && WriteAll(calls, fd, bytes.substr(edit.resumeFrom));
    good = calls.close(fd) == 0 && good;
    good = good && calls.rename(temporary.c_str(), path.c_str()) == 0;
    if (!good) {
        calls.unlink(temporary.c_str());
    }
    return good;
}

// The file a write replaces: `path` itself, or the file a symbolic link
// there leads to, through any chain of links, relative ones taken from the
// directory of the link that holds them. Renaming over the link would turn
// it into a file of its own and leave the file it named stale. nullopt when
// the link leads nowhere or in a circle: a new file in the link's place is
// not what its owner set up, so nothing is written.
std::optional<std::string> FileToReplace(const ProfileFileCalls& calls, const std::string& path) {
    struct stat status {};
    if (calls.lstat(path.c_str(), &status) != 0) {
        return errno == ENOENT ? std::optional<std::string>(path) : std::nullopt;
    }
    if (!S_ISLNK(status.st_mode)) {
        return path;
    }
    char* const resolved = calls.realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        return std::nullopt;
    }
    std::string target(resolved);
    std::free(resolved);  // NOLINT(cppcoreguidelines-no-malloc): realpath's own buffer
    return target;
}

// ---------------------------------------------------------------------------
// The text of a settings file.

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && IsProfileBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsProfileBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// A NUL ends the text that counts, as it ends a C string on Windows; the
// line itself still goes on to its break.
std::string_view UpToNul(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

char FoldCase(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldCase(a[i]) != FoldCase(b[i])) {
            return false;
        }
    }
    return true;
}

// A file that starts with a UTF-16 byte order mark holds two bytes per
// character; Windows reads such a file as Unicode, while single-byte parsing
// would find none of its keys, and an appended line would corrupt it.
bool IsUtf16(std::string_view bytes) {
    return bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF");
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
        while (start > lineStart && IsProfileBlank(bytes[start - 1])) {
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
        while (first < line.breakBegin && IsProfileBlank(bytes[first])) {
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

std::string DirectoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool SyncPath(const ProfileFileCalls& calls, const std::string& path, int flags) {
    const int fd = calls.open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | flags, 0);
    if (fd < 0) {
        return false;
    }
    const bool synced = calls.fsync(fd) == 0;
    return calls.close(fd) == 0 && synced;
}

}  // namespace

const ProfileFileCalls& SystemProfileFileCalls() {
    return kSystemCalls;
}

bool WriteProfileStrings(const ProfileFileCalls& calls, const std::string& path,
                         std::span<const ProfileEntry> entries) {
    if (entries.empty()) {
        return true;
    }
    const std::optional<std::string> target = FileToReplace(calls, path);
    if (!target) {
        return false;
    }
    const FileContent old = ReadWholeFile(calls, *target);
    if (old.state == FileState::kFailed || IsUtf16(old.bytes)) {
        return false;
    }
    // A read-only settings file stays as it is, as on Windows; the rename
    // alone would otherwise replace it.
    if (old.state == FileState::kRead && calls.access(target->c_str(), W_OK) != 0) {
        return false;
    }
    bool all = true;
    bool changed = false;
    std::string bytes = old.bytes;
    for (const ProfileEntry& entry : entries) {
        if (!IsWritableProfileEntry(entry.section, entry.key, entry.value)) {
            all = false;
            continue;
        }
        const Edit edit = KeySetEdit(bytes, entry.section, entry.key, entry.value);
        if (edit.keepUntil + edit.inserted.size() + (bytes.size() - edit.resumeFrom) > kMaximumProfileFileSize) {
            all = false;
            continue;
        }
        bytes.replace(edit.keepUntil, edit.resumeFrom - edit.keepUntil, edit.inserted);
        changed = true;
    }
    if (!changed) {
        return false;
    }
    const Edit whole{0, std::move(bytes), old.bytes.size()};
    return ReplaceFile(calls, *target, old, whole) && all;
}

bool WriteProfileString(const ProfileFileCalls& calls, const std::string& path, std::string_view section,
                        std::string_view key, std::string_view value) {
    const ProfileEntry entry{section, key, value};
    return WriteProfileStrings(calls, path, std::span<const ProfileEntry>(&entry, 1));
}

bool FlushProfile(const ProfileFileCalls& calls, const std::string& path) {
    // The data of the file, then the directory entry the rename made: the
    // directory of the file a link leads to, where the rename was.
    const std::optional<std::string> target = FileToReplace(calls, path);
    if (!target) {
        return false;
    }
    const bool file = SyncPath(calls, *target, O_NONBLOCK);
    const bool directory = SyncPath(calls, DirectoryOf(*target), O_DIRECTORY);
    return file && directory;
}

std::optional<std::vector<std::string>> ReadProfileStrings(const ProfileFileCalls& calls, const std::string& path,
                                                           std::span<const ProfileKey> keys,
                                                           std::size_t maximumLength) {
    const FileContent file = ReadWholeFile(calls, path);
    if (file.state != FileState::kRead || IsUtf16(file.bytes)) {
        return std::nullopt;
    }
    std::vector<std::string> values;
    values.reserve(keys.size());
    for (const ProfileKey& wanted : keys) {
        const KeyLocation location = LocateKey(file.bytes, wanted.section, wanted.key);
        if (!location.keyFound) {
            values.emplace_back();
            continue;
        }
        const std::string_view written =
            std::string_view(file.bytes).substr(location.valueBegin, location.valueEnd - location.valueBegin);
        const std::string_view value = Unquoted(written);
        values.emplace_back(value.substr(0, maximumLength < value.size() ? maximumLength + 1 : value.size()));
    }
    return values;
}

std::optional<std::string> ReadProfileString(const ProfileFileCalls& calls, const std::string& path,
                                             std::string_view section, std::string_view key,
                                             std::size_t maximumLength) {
    const ProfileKey wanted{section, key};
    auto values = ReadProfileStrings(calls, path, std::span<const ProfileKey>(&wanted, 1), maximumLength);
    // The value is moved out of the list, which no copy elision could do.
    return values ? std::optional<std::string>(std::move(values->front())) : std::nullopt;
}

bool WriteProfileStrings(const std::string& path, std::span<const ProfileEntry> entries) {
    return WriteProfileStrings(kSystemCalls, path, entries);
}

bool FlushProfile(const std::string& path) {
    return FlushProfile(kSystemCalls, path);
}

std::optional<std::vector<std::string>> ReadProfileStrings(const std::string& path, std::span<const ProfileKey> keys,
                                                           std::size_t maximumLength) {
    return ReadProfileStrings(kSystemCalls, path, keys, maximumLength);
}

bool FileExists(const std::string& path) {
    return ::access(path.c_str(), F_OK) == 0;
}

}  // namespace ft232h
