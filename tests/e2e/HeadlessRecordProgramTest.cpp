// corvane3 --headless --record against corvane3-sim, both run as programs: the telemetry file
// holds a header and one line per record, with the values the simulator sent.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "sim/TrafficLog.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace corvane3::testing {
namespace {

std::vector<std::string> Split(const std::string& line) {
    std::vector<std::string> fields;
    std::stringstream stream(line);
    std::string field;
    while (std::getline(stream, field, ',')) {
        fields.push_back(field);
    }
    return fields;
}

// The D*1 records the simulator sent, in order, from its transcript.
std::vector<std::string> SentD1Records(const std::filesystem::path& log) {
    std::vector<std::string> records;
    std::ifstream in(log);
    std::string line;
    while (std::getline(in, line)) {
        const auto entry = sim::ParseTrafficLine(line);
        if (entry && entry->direction == sim::TrafficDirection::kSent &&
            entry->bytes.starts_with("\x02" "D*1 ") && entry->bytes.size() == 250) {
            records.push_back(entry->bytes);
        }
    }
    return records;
}

TEST(HeadlessRecordProgramTest, ThreePollsGiveAHeaderAndThreeRecordsOfWhatTheUnitSent) {
    TempDir dir;
    const std::string link = (dir.Path() / "clock").string();
    const std::filesystem::path records = dir.Path() / "records";
    std::filesystem::create_directory(records);
    ChildProcess sim({CORVANE3_SIM_PROGRAM, "--warmup", "0", "--link", link, "--log",
                      (dir.Path() / "sim.log").string()});
    ASSERT_FALSE(sim.ReadLine().empty());

    ChildProcess program({CORVANE3_PROGRAM, "--headless", "--config",
                          (dir.Path() / "Corvane3.ini").string(), "--port", link, "--interval",
                          "2", "--record", records.string(), "--polls", "3"});
    const std::string output = program.ReadAll();
    ASSERT_EQ(program.Wait(), 0) << output;
    sim.Signal(SIGTERM);
    ASSERT_EQ(sim.Wait(), 0);
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "Corvane3.ini"));  // headless never saves

    std::ifstream csd(records / "Unit1234.csd", std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(csd, line);) {
        ASSERT_TRUE(line.ends_with("\r")) << "lines end with CR LF";
        line.pop_back();
        lines.push_back(line);
    }
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_TRUE(lines[0].starts_with("MJD, ID, UnitType, Factory, State"));
    EXPECT_EQ(Split(lines[0]).size(), 51u);

    const std::vector<std::string> sent = SentD1Records(dir.Path() / "sim.log");
    ASSERT_EQ(sent.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        const std::vector<std::string> fields = Split(lines[i + 1]);
        ASSERT_EQ(fields.size(), 51u) << lines[i + 1];
        EXPECT_EQ(fields[1], "1234");
        EXPECT_EQ(fields[2], " 403");
        EXPECT_EQ(std::stoi(fields[11]), std::stoi(sent[i].substr(86, 4))) << "CRamErr";
        EXPECT_EQ(std::stoi(fields[13]), std::stoi(sent[i].substr(120, 4))) << "CLevel";
        EXPECT_EQ(std::stoi(fields[32]), std::stoi(sent[i].substr(61, 7))) << "FreqTune";
        EXPECT_NEAR(std::stod(fields[24]), std::stod(sent[i].substr(175, 5)), 0.0005)
            << "TChassis";
    }
}

}  // namespace
}  // namespace corvane3::testing
