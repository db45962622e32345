#pragma once
// What the simulated instrument received, for tests that check what the program sent.

#include <string>
#include <vector>

#include "sim/SimulatorServer.h"

namespace corvane3::testing {

// One field (the data by default) of every frame with this code the simulator received, in order.
inline std::vector<std::string> SentFields(
    const sim::CSimulatorServer& sim, const std::string& code,
    std::string sim::ReceivedFrame::*field = &sim::ReceivedFrame::data) {
    std::vector<std::string> fields;
    for (const sim::ReceivedFrame& frame : sim.Frames()) {
        if (frame.code == code) {
            fields.push_back(frame.*field);
        }
    }
    return fields;
}

}  // namespace corvane3::testing
