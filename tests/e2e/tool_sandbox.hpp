// Runs the built tool as a separate process in a directory of its own, with
// the simulated D2XX library beside it, the way a user installs it.
#pragma once

#include <pwd.h>
#include <sys/types.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace ft232h::e2e {

// Which build of the tool the suite drives: read from the file that
// FT232H_E2E_CONFIG names, which the build writes for each build under test
// (lines tool=, library=, legacy_library=, launcher= a ;-separated command,
// system=linux|macos|windows|..., and for a release archive archive= and
// cmake=).
struct ToolUnderTest {
    std::filesystem::path tool;           // the executable
    std::filesystem::path archive;        // or the release archive that holds it, unpacked in each sandbox
    std::filesystem::path cmake;          // what unpacks the archive (cmake -E tar)
    std::filesystem::path library;        // the simulated D2XX library
    std::filesystem::path legacyLibrary;  // the same without the FT_EEPROM_* calls
    std::vector<std::string> launcher;    // e.g. wine, or empty for a native run
    std::string system;                   // the system the tool is built for, in lower case
    bool windows = false;                 // tool and library are Windows binaries

    static const ToolUnderTest& FromEnvironment();
    std::string ToolFileName() const { return windows ? "ft232h_eeprom.exe" : "ft232h_eeprom"; }
    std::string LibraryFileName() const { return windows ? "ftd2xx.dll" : "libftd2xx.so"; }
};

struct ToolRun {
    std::string output;   // standard output, byte for byte
    std::string errors;   // standard error
    int exitStatus = -1;  // -1 when the process did not exit normally
};

enum class LibraryKind { kSimulator, kLegacySimulator, kNone };
// Where the library is put: beside the tool, or only in the working
// directory, or only in a directory of its own on the program search path
// (PATH; under Wine, WINEPATH, which Wine puts on the Windows PATH).
enum class LibraryPlace { kBesideTool, kWorkingDirectory, kOnPath };

class ToolSandbox {
public:
    // A new empty directory that then holds the tool (copied, or unpacked
    // from the release archive with nothing but the README beside it) and
    // the library. With `ownFileSystem`, the sandbox is a small file system
    // of its own (a tmpfs, which needs root), unmounted again when the
    // sandbox goes. With a `folder` name, the tool lies in a folder of that
    // name in the sandbox.
    explicit ToolSandbox(LibraryKind library = LibraryKind::kSimulator, LibraryPlace place = LibraryPlace::kBesideTool,
                         bool ownFileSystem = false, const std::string& folder = "");
    ~ToolSandbox();
    ToolSandbox(const ToolSandbox&) = delete;
    ToolSandbox& operator=(const ToolSandbox&) = delete;

    const std::filesystem::path& Directory() const { return directory_; }
    // Where the simulator keeps its devices: beside the library.
    std::filesystem::path StatePath() const { return libraryDirectory_ / "ftd2xx_sim_state.txt"; }
    std::filesystem::path LogPath() const { return libraryDirectory_ / "ftd2xx_sim_log.txt"; }
    // A file in the tool's directory, and the same as the tool prints it
    // (in UTF-8: the Windows build shows it in Shift_JIS).
    std::filesystem::path FilePath(const std::string& name) const { return directory_ / name; }
    std::string PrintedPath(const std::string& name) const;

    // The language of every later run (LC_ALL, which comes before LANG),
    // from which Wine takes the system's code page; the environment's own
    // when empty.
    void SetLanguage(const std::string& language) { language_ = language; }
    // Every later run as the user `name`, in that user's group and no other
    // (root only). The sandbox's folders stay root's: a test gives the user
    // what it is to have. A Windows build then runs in a Wine prefix of that
    // user's, made here (a few seconds) in the working directory: Wine
    // refuses a prefix that its user does not own.
    void SetUser(const std::string& name);

    // Runs the tool with `arguments` from another working directory, so that
    // nothing can depend on it.
    ToolRun Run(const std::vector<std::string>& arguments) const;
    // The same with standard output a pipe that nobody reads any more.
    ToolRun RunIntoClosedPipe(const std::vector<std::string>& arguments) const;
    // The same with a pseudo-terminal as standard input and output, as a
    // user at a terminal runs it (under Wine: Wine's console); the output is
    // what reached the terminal, escape sequences of the console included.
    ToolRun RunOnTerminal(const std::vector<std::string>& arguments) const;

    enum class Output { kPipe, kPipeNobodyReads, kTerminal };

    // Fills the sandbox's own file system but for `room` bytes.
    void FillFileSystem(std::size_t room) const;

    // What the last run called on the simulator's devices, " Name@device"
    // each; throws when the simulator left no log it can read.
    std::string SimulatorCalls() const;

private:
    ToolRun Start(const std::vector<std::string>& arguments, Output output) const;

    std::filesystem::path root_;       // the directory made for the sandbox
    std::filesystem::path directory_;  // the tool's: the root, or the archive's directory in it
    std::filesystem::path workingDirectory_;
    std::filesystem::path libraryDirectory_;
    bool libraryOnPath_ = false;
    std::filesystem::path mountPoint_;
    std::string language_;
    std::optional<std::pair<uid_t, gid_t>> user_;
    std::filesystem::path userPrefix_;
    // The process group of each run, killed with the sandbox: whatever a run
    // left behind ends with the row.
    mutable std::vector<pid_t> groups_;
};

// The system's entry for the user `name`; throws when there is none.
const passwd& UserNamed(const std::string& name);

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& content);

// The simulator's world `text` in its one written form, so that two worlds
// compare by what they hold; throws when it is no world.
std::string NormalisedWorld(const std::string& text);

// A settings file's key=value lines, quotes removed.
std::map<std::string, std::string> SettingsOf(const std::string& text);
// `text` is `pattern`, where ? in the pattern stands for any character.
bool Matches(const std::string& text, const std::string& pattern);

}  // namespace ft232h::e2e
