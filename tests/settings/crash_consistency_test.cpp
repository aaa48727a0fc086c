// The judge of the settings-file service's safety: every file-system call a
// write makes is recorded, and a power cut is replayed after every prefix of
// them on a model of what a disk keeps. Each must leave the old file or the
// new one, whole, under its name; once the write has reported success, only
// the new one.
//
// What the model keeps after a power cut, as a journaling file system
// without ext4's rename heuristics does (XFS, or ext4 mounted with
// noauto_da_alloc):
// - a file's data as it was last synced (a file never synced may come back
//   empty), or what it holds now, as the disk may have written it anyway;
// - a directory's names as they were last synced, with any number of the
//   changes made to them since (creations, renames, removals), in their
//   order: each may or may not have reached the disk.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "eeprom/profile_file.hpp"
#include "eeprom/profile_file_calls.hpp"
#include "tests/settings/recorded_calls.hpp"
#include "tests/settings/temporary_directory.hpp"

namespace ft232h {
namespace {

using testing::CallKind;
using testing::ReadBytes;
using testing::RecordedCall;
using testing::RecordedCalls;
using testing::Rescript;
using testing::script;
using testing::TemporaryDirectory;
using testing::WriteBytes;

using Content = std::optional<std::string>;  // nullopt: no file under the name

std::string DirectoryOf(const std::string& path) {
    return std::filesystem::path(path).parent_path().string();
}

class Disk {
public:
    // A file that was on the disk, synced, before the write.
    void Holds(const std::string& name, const std::string& bytes) {
        durableNames_[name] = files_.size();
        files_.push_back({bytes, bytes});
    }

    void Apply(const RecordedCall& call) {
        if (call.failed) {
            return;
        }
        switch (call.kind) {
            case CallKind::kOpen:
                if (call.file >= 0) {
                    open_[call.file] = NamesWith(pending_.size()).at(call.path);
                }
                break;
            case CallKind::kCreateBeside:
                open_[call.file] = files_.size();
                files_.emplace_back();
                pending_.push_back({call.path, "", open_[call.file]});
                break;
            case CallKind::kWriteAt: {
                std::string& bytes = files_.at(open_.at(call.file)).now;
                bytes.resize(std::max(bytes.size(), call.offset + call.bytes.size()));
                bytes.replace(call.offset, call.bytes.size(), call.bytes);
                break;
            }
            case CallKind::kResize:
                files_.at(open_.at(call.file)).now.resize(call.offset);
                break;
            case CallKind::kFlush: {
                File& file = files_.at(open_.at(call.file));
                file.synced = file.now;
                break;
            }
            case CallKind::kClose:
                open_.erase(call.file);
                break;
            case CallKind::kReplace:
                pending_.push_back({call.otherPath, call.path, 0});
                break;
            case CallKind::kRemove:
                pending_.push_back({call.path, "", kRemoved});
                break;
            case CallKind::kSyncName: {
                // The changes in that directory are on the disk now.
                std::vector<NameChange> left;
                for (const NameChange& change : pending_) {
                    if (DirectoryOf(change.name) == DirectoryOf(call.path)) {
                        Change(durableNames_, change);
                    } else {
                        left.push_back(change);
                    }
                }
                pending_ = left;
                break;
            }
            default:
                break;
        }
    }

    // What `name` may hold after a power cut now. With `unsyncedNamesMayLand`
    // false, only synced names count: a model too kind to see some faults.
    std::set<Content> AfterPowerCut(const std::string& name, bool unsyncedNamesMayLand = true) const {
        std::set<Content> contents;
        for (std::size_t landed = 0; landed <= (unsyncedNamesMayLand ? pending_.size() : 0); ++landed) {
            const std::map<std::string, std::size_t> names = NamesWith(landed);
            const auto found = names.find(name);
            if (found == names.end()) {
                contents.insert(std::nullopt);
            } else {
                contents.insert(files_.at(found->second).synced);
                contents.insert(files_.at(found->second).now);
            }
        }
        return contents;
    }

private:
    static constexpr std::size_t kRemoved = static_cast<std::size_t>(-1);

    struct File {
        std::string synced;
        std::string now;
    };

    // `name` comes to stand for a file (the one renamed from `from`, when
    // given), or goes (kRemoved).
    struct NameChange {
        std::string name;
        std::string from;
        std::size_t file;
    };

