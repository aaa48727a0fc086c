// The settings-file service: "initialization file" sections and key=value
// lines, read and written as Windows' profile API does on what a user can
// meet, so one settings file works on every system. Every other byte of a
// file is kept, and a file is changed in one step that a crash cannot leave
// half done.
//
// The layers, from the top:
//   settings_service   this entrance: reads a file whole and puts a new
//                      content in place of the old (replacement or rewrite)
//   settings_text      the text rules: where a key is, what it reads as,
//                      how the bytes change when it is set
//   settings_encoding  UTF-16 files, as Windows reads and writes them: their
//                      text in UTF-8 for the text rules, values in the code
//                      page (code_page.hpp, one file per platform)
//   settings_service_calls
//                      the platform's file calls (one file per platform),
//                      passed in so that a test can record and fail them
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "eeprom/settings_service_calls.hpp"
#include "eeprom/settings_text.hpp"

namespace ft232h {

// Paths are full paths: given a bare file name, the Windows API would look in
// the Windows directory rather than the current one.

enum class SettingsWrite {
    kWritten,
    // An entry cannot be written (IsWritableSettingsEntry), or the file is
    // UTF-16 and an entry is no text in the code page; the file was not
    // touched.
    kRefused,
    // The file could not be written: it is read-only, is no regular file,
    // holds an odd number of bytes after a UTF-16 mark, or would grow past
    // the size cap, a link there leads nowhere, or the disk or the system
    // refused a step. A replaced file holds its old content or, only when
    // the very last step (making the new name durable) failed, the new one;
    // never a mixture. A file rewritten in place gets its old bytes back as
    // far as the disk lets them be written.
    kFileFailed,
};

// Sets each entry in turn in the file at `path`, creating the file and a
// section as needed: a key's value changes in place, a new key goes after the
// last non-blank line of its section, a new section at the end of the file,
// and every other byte of the file stays as it was (a UTF-16 file stays
// UTF-16 in its byte order, every character kept). Every entry is checked
// before the file is touched, so the file gets all of them or none.
//
// The new content replaces the file in one step: written to a new file
// beside it and made durable, renamed over it, and the rename made durable,
// all before kWritten is returned. A crash at any point leaves the old file
// or the new one, whole. The file keeps its owner, group and permissions; a
// file without write permission for anyone is read-only, even for root.
// Where a replacement would lose what the file is (its other hard links, or
// an owner the system does not let us give a new file), or cannot be made
// because the file's directory refuses us a new name while the file itself
// may be written, the file is rewritten in place instead and made durable:
// then a crash part-way can leave it partly old and partly new. A file that
// does not exist in such a directory is not written. A symbolic link at
// `path` stays, and the file it leads to gets the change.
SettingsWrite WriteSettings(const std::string& path, std::span<const SettingsEntry> entries,
                            const SettingsFileCalls& calls = SystemSettingsFileCalls());

// A value as read.
struct SettingsValue {
    std::string text;
    // False when the file is UTF-16 and the value holds a character the code
    // page lacks: `text` shows it as '?', for the user, and is not the value.
    bool exact = true;
};

enum class SettingsFileRead { kRead, kMissing, kUnreadable };

struct SettingsRead {
    // kUnreadable also for a file that is no settings file (a directory,
    // larger than the size cap, an odd number of bytes after a UTF-16 mark):
    // a caller that took it for one without keys would act on values nobody
    // wrote.
    SettingsFileRead file = SettingsFileRead::kUnreadable;
    // When read, the value of each of the keys, in their order, as
    // SettingsTextValues gives it, all from one reading of the file.
    std::vector<SettingsValue> values;
};

SettingsRead ReadSettings(const std::string& path, std::span<const SettingsKey> keys, std::size_t maximumLength,
                          const SettingsFileCalls& calls = SystemSettingsFileCalls());

}  // namespace ft232h
