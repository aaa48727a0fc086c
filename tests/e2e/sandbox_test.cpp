// The sandbox's promise to every test that runs the tool: whatever a run
// starts ends with the sandbox, and with the runner however the runner
// ends. A launcher stands in for the tool's own children here: it leaves a
// process behind and then starts a program that ends at once.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/e2e/tool_sandbox.hpp"

// (<chrono> and <thread> cannot be used here: the micro sign of <chrono> has
// no Shift_JIS form, the set the project compiles its text in.)

namespace ft232h::e2e {
namespace {

namespace fs = std::filesystem;

const fs::path kWork = fs::temp_directory_path() / ("ft232h-sandbox-test-" + std::to_string(getpid()));
const fs::path kLeftBehind = kWork / "left-behind.pid";

// Before the first sandbox: the build under test is /bin/true, started by a
// shell that first puts a long sleep in the background.
class SandboxRuns : public testing::Test {
protected:
    static void SetUpTestSuite() {
        fs::create_directories(kWork);
        std::ofstream(kWork / "config") << "tool=/bin/true\nlibrary=/bin/true\nlegacy_library=/bin/true\n"
                                        << "launcher=sh;-c;sleep 600 >/dev/null 2>&1 & echo $! > "
                                        << kLeftBehind.string() << "; exec \"$0\" \"$@\"\nsystem=linux\n";
        setenv("FT232H_E2E_CONFIG", (kWork / "config").c_str(), 1);
    }
    static void TearDownTestSuite() { fs::remove_all(kWork); }

    static pid_t LeftBehind() {
        pid_t pid = 0;
        std::ifstream(kLeftBehind) >> pid;
        return pid;
    }
    // Gone, or a zombie that nobody will wait for: given a moment.
    static bool Ended(pid_t pid) {
        for (int i = 0; i < 100; ++i) {
            std::ifstream status("/proc/" + std::to_string(pid) + "/stat");
            std::string skipped;
            std::string state;
            if (!(status >> skipped >> skipped >> state) || state == "Z") {
                return true;
            }
            usleep(20000);
        }
        return false;
    }
};

TEST_F(SandboxRuns, WhatARunLeavesBehindEndsWithTheSandbox) {
    pid_t left = 0;
    {
        const ToolSandbox sandbox;
        EXPECT_EQ(sandbox.Run({}).exitStatus, 0);
        left = LeftBehind();
        ASSERT_GT(left, 0);
        EXPECT_FALSE(Ended(left)) << "the launcher's sleep should outlive the run";
    }
    EXPECT_TRUE(Ended(left));
}

// CTest ends a runner that overruns with SIGKILL, which no destructor sees.
TEST_F(SandboxRuns, WhatARunLeavesBehindEndsWithARunnerThatIsKilled) {
    fs::remove(kLeftBehind);
    const pid_t runner = fork();
    ASSERT_GE(runner, 0);
    if (runner == 0) {
        const ToolSandbox sandbox;
        sandbox.Run({});
        pause();
        _exit(0);
    }
    for (int i = 0; i < 500 && LeftBehind() == 0; ++i) {
        usleep(20000);
    }
    const pid_t left = LeftBehind();
    ASSERT_GT(left, 0);
    EXPECT_FALSE(Ended(left));
    kill(runner, SIGKILL);
    waitpid(runner, nullptr, 0);
    EXPECT_TRUE(Ended(left));
}

}  // namespace
}  // namespace ft232h::e2e
