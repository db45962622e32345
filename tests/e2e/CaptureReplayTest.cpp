// A unit's session captured by corvane3 --trace and replayed by corvane3-sim --replay gives the
// same records and the same status lines, the PC's own time stamps aside.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/ChildProcess.h"
#include "support/SimulatedUnit.h"
#include "support/TelemetryTestData.h"
#include "support/TempDir.h"

namespace corvane3::testing {
namespace {

// The lines of text with each record's MJD (the PC's clock) taken out: the first field of a
// telemetry record, the word after "MJD" in a status line.
std::vector<std::string> WithoutTimeStamps(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        if (line.starts_with("MJD ")) {
            line.erase(4, line.find(' ', 4) - 4);
        } else if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0]))) {
            line.erase(0, line.find(','));
        }
        lines.push_back(line);
    }
    return lines;
}

struct Session {
    std::string output;
    std::string records;
};

// Three status records polled headless from the unit at link, recorded in folder.
Session Poll(const std::filesystem::path& folder, const std::string& link,
             const std::vector<std::string>& extra = {}) {
    const std::filesystem::path config = folder / "Corvane3.ini";
    std::filesystem::create_directories(folder);
    std::ofstream(config) << "[COM]\nPortName=" << link << "\n";
    std::vector<std::string> arguments = {
        CORVANE3_PROGRAM, "--headless", "--config", config.string(),
        "--interval",     "2",          "--polls",  "3",
        "--timeout",      "60",         "--record", folder.string()};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    ChildProcess program(arguments);
    Session session{program.ReadAll(), ""};
    EXPECT_EQ(program.Wait(), 0) << session.output << program.Err();
    session.records = FileText(folder / "Unit4321.csd");
    return session;
}

TEST(CaptureReplay, AReplayedTraceGivesTheSameRecordsAndStatusLines) {
    TempDir dir;
    const std::string trace = (dir.Path() / "field.trace").string();
    Session captured, replayed;
    {
        // A 401 with an alarm pending, as a unit in the field might be.
        const SimulatedUnit unit(dir.Path(),
                                 {"--model", "401", "--serial", "4321", "--alarm", "2A"});
        ASSERT_TRUE(unit.Started());
        captured = Poll(dir.Path() / "captured", unit.Link(), {"--trace", trace});
    }
    {
        const SimulatedUnit desk(dir.Path(), {"--replay", trace});
        ASSERT_TRUE(desk.Started());
        replayed = Poll(dir.Path() / "replayed", desk.Link());
    }
    ASSERT_NE(captured.output.find("unit 4321"), std::string::npos) << captured.output;
    EXPECT_EQ(WithoutTimeStamps(replayed.output), WithoutTimeStamps(captured.output));
    const std::vector<std::string> records = WithoutTimeStamps(captured.records);
    ASSERT_EQ(records.size(), 4u) << captured.records;
    EXPECT_EQ(WithoutTimeStamps(replayed.records), records);
}

}  // namespace
}  // namespace corvane3::testing
