#include "tests/settings/recorded_calls.hpp"

#include <utility>

namespace ft232h::testing {

CallScript script;

namespace {

const ProfileFileCalls& System() {
    return SystemProfileFileCalls();
}

// Records the call and tells whether it is the one to fail.
RecordedCall& Record(CallKind kind, FileHandle file = -1, std::string path = {}, std::uint64_t offset = 0,
                     std::string otherPath = {}) {
    RecordedCall& call = script.calls.emplace_back();
    call.kind = kind;
    call.file = file;
    call.path = std::move(path);
    call.offset = offset;
    call.otherPath = std::move(otherPath);
    call.failed = script.calls.size() == script.failAt;
    return call;
}

constexpr ProfileFileCalls kRecordedCalls{
    [](const std::string& path, std::string& target) {
        return !Record(CallKind::kResolve, -1, path).failed && System().resolve(path, target);
    },
    [](const std::string& path, FileAccess access, FileHandle& file) {
        RecordedCall& call = Record(CallKind::kOpen, -1, path);
        if (call.failed) {
            return FileOpened::kFailed;
        }
        const FileOpened opened = System().open(path, access, file);
        call.file = opened == FileOpened::kOpened ? file : -1;
        return opened;
    },
    [](FileHandle file, FileFacts& facts) {
        return !Record(CallKind::kDescribe, file).failed && System().describe(file, facts);
    },
    [](FileHandle file, std::uint64_t offset, char* buffer, std::size_t size) -> std::ptrdiff_t {
        return Record(CallKind::kReadAt, file, {}, offset).failed ? -1 : System().readAt(file, offset, buffer, size);
    },
    [](FileHandle file, std::uint64_t offset, const char* bytes, std::size_t size) -> std::ptrdiff_t {
        RecordedCall& call = Record(CallKind::kWriteAt, file, {}, offset);
        if (call.failed) {
            return -1;
        }
        const std::ptrdiff_t written =
            System().writeAt(file, offset, bytes, script.shortWrites && size > 1 ? size / 2 : size);
        if (written > 0) {
            call.bytes.assign(bytes, static_cast<std::size_t>(written));
        }
        return written;
    },
    [](FileHandle file, std::uint64_t size) {
        return !Record(CallKind::kResize, file, {}, size).failed && System().resize(file, size);
    },
    [](const std::string& target, std::string& created, FileHandle& file) {
        RecordedCall& call = Record(CallKind::kCreateBeside, -1);
        if (call.failed || !System().createBeside(target, created, file)) {
            return false;
        }
        call.path = created;
        call.file = file;
        return true;
    },
    [](FileHandle created, FileHandle original) {
        if (Record(CallKind::kKeepIdentity, created).failed) {
            return IdentityKept::kFailed;
        }
        return script.identity ? *script.identity : System().keepIdentity(created, original);
    },
    [](FileHandle file) { return !Record(CallKind::kFlush, file).failed && System().flush(file); },
    // A close that fails has still released the file, as on Linux.
    [](FileHandle file) {
        const bool closed = System().close(file);
        return !Record(CallKind::kClose, file).failed && closed;
    },
    [](const std::string& from, const std::string& to) {
        return !Record(CallKind::kReplace, -1, from, 0, to).failed && System().replace(from, to);
    },
    [](const std::string& path) { return !Record(CallKind::kSyncName, -1, path).failed && System().syncName(path); },
    [](const std::string& path) { return !Record(CallKind::kRemove, -1, path).failed && System().remove(path); },
    [](const std::string& path) { return !Record(CallKind::kExists, -1, path).failed && System().exists(path); },
};

}  // namespace

const ProfileFileCalls& RecordedCalls() {
    return kRecordedCalls;
}

}  // namespace ft232h::testing
