// The judge of the settings-file service's safety, on every system alike:
// every file-system call a write makes is recorded, and a power cut is
// replayed after every prefix of them on a model of what a disk keeps. Each
// must leave the old file or the new one, whole, under its name; once the
// write has reported success, only the new one.
//
// What the model keeps after a power cut, as a journaling file system
// without ext4's rename heuristics does (XFS, or ext4 mounted with
// noauto_da_alloc):
// - a file's data as it was last synced (a file never synced may come back
//   empty), or what it holds now, as the disk may have written it anyway;
// - the names as they were last synced, with any number of the changes made
//   to them since (creations and renames), in their order: each may or may
//   not have reached the disk.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "eeprom/settings_service.hpp"
#include "eeprom/settings_service_calls.hpp"
#include "tests/settings/recorded_calls.hpp"
#include "tests/settings/temporary_directory.hpp"

namespace ft232h {
namespace {

// The recorded calls, the scratch directory and its file helpers.
using namespace testing;  // NOLINT(google-build-using-namespace)

using Content = std::optional<std::string>;  // nullopt: no file under the name

class Disk {
public:
    // A file that was on the disk, synced, before the write.
    void Holds(const std::string& name, const std::string& bytes) {
        synced_[name] = files_.size();
        files_.push_back({bytes, bytes});
    }

    void Apply(const RecordedCall& call) {
        if (call.failed) {
            return;
        }
        if (call.kind == CallKind::kOpen && call.file >= 0) {
            open_[call.file] = Names(pending_.size()).at(call.path);
        } else if (call.kind == CallKind::kCreate) {
            open_[call.file] = files_.size();
            files_.emplace_back();
            pending_.push_back({call.path, "", files_.size() - 1});
        } else if (call.kind == CallKind::kWrite) {
            std::string& bytes = files_.at(open_.at(call.file)).now;
            bytes.resize(std::max(bytes.size(), call.offset + call.bytes.size()));
            bytes.replace(call.offset, call.bytes.size(), call.bytes);
        } else if (call.kind == CallKind::kResize) {
            files_.at(open_.at(call.file)).now.resize(call.offset);
        } else if (call.kind == CallKind::kFlush) {
            File& file = files_.at(open_.at(call.file));
            file.synced = file.now;
        } else if (call.kind == CallKind::kReplace) {
            pending_.push_back({call.to, call.path, 0});
        } else if (call.kind == CallKind::kSyncName) {
            synced_ = Names(pending_.size());
            pending_.clear();
        }
    }

    // What `name` may hold after a power cut now. With `unsyncedNamesMayLand`
    // false, only synced names count: a model too kind to see some faults.
    std::set<Content> AfterPowerCut(const std::string& name, bool unsyncedNamesMayLand) const {
        std::set<Content> contents;
        for (std::size_t landed = 0; landed <= (unsyncedNamesMayLand ? pending_.size() : 0); ++landed) {
            const std::map<std::string, std::size_t> names = Names(landed);
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
    struct File {
        std::string synced;
        std::string now;
    };

    // `name` comes to stand for `file`, or for the file renamed from `from`.
    struct NameChange {
        std::string name;
        std::string from;
        std::size_t file;
    };

    // The synced names with the first `landed` changes since.
    std::map<std::string, std::size_t> Names(std::size_t landed) const {
        std::map<std::string, std::size_t> names = synced_;
        for (std::size_t i = 0; i < landed; ++i) {
            const NameChange& change = pending_[i];
            if (change.from.empty()) {
                names[change.name] = change.file;
            } else if (const auto from = names.find(change.from); from != names.end()) {
                names[change.name] = from->second;
                names.erase(from);
            }
        }
        return names;
    }

    std::vector<File> files_;
    std::map<std::string, std::size_t> synced_;
    std::vector<NameChange> pending_;
    std::map<FileHandle, std::size_t> open_;
};

std::string Shown(const Content& content) {
    return content ? std::to_string(content->size()) + " bytes" : "no file";
}

// Replays a power cut after every prefix of the calls in `script` on a disk
// that held `before` at `name`: each must leave `before` or `after`, and
// after the last call only `after`.
std::vector<std::string> Judge(const std::string& name, const Content& before, const std::string& after,
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
            if (content != after && (content != before || made == script.calls.size())) {
                violations.push_back("cut after " + std::to_string(made) + " calls: " + Shown(content));
            }
        }
    }
    return violations;
}

// The keys of dumps of two boards, in three sections, strings quoted: how
// many there are changes nothing in the calls a write makes.
constexpr SettingsEntry kDumpOfA[] = {
    {"DESC", "Description", "\"A\""}, {"COMMON", "VendorId", "1"}, {"FT232H", "Cbus0", "1"}};
constexpr SettingsEntry kDumpOfB[] = {
    {"DESC", "Description", "\"B\""}, {"COMMON", "VendorId", "2"}, {"FT232H", "Cbus0", "2"}};

class CrashConsistency : public ::testing::Test {
protected:
    void TearDown() override { Rescript(); }

