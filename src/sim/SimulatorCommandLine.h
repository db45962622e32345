#pragma once
// The corvane3-sim command line.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "sim/SimulatorServer.h"

namespace corvane3::sim {

struct SimulatorCommandLine {
    SimulatorOptions options;
    std::optional<std::chrono::milliseconds> disconnectAfter;  // from the start
    bool help = false;
    bool version = false;
    std::string error;  // empty when the command line was understood
};

// Reads the arguments after the program name. Loads the --override file.
SimulatorCommandLine ParseSimulatorCommandLine(const std::vector<std::string>& arguments);
// The --help text.
std::string SimulatorUsage();

}  // namespace corvane3::sim
