// Implementation here must not depend on any platform: the settings-file
// service over the file-system calls of settings_service_calls.hpp.
//
// A write rereads the file, checks every entry, and puts the new content in
// place of the old in one step: a new file beside it is written and made
// durable first, then renamed over the old one, then the directory is made
// durable. At no point can a crash leave a name that points at data not yet
// on the disk. A file whose other hard links, or whose owner, a new file
// cannot keep is rewritten in place instead, and so is one that its user may
// write in a directory they may not.
#include "eeprom/settings_service.hpp"

#include <algorithm>
#include <utility>

#include "eeprom/settings_encoding.hpp"
#include "eeprom/settings_service_calls.hpp"
#include "eeprom/settings_text.hpp"

namespace ft232h {

namespace {

// The bytes of an open file, or nullopt when it is no settings file (not a
// regular file, or larger than the cap) or cannot be read.
std::optional<std::string> ReadOpenFile(const SettingsFileCalls& calls, FileHandle file, const FileFacts& facts) {
    if (!facts.regular || facts.size > kMaximumSettingsFileSize) {
        return std::nullopt;
    }
    // One byte more than the size so that the end of the file is seen at
    // once; the file may still grow while it is read, hence the loop, bounded
    // by the cap whatever the size said.
    std::string bytes(static_cast<std::size_t>(facts.size) + 1, '\0');
    std::size_t used = 0;
    for (;;) {
        if (used == bytes.size()) {
            if (bytes.size() > kMaximumSettingsFileSize) {
                return std::nullopt;
            }
            bytes.resize(std::min(bytes.size() * 2, kMaximumSettingsFileSize + 1));
        }
        const std::ptrdiff_t count = calls.readAt(file, used, bytes.data() + used, bytes.size() - used);
        if (count < 0) {
            return std::nullopt;
        }
        if (count == 0) {
            bytes.resize(used);
            return bytes;
        }
        used += static_cast<std::size_t>(count);
    }
}

bool WriteAll(const SettingsFileCalls& calls, FileHandle file, std::uint64_t offset, std::string_view bytes) {
    while (!bytes.empty()) {
        const std::ptrdiff_t count = calls.writeAt(file, offset, bytes.data(), bytes.size());
        // No progress on a regular file means no room left.
        if (count <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(count));
        offset += static_cast<std::uint64_t>(count);
    }
    return true;
}

// The file as it is before the write: open for writing, or missing.
struct Original {
    std::optional<FileHandle> file;
    FileFacts facts;
    std::string bytes;
    SettingsEncoding encoding = SettingsEncoding::kSingleByte;
    // A UTF-16 file's text in UTF-8.
    std::string utf16Text;