    static void Change(std::map<std::string, std::size_t>& names, const NameChange& change) {
        if (!change.from.empty()) {
            const auto from = names.find(change.from);
            if (from != names.end()) {
                names[change.name] = from->second;
                names.erase(from);
            }
        } else if (change.file == kRemoved) {
            names.erase(change.name);
        } else {
            names[change.name] = change.file;
        }
    }

    std::map<std::string, std::size_t> NamesWith(std::size_t landed) const {
        std::map<std::string, std::size_t> names = durableNames_;
        for (std::size_t i = 0; i < landed; ++i) {
            Change(names, pending_[i]);
        }
        return names;
    }

    std::vector<File> files_;
    std::map<std::string, std::size_t> durableNames_;
    std::vector<NameChange> pending_;
    std::map<FileHandle, std::size_t> open_;
};

std::string Shown(const Content& content) {
    return content ? "\"" + content->substr(0, 60) + "\"... (" + std::to_string(content->size()) + " bytes)"
                   : "no file";
}

// Replays a power cut after every prefix of the calls recorded in `script`
// on a disk that held `before` at `name`; each cut must leave `before` or
// `after`, and after the last call, when `durable`, only `after`.
std::vector<std::string> Judge(const std::string& name, const Content& before, const std::string& after, bool durable,
                               bool unsyncedNamesMayLand = true) {
    std::vector<std::string> violations;
    for (std::size_t made = 0; made <= script.calls.size(); ++made) {
        Disk disk;
        if (before) {
            disk.Holds(name, *before);
        }
        for (std::size_t i = 0; i < made; ++i) {
            disk.Apply(script.calls[i]);
        }
        for (const Content& content : disk.AfterPowerCut(name, unsyncedNamesMayLand)) {
            const bool allowed =
                made == script.calls.size() && durable ? content == after : content == before || content == after;
            if (!allowed) {
                violations.push_back("cut after " + std::to_string(made) + " calls: " + Shown(content));
            }
        }
    }
    return violations;
}

// The keys of a dump of one board: 37 values in three sections, the
// strings quoted.
class Dump {
public:
    explicit Dump(const std::string& board) {
        constexpr std::size_t kKeys = 37;
        keys_.reserve(kKeys);
        values_.reserve(kKeys);
        for (std::size_t i = 0; i < kKeys; ++i) {
            keys_.push_back((i < 4 ? "String" : "Field") + std::to_string(i));
            values_.push_back(i < 4 ? "\"" + board + " " + std::to_string(i) + "\"" : std::to_string(i * 7));
            entries_.push_back({i < 4 ? "DESC" : i < 12 ? "COMMON" : "FT232H", keys_.back(), values_.back()});
        }
    }
    Dump(const Dump&) = delete;
    Dump& operator=(const Dump&) = delete;

    [[nodiscard]] std::span<const ProfileEntry> Entries() const { return entries_; }

private:
    std::vector<std::string> keys_;
    std::vector<std::string> values_;
    std::vector<ProfileEntry> entries_;
};

class CrashConsistency : public ::testing::Test {
protected:
    void TearDown() override { Rescript(); }

    // Writes a dump of board B through `path` into `target`, which held
    // `before`, and judges every power cut.
    void ExpectEveryCutLeavesOldOrNew(const std::string& through, const std::string& target, const Content& before,
                                      bool shortWrites = false) {
        if (before) {
            WriteBytes(target, *before);
        }
        Rescript(0, shortWrites);
        ASSERT_EQ(WriteProfileStrings(RecordedCalls(), through, Dump("B").Entries()), ProfileWrite::kWritten);
        const std::string after = ReadBytes(target);
        ASSERT_NE(Content(after), before);
        EXPECT_EQ(Judge(target, before, after, true), std::vector<std::string>{});
    }

