#include "tests/settings/recorded_calls.hpp"

namespace ft232h::testing {

CallScript script;

namespace {

const SettingsFileCalls& System() {
    return SystemSettingsFileCalls();
}

// Records the call; false when it is the one to fail.
bool Record(CallKind kind, FileHandle file = -1, const std::string& path = {}, std::uint64_t offset = 0,
            const std::string& to = {}) {
    script.calls.push_back({kind, file, path, to, offset, {}, script.calls.size() + 1 == script.failAt});
    return !script.calls.back().failed;
}

constexpr SettingsFileCalls kRecordedCalls{
    [](const std::string& path, std::string& target) {
        return Record(CallKind::kOther, -1, path) && System().resolve(path, target);
    },
    [](const std::string& path, FileAccess access, FileHandle& file) {
        if (!Record(CallKind::kOpen, -1, path)) {
            return FileOpened::kFailed;
        }
        const FileOpened opened = System().open(path, access, file);
        script.calls.back().file = opened == FileOpened::kOpened ? file : -1;
        return opened;
    },
    [](FileHandle file, FileFacts& facts) { return Record(CallKind::kOther, file) && System().describe(file, facts); },
    [](FileHandle file, std::uint64_t offset, char* buffer, std::size_t size) -> std::ptrdiff_t {
        return Record(CallKind::kOther, file, {}, offset) ? System().readAt(file, offset, buffer, size) : -1;
    },
    [](FileHandle file, std::uint64_t offset, const char* bytes, std::size_t size) -> std::ptrdiff_t {
        if (!Record(CallKind::kWrite, file, {}, offset)) {
            return -1;
        }
        const std::ptrdiff_t written =
            System().writeAt(file, offset, bytes, script.shortWrites ? (size + 1) / 2 : size);
        script.calls.back().bytes.assign(bytes, written > 0 ? static_cast<std::size_t>(written) : 0);
        return written;
    },
    [](FileHandle file, std::uint64_t size) {
        return Record(CallKind::kResize, file, {}, size) && System().resize(file, size);
    },
    [](const std::string& target, std::string& created, FileHandle& file) {
        if (!Record(CallKind::kCreate)) {
            return FileCreated::kFailed;
        }
        const bool refused = script.created && *script.created != FileCreated::kCreated;
        const FileCreated made = refused ? *script.created : System().createBeside(target, created, file);
        if (made == FileCreated::kCreated) {
            script.calls.back().path = created;
            script.calls.back().file = file;
        } else {
            // Made nothing, so the crash test's disk gets no new file.
            script.calls.back().failed = true;
        }
        return made;
    },
    [](FileHandle created, FileHandle original) {
        if (!Record(CallKind::kOther, created)) {
            return IdentityKept::kFailed;
        }
        return script.identity ? *script.identity : System().keepIdentity(created, original);
    },
    [](FileHandle file) { return Record(CallKind::kFlush, file) && System().flush(file); },
    // A close that fails has still released the file, as on Linux.
    [](FileHandle file) { return System().close(file) && Record(CallKind::kClose, file); },
    [](const std::string& from, const std::string& to) {
        return Record(CallKind::kReplace, -1, from, 0, to) && System().replace(from, to);
    },
    [](const std::string& path) { return Record(CallKind::kSyncName, -1, path) && System().syncName(path); },
    [](const std::string& path) { return Record(CallKind::kOther, -1, path) && System().remove(path); },
};

}  // namespace

const SettingsFileCalls& RecordedCalls() {
    return kRecordedCalls;
}

}  // namespace ft232h::testing