    // Dumps board B through `through` into `target`, which held `before`,
    // and judges every power cut.
    void ExpectEveryCutLeavesOldOrNew(const std::string& through, const std::string& target, const Content& before,
                                      bool shortWrites = false) {
        if (before) {
            WriteBytes(target, *before);
        }
        Rescript(0, shortWrites);
        ASSERT_EQ(WriteSettings(through, kDumpOfB, RecordedCalls()), SettingsWrite::kWritten);
        EXPECT_EQ(Judge(target, before, ReadBytes(target)), std::vector<std::string>{});
    }

    TemporaryDirectory directory;
    std::string path = directory.File("ft232h_eeprom_no0.ini");
};

TEST_F(CrashConsistency, EveryPowerCutDuringADumpLeavesTheOldFileOrTheNewOne) {
    ExpectEveryCutLeavesOldOrNew(path, path, std::nullopt);
    ExpectEveryCutLeavesOldOrNew(path, path, "");
    ASSERT_EQ(WriteSettings(path, kDumpOfA), SettingsWrite::kWritten);
    ExpectEveryCutLeavesOldOrNew(path, path, "; the user's notes\r\n" + ReadBytes(path));
    // A large file, written in many pieces.
    std::string notes;
    for (int line = 0; line < 100000; ++line) {
        notes += "; note " + std::to_string(line) + "\r\n";
    }
    ExpectEveryCutLeavesOldOrNew(path, path, notes, true);
}

TEST_F(CrashConsistency, EveryPowerCutDuringADumpThroughASymbolicLinkLeavesTheFileItLeadsToOldOrNew) {
    std::filesystem::create_directory(directory.File("store"));
    std::filesystem::create_symlink("store/dump.ini", path);
    ExpectEveryCutLeavesOldOrNew(path, directory.File("store/dump.ini"), "[Extra]\r\n");
}

// The model itself. A writer that syncs its new file only after renaming it
// over the old one can leave an empty file under the name; a model that kept
// only synced names would not see it. One that never makes its rename
// durable can lose it after reporting success.
TEST_F(CrashConsistency, TheModelCatchesAFileSyncedAfterItsRenameAndARenameNeverSynced) {
    const std::string before = "[DESC]\r\nold=1\r\n";
    const std::string after = "[DESC]\r\nnew=1\r\n";
    const SettingsFileCalls& calls = RecordedCalls();
    for (const bool syncFirst : {false, true}) {
        WriteBytes(path, before);
        Rescript();
        std::string temporary;
        FileHandle file = -1;
        ASSERT_EQ(calls.createBeside(path, temporary, file), FileCreated::kCreated);
        ASSERT_EQ(calls.writeAt(file, 0, after.data(), after.size()), static_cast<std::ptrdiff_t>(after.size()));
        ASSERT_TRUE((syncFirst || calls.replace(temporary, path)) && calls.flush(file) && calls.close(file));
        ASSERT_TRUE(syncFirst ? calls.replace(temporary, path) : calls.syncName(path));
        if (syncFirst) {
            EXPECT_EQ(Judge(path, before, after), std::vector<std::string>{"cut after 5 calls: " + Shown(before)});
        } else {
            EXPECT_NE(Judge(path, before, after), std::vector<std::string>{});
            EXPECT_EQ(Judge(path, before, after, false), std::vector<std::string>{});
        }
    }
}

}  // namespace
}  // namespace ft232h
