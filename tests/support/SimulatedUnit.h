#pragma once
// What the end-to-end tests of the programs share: corvane3-sim on a link for a test's length,
// a headless run serving metrics, and counting a part in a run's output.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "support/ChildProcess.h"

namespace corvane3::testing {

// corvane3-sim with --warmup 0 and these options on dir/clock; stopped as a service manager
// stops it when the test ends, which it must survive with status 0.
class SimulatedUnit {
  public:
    explicit SimulatedUnit(const std::filesystem::path& dir, std::vector<std::string> options = {})
        : link_((dir / "clock").string()), sim_(Arguments(link_, std::move(options))) {
        started_ = !sim_.ReadLine().empty();
    }
    ~SimulatedUnit() {
        sim_.Signal(SIGTERM);
        EXPECT_EQ(sim_.Wait(), 0) << sim_.Err();
    }
    // False when the simulator said nothing: its link is not there.
    bool Started() const { return started_; }
    const std::string& Link() const { return link_; }

  private:
    static std::vector<std::string> Arguments(const std::string& link,
                                              std::vector<std::string> options) {
        options.insert(options.begin(), {CORVANE3_SIM_PROGRAM, "--warmup", "0", "--link", link});
        return options;
    }

    std::string link_;
    ChildProcess sim_;
    bool started_ = false;
};

// corvane3 --headless --metrics 0 on link, recording in dir, with these further arguments; port
// is the one it says it took, 0 when it said something else.
struct MetricsRun {
    std::unique_ptr<ChildProcess> program;
    int port = 0;
    std::string firstLine;

    // Stops the run as a service manager does, which it ends with status 0; the rest of its output.
    std::string Stop() {
        program->Signal(SIGTERM);
        std::string rest = program->ReadAll();
        EXPECT_EQ(program->Wait(), 0) << program->Err();
        return rest;
    }
};

// corvane3 --headless with dir/Corvane3.ini, polling link every 2 s, then more.
inline std::vector<std::string> HeadlessArguments(const std::filesystem::path& dir,
                                                  const std::string& link,
                                                  const std::vector<std::string>& more = {}) {
    std::vector<std::string> arguments{
        CORVANE3_PROGRAM, "--headless", "--config",   (dir / "Corvane3.ini").string(),
        "--port",         link,         "--interval", "2"};
    arguments.insert(arguments.end(), more.begin(), more.end());
    return arguments;
}

inline MetricsRun StartMetricsRun(const std::filesystem::path& dir, const std::string& link,
                                  const std::vector<std::string>& more = {}) {
    std::vector<std::string> arguments =
        HeadlessArguments(dir, link, {"--record", dir.string(), "--metrics", "0"});
    arguments.insert(arguments.end(), more.begin(), more.end());
    MetricsRun run;
    run.program = std::make_unique<ChildProcess>(arguments);
    run.firstLine = run.program->ReadLine();
    // With its journal priority in front when the run writes to the journal.
    const std::regex said(R"((?:<6>)?Metrics on http://127\.0\.0\.1:(\d+)/metrics)");
    std::smatch match;
    if (std::regex_match(run.firstLine, match, said)) {
        run.port = std::stoi(match[1]);
    }
    return run;
}

inline std::size_t Occurrences(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

}  // namespace corvane3::testing
