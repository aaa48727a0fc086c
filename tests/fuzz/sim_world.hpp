// The simulated library's world for a fuzz target that links it in-process:
// a state file in the scratch directory, the library pointed at it, and the
// log of the calls the library answered.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "sim/sim_state.hpp"
#include "tests/fuzz/fuzz_support.hpp"

namespace ft232h::fuzz {

inline const std::string& StatePath() {
    static const std::string path = [] {
        std::string state = ScratchFile(sim::kStateFileName).string();
        Require(setenv(sim::kStateEnvironmentVariable, state.c_str(), 1) == 0, "cannot name the simulator's world");
        return state;
    }();
    return path;
}

// Replaces the world, with every call logged from here on.
inline void UseWorld(sim::SimState state) {
    state.log = true;
    std::string error;
    Require(sim::SaveStateFile(StatePath(), state, error), "cannot write the simulator's world");
    std::error_code ignored;
    std::filesystem::remove(sim::LogPathForState(StatePath()), ignored);
}

inline sim::SimState World() {
    sim::SimState state;
    std::string error;
    Require(sim::LoadStateFile(StatePath(), state, error) == sim::LoadResult::Loaded, "the world does not load");
    return state;
}

// The calls since UseWorld, in order.
inline std::vector<sim::SimLogEntry> Calls() {
    std::vector<sim::SimLogEntry> calls;
    std::string error;
    Require(sim::ReadLogFile(sim::LogPathForState(StatePath()), calls, error), "the simulator's log does not read");
    return calls;
}

}  // namespace ft232h::fuzz
