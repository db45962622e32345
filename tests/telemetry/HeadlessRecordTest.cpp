// corvane3 --headless with a record directory, run in-process against the simulated unit on a
// pseudo-terminal: the .csd file it leaves, and the errors that end the run.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "app/HeadlessRun.h"
#include "link/StatusRecords.h"
#include "sim/SimulatorServer.h"
#include "support/TempDir.h"
#include "telemetry/TelemetryFormat.h"
#include "telemetry/TelemetryTestData.h"

namespace corvane3 {
namespace {

namespace fs = std::filesystem;
using testing::Columns;
using testing::CsdLines;
using ::testing::HasSubstr;
using namespace std::chrono_literals;

std::vector<std::string> Split(const std::string& text) {
    std::vector<std::string> parts;
    std::istringstream fields(text);
    for (std::string field; std::getline(fields, field, ',');) {
        parts.push_back(field);
    }
    return parts;
}

class HeadlessRecordTest : public ::testing::Test {
  protected:
    void StartSimulator() {
        sim::SimulatorOptions options;
        options.instrument.model = kModelTq9000;
        options.instrument.serial = 1234;
        options.instrument.warmup = 0ms;
        options.link = dir_.Path() / "unit";
        sim_ = std::make_unique<sim::CSimulatorServer>(options);
        ASSERT_TRUE(sim_->IsOpen()) << sim_->Error();
    }
    int Run(HeadlessOptions options) {
        options.port = (dir_.Path() / "unit").string();
        options.intervalSeconds = kMinPollingInterval;
        return RunHeadless(app_, options, out_, err_, interrupted_);
    }
    // The D*1 records the simulator sent, in order, as the program parses them.
    std::vector<D1Record> D1RecordsSent() const {
        std::vector<D1Record> records;
        for (const std::string& reply : sim_->Replies()) {
            D1Record record;
            if (reply.size() == kD1ReplyLength && ParseD1Record(reply, record)) {
                records.push_back(record);
            }
        }
        return records;
    }

    testing::TempDir dir_;
    std::unique_ptr<sim::CSimulatorServer> sim_;
    Corvane3App app_;
    std::ostringstream out_, err_;
    std::atomic<bool> interrupted_{false};
};

TEST_F(HeadlessRecordTest, RecordsAHeaderAndEveryStatusRecordTheUnitSent) {
    StartSimulator();
    const fs::path records = dir_.Path() / "records";
    fs::create_directory(records);
    // The record directory wins over a configuration that does not record.
    app_.settings.RecordDataFile = false;
    app_.settings.DatafileDirectory = (dir_.Path() / "elsewhere").string();
    HeadlessOptions options;
    options.polls = 3;
    options.recordDirectory = records.string();
    ASSERT_EQ(Run(options), 0) << err_.str();
    EXPECT_EQ(err_.str(), "");

    const std::vector<std::string> lines = CsdLines(records / "Unit1234.csd");
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], TelemetryHeaderLine(kModelTq9000));
    const std::vector<D1Record> sent = D1RecordsSent();
    ASSERT_GE(sent.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE("record " + std::to_string(i + 1));
        const std::vector<std::string> fields = Split(lines[i + 1]);
        ASSERT_EQ(Columns(lines[i + 1]), kTelemetryColumnsTq9000);
        EXPECT_EQ(fields[1], "1234");
        EXPECT_EQ(fields[2], " 403");
        EXPECT_EQ(std::stoul(fields[4]), sent[i].state);
        EXPECT_EQ(std::stoul(fields[9], nullptr, 16), sent[i].alarm5);
        EXPECT_EQ(std::stoi(fields[11]), sent[i].cRamErr);
        EXPECT_EQ(std::stoi(fields[13]), sent[i].cLevel);
        EXPECT_EQ(std::stoi(fields[32]), sent[i].freqTune);
        EXPECT_NEAR(std::stod(fields[33]), sent[i].pos21V, 0.0005);
        EXPECT_NEAR(std::stod(fields[24]), sent[i].tChassis, 0.0005);
    }
}

TEST_F(HeadlessRecordTest, UnusableRecordingEndsTheRunBeforePolling) {
    struct Case {
        std::string recordDirectory;
        bool configuredToRecord;
        std::string message;
    };
    const std::string missing = (dir_.Path() / "missing").string();
    for (const Case& c : std::vector<Case>{
             {missing, false, "Unable to save to directory:\n" + missing + "/"},
             {"", true, "Output data directory not set."},
             {dir_.Path().string() + ";x", false, "';'"},
         }) {
        SCOPED_TRACE(c.message);
        err_.str("");
        app_.settings.DatafileDirectory = "";
        app_.settings.RecordDataFile = c.configuredToRecord;
        HeadlessOptions options;
        options.recordDirectory = c.recordDirectory;
        EXPECT_EQ(Run(options), 1);
        EXPECT_THAT(err_.str(), HasSubstr(c.message));
        EXPECT_EQ(out_.str(), "");
    }
}

}  // namespace
}  // namespace corvane3
