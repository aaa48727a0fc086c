// The system's file-system calls of the settings-file service, each recorded
// as it is made, and any one of them made to fail as a broken disk would.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "eeprom/settings_service_calls.hpp"

namespace ft232h::testing {

// What the tests look at; the other calls are kOther.
enum class CallKind { kOther, kOpen, kCreate, kWrite, kResize, kFlush, kClose, kReplace, kSyncName };

// One call with what it worked on; one made to fail did nothing.
struct RecordedCall {
    CallKind kind{};
    FileHandle file = -1;      // the file handed in, or the one opened or made
    std::string path;          // the one named (replace: from; create: the name made)
    std::string to;            // replace
    std::uint64_t offset = 0;  // read and write: where; resize: the size
    std::string bytes;         // write: the bytes the call took
    bool failed = false;
};

// What the calls do. Tests run one at a time, so one instance serves them all.
struct CallScript {
    std::vector<RecordedCall> calls;
    std::size_t failAt = 0;                // the call to fail, from 1
    bool shortWrites = false;              // half of what was asked, as a nearly full disk may write
    std::optional<IdentityKept> identity;  // keepIdentity's answer instead of the system's
    // createBeside's refusal instead of the system's file; kCreated makes no difference
    std::optional<FileCreated> created;
};
extern CallScript script;

inline void Rescript(std::size_t failAt = 0, bool shortWrites = false, std::optional<IdentityKept> identity = {},
                     std::optional<FileCreated> created = {}) {
    script = CallScript{{}, failAt, shortWrites, identity, created};
}

// The system's calls through `script`.
const SettingsFileCalls& RecordedCalls();

}  // namespace ft232h::testing