    TemporaryDirectory directory;
    std::string path = directory.File("ft232h_eeprom_no0.ini");
};

TEST_F(CrashConsistency, ADumpIntoAFileWithTheUsersNotesLeavesTheOldFileOrTheNewOne) {
    std::string before = "; the user's notes\r\n[Notes]\r\nowner=lab\r\n";
    ASSERT_EQ(WriteProfileStrings(path, Dump("A").Entries()), ProfileWrite::kWritten);
    before += ReadBytes(path);
    ExpectEveryCutLeavesOldOrNew(path, path, before);
}

TEST_F(CrashConsistency, ADumpIntoNoFileOrAnEmptyOneLeavesThatOrTheNewFile) {
    ExpectEveryCutLeavesOldOrNew(path, path, std::nullopt);
    std::filesystem::remove(path);
    ExpectEveryCutLeavesOldOrNew(path, path, "");
}

TEST_F(CrashConsistency, ADumpThroughASymbolicLinkLeavesTheFileItLeadsTo) {
    std::filesystem::create_directory(directory.File("store"));
    const std::string target = directory.File("store/dump.ini");
    std::filesystem::create_symlink("store/dump.ini", path);
    ExpectEveryCutLeavesOldOrNew(path, target, "[Extra]\r\n");
}

TEST_F(CrashConsistency, ALargeFileWrittenInManyPiecesLeavesTheOldFileOrTheNewOne) {
    std::string notes;
    for (int line = 0; line < 100000; ++line) {
        notes += "; note " + std::to_string(line) + "\r\n";
    }
    ExpectEveryCutLeavesOldOrNew(path, path, notes, true);
}

// What it costs to keep a file's other names: rewritten in place, a cut
// part-way leaves the new bytes up to some point and the old ones after it.
TEST_F(CrashConsistency, AFileWithOtherNamesCanBeLeftPartlyNewPartlyOld) {
    const std::string before = "[DESC]\r\n" + std::string(5000, ';') + "\r\n";
    WriteBytes(path, before);
    ASSERT_EQ(::link(path.c_str(), directory.File("other.ini").c_str()), 0);
    Rescript(0, true);
    ASSERT_EQ(WriteProfileStrings(RecordedCalls(), path, Dump("B").Entries()), ProfileWrite::kWritten);
    const std::string after = ReadBytes(path);
    // Unlike a replacement, this does leave files that are neither.
    EXPECT_FALSE(Judge(path, before, after, true).empty());
    for (std::size_t made = 0; made <= script.calls.size(); ++made) {
        Disk disk;
        disk.Holds(path, before);
        for (std::size_t i = 0; i < made; ++i) {
            disk.Apply(script.calls[i]);
        }
        for (const Content& content : disk.AfterPowerCut(path)) {
            ASSERT_TRUE(content.has_value());
            bool newThenOld = false;
            for (std::size_t point = 0; point <= after.size() && !newThenOld; ++point) {
                newThenOld = *content == after.substr(0, point) + before.substr(std::min(point, before.size()));
            }
            EXPECT_TRUE(newThenOld) << "cut after " << made << " calls: " << Shown(content);
        }
    }
}

// The model itself: a writer that syncs its new file only after renaming it
// over the old one can leave an empty file under the name, and the model
// must see that. A model that kept only synced names would not.
TEST_F(CrashConsistency, TheModelCatchesAFileSyncedAfterItsRename) {
    const std::string before = "[DESC]\r\nold=1\r\n";
    const std::string after = "[DESC]\r\nnew=1\r\n";
    WriteBytes(path, before);
    const ProfileFileCalls& calls = RecordedCalls();
    std::string temporary;
    FileHandle file = -1;
    ASSERT_TRUE(calls.createBeside(path, temporary, file));
    ASSERT_EQ(calls.writeAt(file, 0, after.data(), after.size()), static_cast<std::ptrdiff_t>(after.size()));
    ASSERT_TRUE(calls.replace(temporary, path));
    ASSERT_TRUE(calls.flush(file));
    ASSERT_TRUE(calls.close(file));
    ASSERT_TRUE(calls.syncName(path));
    EXPECT_NE(Judge(path, before, after, true), std::vector<std::string>{});
    EXPECT_EQ(Judge(path, before, after, true, false), std::vector<std::string>{});
}

// And one that reports success before its rename is on the disk.
TEST_F(CrashConsistency, TheModelCatchesARenameNeverSynced) {
    const std::string before = "[DESC]\r\nold=1\r\n";
    const std::string after = "[DESC]\r\nnew=1\r\n";
    WriteBytes(path, before);
    const ProfileFileCalls& calls = RecordedCalls();
    std::string temporary;
    FileHandle file = -1;
    ASSERT_TRUE(calls.createBeside(path, temporary, file));
    ASSERT_EQ(calls.writeAt(file, 0, after.data(), after.size()), static_cast<std::ptrdiff_t>(after.size()));
    ASSERT_TRUE(calls.flush(file));
    ASSERT_TRUE(calls.close(file));
    ASSERT_TRUE(calls.replace(temporary, path));
    EXPECT_EQ(Judge(path, before, after, true), std::vector<std::string>{"cut after 5 calls: " + Shown(before)});
}

}  // namespace
}  // namespace ft232h
