// Sessions captured from units (tests/fixtures/sessions/*/session.trace, made by its record
// script) replayed against the headless run and the window: nothing changed since.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>

#include "support/ChildProcess.h"
#include "support/SimulatedUnit.h"
#include "support/TelemetryTestData.h"
#include "support/TempDir.h"

namespace corvane3::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::StartsWith;

// The text with the MJD (the PC's clock) taken out of status lines and records, as the
// recording script does.
std::string WithoutTimeStamps(const std::string& text) {
    static const std::regex statusTime("^MJD [0-9.]+ ", std::regex::multiline);
    static const std::regex recordTime("^[0-9][0-9.]*,", std::regex::multiline);
    return std::regex_replace(std::regex_replace(text, statusTime, "MJD "), recordTime, ",");
}

class GoldenSessions : public ::testing::TestWithParam<std::string> {
  protected:
    fs::path Session() const { return fs::path(CORVANE3_FIXTURES) / "sessions" / GetParam(); }

    // The simulator replaying the session on a new terminal.
    std::unique_ptr<SimulatedUnit> Replay() {
        auto unit = std::make_unique<SimulatedUnit>(
            dir_.Path(),
            std::vector<std::string>{"--replay", (Session() / "session.trace").string()});
        EXPECT_TRUE(unit->Started());
        return unit;
    }

    TempDir dir_;
};

TEST_P(GoldenSessions, HeadlessRunGivesTheRecordedLinesRecordsAndStatus) {
    const auto unit = Replay();
    const fs::path records = dir_.Path() / "records";
    std::vector<std::string> arguments =
        HeadlessArguments(dir_.Path(), unit->Link(), {"--record", records.string()});
    std::istringstream words(FileText(Session() / "arguments"));
    arguments.insert(arguments.end(), std::istream_iterator<std::string>(words), {});
    ChildProcess headless(arguments);
    const std::string output = headless.ReadAll();
    EXPECT_EQ(std::to_string(headless.Wait()) + "\n", FileText(Session() / "expected.status"))
        << headless.Err();
    EXPECT_EQ(WithoutTimeStamps(output), FileText(Session() / "expected.out"));
    std::string recorded;
    for (const auto& entry : fs::directory_iterator(records)) {
        if (entry.path().extension() == ".csd") {
            recorded = WithoutTimeStamps(FileText(entry.path()));
        }
    }
    const fs::path expectedRecords = Session() / "expected.csd";
    EXPECT_EQ(recorded, fs::exists(expectedRecords) ? FileText(expectedRecords) : "");
}

// Each session's window pictured once its first record came: the picture is the record's, not
// the port's, which differs from run to run.
TEST(GoldenSessionWindows, EachShowsItsOwnRecord) {
    std::map<std::string, std::string> pictures;  // by session
    for (const char* session : {"tq9000-cold-start", "chronobeam-alarm", "drop-mid-reply"}) {
        SCOPED_TRACE(session);
        const fs::path fixture = fs::path(CORVANE3_FIXTURES) / "sessions" / session;
        ASSERT_TRUE(fs::exists(fixture / "expected.csd"));
        TempDir dir;
        SimulatedUnit unit(dir.Path(), {"--replay", (fixture / "session.trace").string()});
        ASSERT_TRUE(unit.Started());
        const fs::path config = dir.Path() / "Corvane3.ini";
        std::ofstream(config) << "[COM]\nPortName=" << unit.Link() << "\n";
        const std::string shot = (dir.Path() / "shot.png").string();
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ChildProcess window({CORVANE3_PROGRAM, "--config", config.string(), "--screenshot", shot});
        EXPECT_NE(window.ReadAll().find("screenshot saved"), std::string::npos) << window.Err();
        EXPECT_EQ(window.Wait(), 0);
        pictures[session] = fs::exists(shot) ? FileText(shot) : "";
        EXPECT_THAT(pictures[session], StartsWith("\x89PNG"));
    }
    // The ChronoBeam sessions begin with the same record, on ports of other names: the same
    // picture. The Tq9000's record gives another.
    EXPECT_EQ(pictures["chronobeam-alarm"], pictures["drop-mid-reply"]);
    EXPECT_NE(pictures["tq9000-cold-start"], pictures["chronobeam-alarm"]);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, GoldenSessions,
                         ::testing::Values("tq9000-cold-start", "chronobeam-alarm",
                                           "drop-mid-reply"),
                         [](const auto& info) {
                             std::string name = info.param;
                             std::erase(name, '-');
                             return name;
                         });

}  // namespace
}  // namespace corvane3::testing
