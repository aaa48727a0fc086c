#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "sim/sim_state.hpp"
#include "tests/e2e/expected_output.hpp"
#include "tests/e2e/tool_sandbox.hpp"

namespace ft232h::e2e {

// A sandbox with the tool and the simulator, a world written before the run
// and read back after it.
class EndToEnd : public ::testing::Test {
protected:
    explicit EndToEnd(LibraryKind library = LibraryKind::kSimulator) : sandbox_(library) {}

    void Given(sim::SimState state) {
        state.log = true;
        std::string error;
        ASSERT_TRUE(sim::SaveStateFile(sandbox_.StatePath().string(), state, error)) << error;
    }

    sim::SimState World() const {
        sim::SimState state;
        std::string error;
        EXPECT_EQ(sim::LoadStateFile(sandbox_.StatePath().string(), state, error), sim::LoadResult::Loaded) << error;
        return state;
    }

    std::vector<sim::SimLogEntry> Calls() const {
        std::vector<sim::SimLogEntry> entries;
        std::string error;
        EXPECT_TRUE(sim::ReadLogFile(sandbox_.LogPath().string(), entries, error)) << error;
        return entries;
    }

    // The names of the entry points the runs called on devices, in order.
    std::vector<std::string> DeviceCalls() const {
        std::vector<std::string> names;
        for (const sim::SimLogEntry& entry : Calls()) {
            if (entry.entryPoint != "FT_CreateDeviceInfoList" && entry.entryPoint != "FT_GetDeviceInfoList") {
                names.push_back(entry.entryPoint);
            }
        }
        return names;
    }

    // Runs the tool; whatever happens, it must end with status 0 and write
    // nothing to standard error.
    std::string Run(const std::vector<std::string>& arguments) const {
        const ToolRun run = sandbox_.Run(arguments);
        // Under Wine, standard error also carries Wine's own messages.
        EXPECT_EQ(run.exitStatus, 0) << run.errors;
        if (!ToolUnderTest::FromEnvironment().windows) {
            EXPECT_EQ(run.errors, "");
        }
        return run.output;
    }

    ToolSandbox sandbox_;
};

// Devices at list positions 0 and 2 are FT232H, position 1 another FTDI chip.
inline sim::SimState TwoFt232hAroundAnother() {
    sim::SimState state;
    state.devices = {sim::MakeFt232hDevice("FT000001"), sim::MakeOtherDevice("FT2232A"),
                     sim::MakeFt232hDevice("FT000003")};
    return state;
}

inline std::string TwoFt232hTable() {
    return Table({{0, "FT000001"}, {2, "FT000003"}});
}

}  // namespace ft232h::e2e
