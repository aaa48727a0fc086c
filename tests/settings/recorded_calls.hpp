// The system's file-system calls of the settings-file service, each recorded
// as it is made and any one of them made to fail, as a broken disk would.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "eeprom/profile_file_calls.hpp"

namespace ft232h::testing {

enum class CallKind {
    kResolve,
    kOpen,
    kDescribe,
    kReadAt,
    kWriteAt,
    kResize,
    kCreateBeside,
    kKeepIdentity,
    kFlush,
    kClose,
    kReplace,
    kSyncName,
    kRemove,
    kExists,
};

// One call with what it worked on. A call made to fail did nothing.
struct RecordedCall {
    CallKind kind{};
    // open, createBeside (the name made), replace (from), syncName,
    // remove.
    std::string path;
    // replace: to.
    std::string otherPath;
    // The file handed in, or the one opened or made.
    FileHandle file = -1;
    // readAt, writeAt: where; resize: the size.
    std::uint64_t offset = 0;
    // writeAt: the bytes the call took.
    std::string bytes;
    bool failed = false;
};

// What the calls do: record, and fail the call numbered `failAt` (from 1).
// Tests run one at a time, so one instance serves them all.
struct CallScript {
    std::vector<RecordedCall> calls;
    std::size_t failAt = 0;
    // Half of what was asked, as a write to a nearly full disk may.
    bool shortWrites = false;
    // What keepIdentity answers instead of the system, when set.
    std::optional<IdentityKept> identity;
};
extern CallScript script;

// A fresh script: nothing recorded yet.
inline void Rescript(std::size_t failAt = 0, bool shortWrites = false, std::optional<IdentityKept> identity = {}) {
    script = CallScript{};
    script.failAt = failAt;
    script.shortWrites = shortWrites;
    script.identity = identity;
}

// The system's calls through `script`.
const ProfileFileCalls& RecordedCalls();

}  // namespace ft232h::testing
