#include "tests/e2e/tool_sandbox.hpp"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <tuple>
#include <utility>

#include "sim/sim_state.hpp"

namespace ft232h::e2e {
namespace {

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::vector<std::string> SplitList(const std::string& list) {
    std::vector<std::string> items;
    std::string item;
    std::istringstream stream(list);
    while (std::getline(stream, item, ';')) {
        if (!item.empty()) {
            items.push_back(item);
        }
    }
    return items;
}

// A hung tool must fail its test, not the whole run. (<chrono> cannot be
// used here: its micro sign has no Shift_JIS form.)
constexpr std::time_t kRunTimeLimitSeconds = 120;

using Output = ToolSandbox::Output;
using ExtraEnvironment = std::vector<std::pair<std::string, std::string>>;
using User = std::optional<std::pair<uid_t, gid_t>>;

// In the child: the user and group of `user` alone, for good.
bool BecomeUser(const User& user) {
    return !user || (setgroups(0, nullptr) == 0 && setgid(user->second) == 0 && setuid(user->first) == 0);
}

// A pseudo-terminal's controller side, with the name of the side a child
// opens; throws when the system has none to give.
std::pair<int, std::string> OpenTerminal() {
    const int controller = posix_openpt(O_RDWR | O_NOCTTY);
    const char* name =
        controller >= 0 && grantpt(controller) == 0 && unlockpt(controller) == 0 ? ptsname(controller) : nullptr;
    if (name == nullptr) {
        throw std::runtime_error("no pseudo-terminal");
    }
    return {controller, name};
}

// In the child: the terminal `name` becomes the controlling terminal of a new
// session, and standard input and output.
bool AttachTerminal(const std::string& name) {
    const int terminal = setsid() < 0 ? -1 : open(name.c_str(), O_RDWR);
    return terminal >= 0 && dup2(terminal, 0) >= 0 && dup2(terminal, 1) >= 0;
}

// The write end of a pipe to a guard process, started with the first run,
// which kills every process group a run was started in once the pipe closes:
// when the runner ends, however it ends. CTest ends a runner that overran
// by killing it alone, and a tool a launcher started would live on.
int GuardPipe() {
    static const int kWriteEnd = [] {
        std::array<int, 2> ends{};
        if (pipe2(ends.data(), O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe failed");
        }
        const pid_t guard = fork();
        if (guard < 0) {
            throw std::runtime_error("fork failed");
        }
        if (guard == 0) {
            // It holds none of the runner's streams, so that nobody waits
            // for it, and outlives the signals that end the runner.
            const int null = open("/dev/null", O_RDWR);
            dup2(null, 0);
            dup2(null, 1);
            dup2(null, 2);
            close(ends[1]);
            for (const int ended : {SIGINT, SIGTERM, SIGHUP}) {
                signal(ended, SIG_IGN);
            }
            std::vector<pid_t> groups;
            for (pid_t group = 0; read(ends[0], &group, sizeof group) == sizeof group;) {
                groups.push_back(group);
            }
            for (const pid_t group : groups) {
                kill(-group, SIGKILL);
            }
            _exit(0);
        }
        close(ends[0]);
        return ends[1];
    }();
    return kWriteEnd;
}

// Runs `command` in `workingDirectory` with `environment` added, its standard
// error into the file `errorsPath`, its standard output as `output` says. It
// runs in a process group of its own, `group`, which is killed at the
// deadline; the caller kills it when its own work is done.
ToolRun RunProcess(std::vector<std::string> command, const std::filesystem::path& workingDirectory,
                   const std::string& errorsPath, Output output, pid_t& group, const ExtraEnvironment& environment = {},
                   const User& user = {}) {
    const int guard = GuardPipe();
    std::vector<char*> argv;
    for (std::string& part : command) {
        argv.push_back(part.data());
    }
    argv.push_back(nullptr);

    std::array<int, 2> out{};
    std::string terminalName;
    if (output == Output::kTerminal) {
        std::tie(out[0], terminalName) = OpenTerminal();
        out[1] = -1;
    } else if (pipe(out.data()) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const pid_t child = fork();
    if (child < 0) {
        throw std::runtime_error("fork failed");
    }
    if (child == 0) {
        // A terminal's session is a group of its own already.
        if (output != Output::kTerminal) {
            setpgid(0, 0);
        }
        // As a user's shell starts it: a runner that ignores SIGPIPE for
        // itself must not hand that on.
        signal(SIGPIPE, SIG_DFL);
        for (const auto& [name, value] : environment) {
            setenv(name.c_str(), value.c_str(), 1);
        }
        const int errors = open(errorsPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const bool attached = output == Output::kTerminal
                                  ? AttachTerminal(terminalName)
                                  : dup2(out[1], 1) >= 0 && dup2(open("/dev/null", O_RDONLY), 0) >= 0;
        if (chdir(workingDirectory.c_str()) != 0 || errors < 0 || !attached || dup2(errors, 2) < 0 ||
            !BecomeUser(user)) {
            _exit(126);
        }
        close(out[0]);
        if (out[1] >= 0) {
            close(out[1]);
        }
        execvp(argv[0], argv.data());
        _exit(127);
    }
    // Set from both sides, so that the group exists before either goes on.
    if (output != Output::kTerminal) {
        setpgid(child, child);
    }
    group = child;
    if (write(guard, &group, sizeof group) != sizeof group) {
        kill(-group, SIGKILL);
        throw std::runtime_error("the guard of the runs is gone");
    }
    if (out[1] >= 0) {
        close(out[1]);
    }
    if (output == Output::kPipeNobodyReads) {
        close(out[0]);
        out[0] = -1;
    }

    ToolRun run;
    int status = 0;
    bool ended = false;
    const std::time_t deadline = std::time(nullptr) + kRunTimeLimitSeconds;
    std::array<char, 4096> buffer{};
    while (out[0] >= 0) {
        pollfd readable{out[0], POLLIN, 0};
        if (std::time(nullptr) >= deadline) {
            kill(-group, SIGKILL);
            break;
        }
        const int ready = poll(&readable, 1, ended ? 500 : 1000);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            // A terminal can stay open after the tool has ended: the service
            // processes that Wine starts with the first program of a prefix
            // inherit it and live as long as the Wine server. Once the tool
            // has ended and its console has gone quiet, all is read.
            if (ended) {
                break;
            }
            ended = output == Output::kTerminal && waitpid(child, &status, WNOHANG) == child;
            continue;
        }
        const ssize_t got = read(out[0], buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        // A terminal reports EIO once nobody holds its other side.
        if (got <= 0) {
            break;
        }
        run.output.append(buffer.data(), static_cast<std::size_t>(got));
    }
    if (out[0] >= 0) {
        close(out[0]);
    }
    // A run whose output nobody reads has the same deadline.
    while (!ended) {
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child || (done < 0 && errno != EINTR)) {
            break;
        }
        if (std::time(nullptr) >= deadline) {
            kill(-group, SIGKILL);
        }
        poll(nullptr, 0, 20);
    }
    run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.errors = ReadFile(errorsPath);
    return run;
}

// `launcher` with `arguments` after it, its WINEPREFIX= setting (the build's
// prefix, which is root's) changed to `prefix`.
std::vector<std::string> WithUserPrefix(std::vector<std::string> launcher, const std::filesystem::path& prefix,
                                        const std::vector<std::string>& arguments) {
    for (std::string& part : launcher) {
        if (part.starts_with("WINEPREFIX=")) {
            part = "WINEPREFIX=" + prefix.string();
        }
    }
    launcher.insert(launcher.end(), arguments.begin(), arguments.end());
    return launcher;
}

// The path as a Windows program under Wine sees it: Wine shows the Unix root
// as drive Z:.
std::string UnderWine(const std::filesystem::path& path) {
    std::string windows = "Z:" + path.string();
    std::replace(windows.begin(), windows.end(), '/', '\\');
    return windows;
}

// Unpacks the release archive into the empty directory `root` and returns
// the one directory it must hold, which must hold the tool and the README
// and nothing else.
std::filesystem::path UnpackRelease(const ToolUnderTest& under, const std::filesystem::path& root) {
    pid_t group = 0;
    const ToolRun unpack = RunProcess({under.cmake.string(), "-E", "tar", "xf", under.archive.string()}, root,
                                      "/dev/null", Output::kPipe, group);
    kill(-group, SIGKILL);
    if (unpack.exitStatus != 0) {
        throw std::runtime_error("cannot unpack " + under.archive.string());
    }
    const auto entries = [](const std::filesystem::path& directory) {
        std::vector<std::filesystem::path> found;
        for (const auto& entry : std::filesystem::directory_iterator(directory)) {
            found.push_back(entry.path());
        }
        std::sort(found.begin(), found.end());
        return found;
    };
    const std::vector<std::filesystem::path> top = entries(root);
    if (top.size() != 1 || !std::filesystem::is_directory(top[0])) {
        throw std::runtime_error(under.archive.string() + " must hold one directory");
    }
    std::vector<std::filesystem::path> expected = {top[0] / "README.md", top[0] / under.ToolFileName()};
    std::sort(expected.begin(), expected.end());
    if (entries(top[0]) != expected || !std::filesystem::is_regular_file(expected[0]) ||
        !std::filesystem::is_regular_file(expected[1])) {
        throw std::runtime_error(under.archive.string() + " must hold the tool and the README, nothing else");
    }
    return top[0];
}

}  // namespace

const ToolUnderTest& ToolUnderTest::FromEnvironment() {
    static const ToolUnderTest kTool = [] {
        const std::string configPath = Environment("FT232H_E2E_CONFIG");
        std::ifstream config(configPath);
        if (!config) {
            throw std::runtime_error("FT232H_E2E_CONFIG must name the file that says which build to test");
        }
        ToolUnderTest t;
        std::string line;
        while (std::getline(config, line)) {
            const auto equals = line.find('=');
            const std::string key = line.substr(0, equals);
            const std::string value = equals == std::string::npos ? "" : line.substr(equals + 1);
            if (key == "tool") {
                t.tool = value;
            } else if (key == "library") {
                t.library = value;
            } else if (key == "legacy_library") {
                t.legacyLibrary = value;
            } else if (key == "launcher") {
                t.launcher = SplitList(value);
            } else if (key == "system") {
                t.system = value;
                t.windows = value == "windows";
            } else if (key == "archive") {
                t.archive = value;
            } else if (key == "cmake") {
                t.cmake = value;
            }
        }
        auto* executable = t.archive.empty() ? &t.tool : &t.archive;
        for (const auto* path : {executable, &t.library, &t.legacyLibrary}) {
            if (!std::filesystem::exists(*path)) {
                throw std::runtime_error("the build under test lacks " + path->string());
            }
        }
        return t;
    }();
    return kTool;
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path.string());
    }
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void WriteFile(const std::filesystem::path& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

ToolSandbox::ToolSandbox(LibraryKind library, LibraryPlace place, bool ownFileSystem, const std::string& folder) {
    const ToolUnderTest& under = ToolUnderTest::FromEnvironment();
    std::string pattern = (std::filesystem::temp_directory_path() / "ft232h-e2e-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    root_ = pattern;
    directory_ = root_;
    if (ownFileSystem) {
        // Room for the tool, the library and a few megabytes: a tmpfs takes
        // memory only for what it holds.
        directory_ = root_ / "disk";
        std::filesystem::create_directory(directory_);
        const auto size = std::filesystem::file_size(under.tool) + std::filesystem::file_size(under.library) +
                          (std::uintmax_t{4} << 20);
        const std::string options = "size=" + std::to_string(size / 1024 + 1) + "k,mode=0755";
        if (mount("tmpfs", directory_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
            throw std::runtime_error("cannot mount a tmpfs on " + directory_.string() + " (the row needs root)");
        }
        mountPoint_ = directory_;
    }
    if (!folder.empty()) {
        directory_ /= folder;
        std::filesystem::create_directory(directory_);
    }
    if (under.archive.empty()) {
        std::filesystem::copy_file(under.tool, directory_ / under.ToolFileName());
        std::filesystem::permissions(directory_ / under.ToolFileName(), std::filesystem::perms::owner_exec,
                                     std::filesystem::perm_options::add);
    } else {
        directory_ = UnpackRelease(under, root_);
    }
    workingDirectory_ = directory_ / "elsewhere";
    std::filesystem::create_directory(workingDirectory_);
    libraryDirectory_ = place == LibraryPlace::kWorkingDirectory ? workingDirectory_
                        : place == LibraryPlace::kOnPath         ? root_ / "on-path"
                                                                 : directory_;
    libraryOnPath_ = place == LibraryPlace::kOnPath;
    std::filesystem::create_directories(libraryDirectory_);
    if (library == LibraryKind::kSimulator) {
        std::filesystem::copy_file(under.library, libraryDirectory_ / under.LibraryFileName());
    } else if (library == LibraryKind::kLegacySimulator) {
        std::filesystem::copy_file(under.legacyLibrary, libraryDirectory_ / under.LibraryFileName());
    }
}

ToolSandbox::~ToolSandbox() {
    for (const pid_t group : groups_) {
        kill(-group, SIGKILL);
    }
    // Detached, so that nothing still open in it can keep it mounted.
    if (!mountPoint_.empty()) {
        umount2(mountPoint_.c_str(), MNT_DETACH);
    }
    if (Environment("FT232H_E2E_KEEP").empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
}

const passwd& UserNamed(const std::string& name) {
    const passwd* user = getpwnam(name.c_str());
    if (user == nullptr) {
        throw std::runtime_error("no user " + name);
    }
    return *user;
}

void ToolSandbox::SetUser(const std::string& name) {
    const passwd& user = UserNamed(name);
    user_.emplace(user.pw_uid, user.pw_gid);
    const ToolUnderTest& under = ToolUnderTest::FromEnvironment();
    if (!under.windows) {
        return;
    }
    const std::filesystem::path home = workingDirectory_ / ("wine-" + name);
    std::filesystem::create_directory(home);
    if (chown(home.c_str(), user.pw_uid, user.pw_gid) != 0) {
        throw std::runtime_error("cannot give " + home.string() + " to " + name + " (the test needs root)");
    }
    userPrefix_ = home / "prefix";
    // Without Wine's .NET and browser, which a new prefix would offer to install.
    const ToolRun boot =
        RunProcess(WithUserPrefix(under.launcher, userPrefix_, {"wineboot", "-i"}), workingDirectory_, "/dev/null",
                   Output::kPipe, groups_.emplace_back(), {{"WINEDLLOVERRIDES", "mscoree,mshtml="}}, user_);
    if (boot.exitStatus != 0) {
        throw std::runtime_error("cannot make a Wine prefix for " + name);
    }
}

std::string ToolSandbox::PrintedPath(const std::string& name) const {
    const std::filesystem::path path = directory_ / name;
    return ToolUnderTest::FromEnvironment().windows ? UnderWine(path) : path.string();
}

ToolRun ToolSandbox::Run(const std::vector<std::string>& arguments) const {
    return Start(arguments, Output::kPipe);
}

ToolRun ToolSandbox::RunIntoClosedPipe(const std::vector<std::string>& arguments) const {
    return Start(arguments, Output::kPipeNobodyReads);
}

ToolRun ToolSandbox::RunOnTerminal(const std::vector<std::string>& arguments) const {
    return Start(arguments, Output::kTerminal);
}

void ToolSandbox::FillFileSystem(std::size_t room) const {
    if (mountPoint_.empty()) {
        throw std::runtime_error("the sandbox has no file system of its own to fill");
    }
    // Written until the disk refuses, then `room` freed again.
    const std::filesystem::path filler = directory_ / "filler";
    const std::string block(std::size_t{1} << 16, '.');
    for (std::ofstream out(filler, std::ios::binary);
         out.write(block.data(), static_cast<std::streamsize>(block.size()));) {
    }
    std::filesystem::resize_file(filler, std::filesystem::file_size(filler) - room);
}

ToolRun ToolSandbox::Start(const std::vector<std::string>& arguments, Output output) const {
    const ToolUnderTest& under = ToolUnderTest::FromEnvironment();
    std::vector<std::string> command =
        userPrefix_.empty() ? under.launcher : WithUserPrefix(under.launcher, userPrefix_, {});
    command.push_back((directory_ / under.ToolFileName()).string());
    command.insert(command.end(), arguments.begin(), arguments.end());
    ExtraEnvironment environment;
    if (libraryOnPath_ && under.windows) {
        environment.emplace_back("WINEPATH", UnderWine(libraryDirectory_));
    } else if (libraryOnPath_) {
        environment.emplace_back("PATH", libraryDirectory_.string() + ":" + Environment("PATH"));
    }
    if (!language_.empty()) {
        environment.emplace_back("LC_ALL", language_);
    }
    const std::string errorsPath = (workingDirectory_ / "stderr.txt").string();
    ToolRun run =
        RunProcess(command, workingDirectory_, errorsPath, output, groups_.emplace_back(), environment, user_);
    // The tool ends every run with status 0 and a line on standard output.
    // Status 1 with nothing on either stream is Wine failing, rarely, to
    // start a program at all: the tool never ran, so the run is made once
    // more, and that is said.
    if (under.windows && run.exitStatus == 1 && run.output.empty() && run.errors.empty()) {
        std::cerr << "Wine ended a run with status 1 before the tool printed anything; running it once more\n";
        run = RunProcess(std::move(command), workingDirectory_, errorsPath, output, groups_.emplace_back(), environment,
                         user_);
    }
    return run;
}

std::string ToolSandbox::SimulatorCalls() const {
    std::vector<sim::SimLogEntry> entries;
    std::string error;
    if (!sim::ReadLogFile(LogPath().string(), entries, error)) {
        throw std::runtime_error("the simulator's log: " + error);
    }
    std::string calls;
    for (const sim::SimLogEntry& entry : entries) {
        const std::string* device = entry.Argument(entry.entryPoint == "FT_Open" ? "index" : "device");
        if (device != nullptr) {
            calls += " " + entry.entryPoint.substr(3) + "@" + *device;
        }
    }
    return calls;
}

std::string NormalisedWorld(const std::string& text) {
    sim::SimState state;
    std::string error;
    if (!sim::ParseState(text, state, error)) {
        throw std::runtime_error("world: " + error + "\n" + text);
    }
    return sim::FormatState(state);
}

std::map<std::string, std::string> SettingsOf(const std::string& text) {
    std::map<std::string, std::string> settings;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const auto equals = line.find('=');
        if (equals != std::string::npos) {
            std::string value = line.substr(equals + 1, line.find_last_not_of('\r') - equals);
            if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
                value = value.substr(1, value.size() - 2);
            }
            settings[line.substr(0, equals)] = value;
        }
    }
    return settings;
}

bool Matches(const std::string& text, const std::string& pattern) {
    return text.size() == pattern.size() &&
           std::equal(pattern.begin(), pattern.end(), text.begin(),
                      [](char wanted, char seen) { return wanted == '?' || wanted == seen; });
}

}  // namespace ft232h::e2e
