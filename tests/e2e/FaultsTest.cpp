// The headless recorder against a simulated instrument that misbehaves, and a polling thread
// held past the stop's bound.

#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include "core/telemetry/TelemetryFormat.h"
#include "support/ChildProcess.h"
#include "support/SimulatedUnit.h"
#include "support/TelemetryTestData.h"
#include "support/TempDir.h"

namespace corvane3::testing {
namespace {

namespace fs = std::filesystem;

// The records of a .csd file; a failure for anything but whole records of the header's width.
std::vector<std::string> WholeRecords(const fs::path& file) {
    if (!fs::exists(file)) {
        return {};
    }
    const std::vector<std::string> lines = CsdLines(file);
    EXPECT_FALSE(lines.empty()) << file << ": no header";
    EXPECT_FALSE(!lines.empty() && lines.back().starts_with("(unterminated) ")) << file;
    for (const std::string& line : lines) {
        EXPECT_EQ(Columns(line), Columns(lines.front())) << line;
        EXPECT_TRUE(std::ranges::all_of(line, [](unsigned char c) { return std::isprint(c); }))
            << line;
    }
    return lines.empty() ? lines : std::vector<std::string>(lines.begin() + 1, lines.end());
}

// A simulator with these options on a link in dir, and corvane3 --headless recording from it,
// printing every polling step.
struct RecordingRun {
    std::string output;
    int status;
    std::vector<std::string> records;
};

RecordingRun RecordAgainst(const fs::path& dir, std::vector<std::string> simOptions,
                           const std::string& polls, const std::string& timeout) {
    fs::create_directories(dir);
    const SimulatedUnit unit(dir, std::move(simOptions));
    if (!unit.Started()) {
        return {"the simulator did not start", -1, {}};
    }
    ChildProcess headless(HeadlessArguments(
        dir, unit.Link(),
        {"--polls", polls, "--timeout", timeout, "--record", dir.string(), "--verbose"}));
    // The list is read in order: the output, then the status, then the file.
    return {headless.ReadAll(), headless.Wait(), WholeRecords(dir / "Unit1234.csd")};
}

// Status lines in this order (others may come between), each alone on its line or followed by
// the port's reason.
bool InOrder(const std::string& output, const std::vector<std::string>& lines) {
    std::size_t from = 0;
    for (const std::string& line : lines) {
        const auto whole = [&](std::size_t end) {
            return output.compare(end, 1, "\n") == 0 || output.compare(end, 2, ": ") == 0;
        };
        std::size_t at = output.find("\n" + line, from);
        while (at != std::string::npos && !whole(at + 1 + line.size())) {
            at = output.find("\n" + line, at + 1);
        }
        if (at == std::string::npos) {
            return false;
        }
        from = at + 1;
    }
    return true;
}

// Each fault of the unit ends the run as expected with only whole records. A file a power cut
// left with a NUL tail or a torn record gets the new records on lines of their own, and
// --summary counts every whole record, old and new.
TEST(FaultsTest, EachFaultEndsTheRunAsExpectedWithOnlyWholeRecords) {
    const std::string header = TelemetryHeaderLine(kModelTq9000) + "\r\n";
    std::string old;
    UnitStateData record = SampleRecord();
    for (int i = 0; i < 10; ++i) {
        record.mjd = 60000.0 + i;
        old += TelemetryRecordLine(record, kModelTq9000) + "\r\n";
    }
    const std::string torn = TelemetryRecordLine(record, kModelTq9000).substr(0, 60);
    struct Row {
        const char* name;
        std::vector<std::string> simOptions;
        int status;  // 0: the records came; 3: timed out without one
        std::vector<std::string> statusLines;
        std::size_t records;
        std::string file = "";  // what the record file held before the run
    };
    const std::vector<Row> rows{
        {"none", {}, 0, {"Unit Online", "D1...OK"}, 3},
        {"silent", {"--silent"}, 3, {"Unit Not Responding", "Resetting"}, 0},
        {"truncated", {"--truncate", "5"}, 3, {"Unit Not Responding"}, 0},
        {"gap inside replies", {"--gap"}, 3, {"Unit Not Responding"}, 0},
        {"garbage before replies", {"--garbage", "xx\\x01"}, 3, {"Unit Not Responding"}, 0},
        {"high bits", {"--high-bit"}, 0, {"Unit Online", "D1...OK"}, 3},
        {"corrupt D1 mode", {"--corrupt-d1", "mode"}, 3, {"Unit Online", "Error"}, 0},
        {"refusals", {"--refuse-protected"}, 0, {"Unit Online", "D1...OK"}, 3},
        {"disconnect and reconnect",
         {"--disconnect-after", "3", "--reconnect", "2"},
         0,
         {"Unit Online", "RS232 open failed", "Unit Online"},
         3},
        {"power cut: NUL tail", {}, 0, {"Unit Online"}, 13, header + old + std::string(4096, '\0')},
        {"power cut: torn record", {}, 0, {"Unit Online"}, 13, header + old + torn},
    };
    TempDir dir;
    // The rows run side by side: each waits on its own simulated link most of the time.
    std::vector<std::future<RecordingRun>> runs;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const std::string polls = rows[i].status == 0 ? "3" : "1";
        const std::string timeout = rows[i].status == 0 ? "30" : "8";
        if (!rows[i].file.empty()) {
            fs::create_directories(dir.Path() / std::to_string(i));
            std::ofstream(dir.Path() / std::to_string(i) / "Unit1234.csd", std::ios::binary)
                << rows[i].file;
        }
        runs.push_back(std::async(std::launch::async, RecordAgainst, dir.Path() / std::to_string(i),
                                  rows[i].simOptions, polls, timeout));
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        const RecordingRun run = runs[i].get();
        SCOPED_TRACE(row.name);
        EXPECT_EQ(run.status, row.status) << run.output;
        EXPECT_TRUE(InOrder("\n" + run.output, row.statusLines)) << run.output;
        EXPECT_EQ(run.records.size(), row.records) << run.output;
        if (row.status != 0) {
            EXPECT_EQ(run.output.find("\nMJD "), std::string::npos) << run.output;
            // Nor under another unit's name.
            for (const auto& entry : fs::directory_iterator(dir.Path() / std::to_string(i))) {
                EXPECT_NE(entry.path().extension(), ".csd") << entry.path();
            }
        }
        if (!row.file.empty()) {
            ChildProcess summary({CORVANE3_PROGRAM, "--summary",
                                  (dir.Path() / std::to_string(i) / "Unit1234.csd").string()});
            const std::string out = summary.ReadAll();
            EXPECT_EQ(summary.Wait(), 0) << summary.Err();
            EXPECT_NE(out.find("Unit: Tq9000 S/N 1234\nRecords: 13\n"), std::string::npos) << out;
        }
    }
}

// A port that holds the polling thread inside an exchange past the stop's bound (a hung adapter
// or driver): a termination request still ends the run, which says it ended without the thread.
TEST(FaultsTest, APollingThreadHeldPastTheStopBoundStillLetsTheRunEndAndIsSaid) {
    TempDir dir;
    const SimulatedUnit unit(dir.Path());
    ASSERT_TRUE(unit.Started());
    const fs::path hold = dir.Path() / "hold";
    ChildProcess headless({"/usr/bin/env", "LD_PRELOAD=" CORVANE3_HOLD_PORT_WRITES,
                           "ASAN_OPTIONS=verify_asan_link_order=0",
                           "CORVANE3_HOLD_WRITES_AFTER=" + hold.string(), CORVANE3_PROGRAM,
                           "--headless", "--config", (dir.Path() / "Corvane3.ini").string(),
                           "--port", unit.Link(), "--interval", "2"});
    ASSERT_NE(headless.ReadThrough("MJD ").find("MJD "), std::string::npos) << headless.Err();
    // From the first record on, the next write to the port is held; the signal comes once it is.
    std::ofstream(hold).close();
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (!fs::exists(hold.string() + ".held") && std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(fs::exists(hold.string() + ".held")) << headless.Err();
    headless.Signal(SIGTERM);
    headless.ReadAll();
    EXPECT_EQ(headless.Wait(), 1) << headless.Err();
    EXPECT_NE(headless.Err().find("corvane3: the unit did not let the polling thread end in time; "
                                  "ending without it\n"),
              std::string::npos)
        << headless.Err();
}

}  // namespace
}  // namespace corvane3::testing