    // What the text rules edit: the bytes themselves, or the UTF-16 text.
    [[nodiscard]] std::string_view Text() const {
        return encoding == SettingsEncoding::kSingleByte ? std::string_view(bytes) : std::string_view(utf16Text);
    }
};

// Closes the original file, when open, on a path that has failed already.
void Release(const SettingsFileCalls& calls, Original& original) {
    if (original.file) {
        static_cast<void>(calls.close(*std::exchange(original.file, std::nullopt)));
    }
}

// Writes `edited` over the open file's `old` bytes, from the first byte that
// differs, and makes it durable; the file keeps every name, its owner and
// everything else it is. On a failure the old bytes are put back as far as
// the disk lets us: a full disk then leaves the file as it was.
bool RewriteInPlace(const SettingsFileCalls& calls, FileHandle file, std::string_view old, std::string_view edited) {
    const auto first = static_cast<std::size_t>(
        std::mismatch(old.begin(), old.end(), edited.begin(), edited.end()).first - old.begin());
    bool good = WriteAll(calls, file, first, edited.substr(first));
    good = good && (edited.size() >= old.size() || calls.resize(file, edited.size()));
    good = good && calls.flush(file);
    if (!good) {
        static_cast<void>(WriteAll(calls, file, first, old.substr(first)) && calls.resize(file, old.size()) &&
                          calls.flush(file));
    }
    return calls.close(file) && good;
}

// Puts `edited` in place of the file at `target` in one rename, the order
// being what makes it safe: the new file's data is on the disk before any
// name points at it, and the rename is on the disk before success is
// reported. Until the rename the old file is untouched, and any failure up
// to there removes the new file again. Falls back to rewriting in place when
// the new file cannot be given the old one's owner, or cannot be made at all
// because the directory is not ours to write: a shared tool folder that an
// administrator owns, holding a settings file each user may write, which
// Windows' own profile API writes in place too.
bool Replace(const SettingsFileCalls& calls, const std::string& target, Original& original, std::string_view edited) {
    std::string temporary;
    FileHandle created = 0;
    const FileCreated made = calls.createBeside(target, temporary, created);
    if (made == FileCreated::kNotPermitted && original.file) {
        return RewriteInPlace(calls, *std::exchange(original.file, std::nullopt), original.bytes, edited);
    }
    if (made != FileCreated::kCreated) {
        Release(calls, original);
        return false;
    }
    if (original.file) {
        const IdentityKept identity = calls.keepIdentity(created, *original.file);
        // Windows cannot replace a file that is still open.
        const bool closed = identity == IdentityKept::kKept && calls.close(*std::exchange(original.file, std::nullopt));
        if (!closed) {
            static_cast<void>(calls.close(created));
            static_cast<void>(calls.remove(temporary));
            if (identity == IdentityKept::kNotPermitted) {
                return RewriteInPlace(calls, *std::exchange(original.file, std::nullopt), original.bytes, edited);
            }
            Release(calls, original);
            return false;
        }
    }
    bool good = WriteAll(calls, created, 0, edited) && calls.flush(created);
    good = calls.close(created) && good;
    good = good && calls.replace(temporary, target);
    if (!good) {
        static_cast<void>(calls.remove(temporary));
        return false;
    }
    // The new content is under the name now; whether it stays there after a
    // power cut is what the user's next step depends on.
    return calls.syncName(target);
}

// Opens and reads the file a write changes. nullopt when it cannot be
// written: no settings file, read-only, unreadable, or no whole UTF-16.
std::optional<Original> OpenOriginal(const SettingsFileCalls& calls, const std::string& target) {
    Original original;
    FileHandle file = 0;
    const FileOpened opened = calls.open(target, FileAccess::kReadWrite, file);
    if (opened == FileOpened::kMissing) {
        return original;
    }
    if (opened == FileOpened::kFailed) {
        return std::nullopt;
    }
    std::optional<std::string> bytes;
    // A read-only settings file stays as it is, as on Windows, even for root,
    // whom the system would let replace it.
    if (calls.describe(file, original.facts) && !original.facts.readOnly) {
        bytes = ReadOpenFile(calls, file, original.facts);
    }
    if (bytes) {
        original.encoding = EncodingOf(*bytes);
        if (original.encoding != SettingsEncoding::kSingleByte) {
            std::optional<std::string> text = TextOfUtf16File(*bytes, original.encoding);
            if (text) {
                original.utf16Text = std::move(*text);
            } else {
                bytes.reset();
            }
        }
    }
    if (!bytes) {
        static_cast<void>(calls.close(file));
        return std::nullopt;
    }
    original.file = file;
    original.bytes = std::move(*bytes);
    return original;
}

// The entries as the file's text holds them: as they are in a single-byte
// file; in a UTF-16 file, each converted from the code page, into `storage`.
// nullopt when one of them is no text in the code page.
std::optional<std::vector<SettingsEntry>> EntriesForText(SettingsEncoding encoding,
                                                         std::span<const SettingsEntry> entries,
                                                         std::vector<std::string>& storage) {
    if (encoding == SettingsEncoding::kSingleByte) {
        return std::vector<SettingsEntry>(entries.begin(), entries.end());
    }
    storage.clear();
    storage.reserve(entries.size() * 3);
    for (const SettingsEntry& entry : entries) {
        for (const std::string_view part : {entry.section, entry.key, entry.value}) {
            std::optional<std::string> text = TextFromCodePage(part);
            if (!text) {
                return std::nullopt;
            }
            storage.push_back(std::move(*text));
        }
    }
    std::vector<SettingsEntry> converted;
    for (std::size_t i = 0; i < storage.size(); i += 3) {
        converted.push_back({storage[i], storage[i + 1], storage[i + 2]});
    }
    return converted;
}

// The file's new bytes, in its own encoding; nullopt past the size cap.
std::optional<std::string> EditedFile(const Original& original, std::span<const SettingsEntry> entries) {
    std::optional<std::string> edited = SettingsTextWithEntries(original.Text(), entries);
    if (edited && original.encoding != SettingsEncoding::kSingleByte) {
        edited = Utf16FileOf(*edited, original.encoding);
    }
    if (edited && edited->size() > kMaximumSettingsFileSize) {
        return std::nullopt;
    }
    return edited;
}

}  // namespace

SettingsWrite WriteSettings(const std::string& path, std::span<const SettingsEntry> entries,
                            const SettingsFileCalls& calls) {
    // Every entry before the file: all of them go in, or none.
    for (const SettingsEntry& entry : entries) {
        if (!IsWritableSettingsEntry(entry.section, entry.key, entry.value)) {
            return SettingsWrite::kRefused;
        }
    }
    std::string target;
    if (!calls.resolve(path, target)) {
        return SettingsWrite::kFileFailed;
    }
    std::optional<Original> original = OpenOriginal(calls, target);
    if (!original) {
        return SettingsWrite::kFileFailed;
    }
    std::vector<std::string> storage;
    const std::optional<std::vector<SettingsEntry>> textEntries = EntriesForText(original->encoding, entries, storage);
    if (!textEntries) {
        Release(calls, *original);
        return SettingsWrite::kRefused;
    }
    const std::optional<std::string> edited = EditedFile(*original, *textEntries);
    bool written = false;
    if (!edited) {
        Release(calls, *original);
    } else if (original->file && original->facts.links > 1) {
        // Renaming over one name would part it from the others, which would
        // keep the old content.
        written = RewriteInPlace(calls, *original->file, original->bytes, *edited);
    } else {
        written = Replace(calls, target, *original, *edited);
    }
    return written ? SettingsWrite::kWritten : SettingsWrite::kFileFailed;
}

SettingsRead ReadSettings(const std::string& path, std::span<const SettingsKey> keys, std::size_t maximumLength,
                          const SettingsFileCalls& calls) {
    SettingsRead read;
    FileHandle file = 0;
    const FileOpened opened = calls.open(path, FileAccess::kRead, file);
    if (opened != FileOpened::kOpened) {
        read.file = opened == FileOpened::kMissing ? SettingsFileRead::kMissing : SettingsFileRead::kUnreadable;
        return read;
    }
    FileFacts facts;
    std::optional<std::string> bytes;
    if (calls.describe(file, facts)) {
        bytes = ReadOpenFile(calls, file, facts);
    }
    if (!calls.close(file) || !bytes) {
        return read;
    }
    const SettingsEncoding encoding = EncodingOf(*bytes);
    if (encoding == SettingsEncoding::kSingleByte) {
        for (std::string& text : SettingsTextValues(*bytes, keys, maximumLength)) {
            read.values.push_back({std::move(text)});
        }
        read.file = SettingsFileRead::kRead;
        return read;
    }
    const std::optional<std::string> text = TextOfUtf16File(*bytes, encoding);
    if (!text) {
        return read;
    }
    for (const SettingsKey& wanted : keys) {
        // The names cross into the text as a write's names do, or a key the
        // service wrote would not be found; a name that is no text in the
        // code page names nothing there.
        const std::optional<std::string> section = TextFromCodePage(wanted.section);
        const std::optional<std::string> key = TextFromCodePage(wanted.key);
        std::string value;
        if (section && key) {
            const SettingsKey inText{*section, *key};
            // Cut only once in the code page, where the bound counts.
            value = std::move(SettingsTextValues(*text, std::span(&inText, 1), kMaximumSettingsFileSize).front());
        }
        std::optional<std::string> converted = CodePageFromText(value);
        SettingsValue shown{converted ? std::move(*converted) : ShownInCodePage(value), converted.has_value()};
        if (shown.text.size() > maximumLength) {
            shown.text.resize(maximumLength + 1);
        }
        read.values.push_back(std::move(shown));
    }
    read.file = SettingsFileRead::kRead;
    return read;
}

}  // namespace ft232h
