#include "tests/e2e/tool_sandbox.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <utility>

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

// Runs `command` in `workingDirectory`, its standard error into the file
// `errorsPath`; with `readerGone`, its standard output is a pipe that nobody
// reads any more.
ToolRun RunProcess(std::vector<std::string> command, const std::filesystem::path& workingDirectory,
                   const std::string& errorsPath, bool readerGone) {
    std::vector<char*> argv;
    for (std::string& part : command) {
        argv.push_back(part.data());
    }
    argv.push_back(nullptr);

    std::array<int, 2> out{};
    if (pipe(out.data()) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const pid_t child = fork();
    if (child < 0) {
        throw std::runtime_error("fork failed");
    }
    if (child == 0) {
        const int errors = open(errorsPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int input = open("/dev/null", O_RDONLY);
        if (chdir(workingDirectory.c_str()) != 0 || errors < 0 || input < 0 || dup2(out[1], 1) < 0 ||
            dup2(errors, 2) < 0 || dup2(input, 0) < 0) {
            _exit(126);
        }
        close(out[0]);
        close(out[1]);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    if (readerGone) {
        close(out[0]);
        out[0] = -1;
    }

    ToolRun run;
    const std::time_t deadline = std::time(nullptr) + kRunTimeLimitSeconds;
    std::array<char, 4096> buffer{};
    while (out[0] >= 0) {
        pollfd readable{out[0], POLLIN, 0};
        if (std::time(nullptr) >= deadline) {
            kill(child, SIGKILL);
            break;
        }
        const int ready = poll(&readable, 1, 1000);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            continue;
        }
        const ssize_t got = read(out[0], buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        run.output.append(buffer.data(), static_cast<std::size_t>(got));
    }
    if (out[0] >= 0) {
        close(out[0]);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.errors = ReadFile(errorsPath);
    return run;
}

// Unpacks the release archive into the empty directory `root` and returns
// the one directory it must hold, which must hold the tool and the README
// and nothing else.
std::filesystem::path UnpackRelease(const ToolUnderTest& under, const std::filesystem::path& root) {
    const ToolRun unpack =
        RunProcess({under.cmake.string(), "-E", "tar", "xf", under.archive.string()}, root, "/dev/null", false);
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
    static const ToolUnderTest tool = [] {
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
            } else if (key == "windows") {
                t.windows = value == "1";
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
    return tool;
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

ToolSandbox::ToolSandbox(LibraryKind library) {
    const ToolUnderTest& under = ToolUnderTest::FromEnvironment();
    std::string pattern = (std::filesystem::temp_directory_path() / "ft232h-e2e-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    root_ = pattern;
    directory_ = root_;
    if (under.archive.empty()) {
        std::filesystem::copy_file(under.tool, directory_ / under.ToolFileName());
        std::filesystem::permissions(directory_ / under.ToolFileName(), std::filesystem::perms::owner_exec,
                                     std::filesystem::perm_options::add);
    } else {
        directory_ = UnpackRelease(under, root_);
    }
    workingDirectory_ = directory_ / "elsewhere";
    std::filesystem::create_directory(workingDirectory_);
    if (library == LibraryKind::kSimulator) {
        std::filesystem::copy_file(under.library, directory_ / under.LibraryFileName());
    } else if (library == LibraryKind::kLegacySimulator) {
        std::filesystem::copy_file(under.legacyLibrary, directory_ / under.LibraryFileName());
    }
}

ToolSandbox::~ToolSandbox() {
    if (Environment("FT232H_E2E_KEEP").empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
}

std::string ToolSandbox::PrintedPath(const std::string& name) const {
    const std::string native = (directory_ / name).string();
    if (!ToolUnderTest::FromEnvironment().windows) {
        return native;
    }
    // Wine shows the Unix root as drive Z:.
    std::string windows = "Z:" + native;
    for (char& c : windows) {
        if (c == '/') {
            c = '\\';
        }
    }
    return windows;
}

ToolRun ToolSandbox::Run(const std::vector<std::string>& arguments) const {
    return Start(arguments, false);
}

ToolRun ToolSandbox::RunIntoClosedPipe(const std::vector<std::string>& arguments) const {
    return Start(arguments, true);
}

ToolRun ToolSandbox::Start(const std::vector<std::string>& arguments, bool readerGone) const {
    const ToolUnderTest& under = ToolUnderTest::FromEnvironment();
    std::vector<std::string> command = under.launcher;
    command.push_back((directory_ / under.ToolFileName()).string());
    command.insert(command.end(), arguments.begin(), arguments.end());
    return RunProcess(std::move(command), workingDirectory_, (workingDirectory_ / "stderr.txt").string(), readerGone);
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
