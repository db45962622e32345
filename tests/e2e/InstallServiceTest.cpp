// The logging service's command line as the installed unit runs it, against corvane3-sim: the
// service manager's stop (SIGTERM) in the middle of a poll ends it cleanly with its records whole.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "support/ChildProcess.h"
#include "support/TempDir.h"
#include "telemetry/TelemetryTestData.h"

namespace corvane3::testing {
namespace {

TEST(InstallServiceTest, StopWhileRecordingLeavesEveryLineWithTheHeadersFields) {
    TempDir dir;
    const std::string link = (dir.Path() / "ttyUSB0").string();
    const std::filesystem::path records = dir.Path() / "records";
    std::filesystem::create_directory(records);
    ChildProcess sim({CORVANE3_SIM_PROGRAM, "--warmup", "0", "--link", link});
    ASSERT_FALSE(sim.ReadLine().empty());

    // No configuration file: the service may run without one.
    ChildProcess service({CORVANE3_PROGRAM, "--headless", "--config",
                          (dir.Path() / "absent.ini").string(), "--port", link, "--record",
                          records.string(), "--interval", "2"});
    constexpr int kRecordsBeforeStop = 3;
    int recorded = 0;
    for (std::string line = service.ReadLine(); !line.empty(); line = service.ReadLine()) {
        recorded += line.starts_with("MJD ");
        // The next poll has begun: its status record is being read.
        if (recorded == kRecordsBeforeStop && line == "D1...") {
            service.Signal(SIGTERM);
            break;
        }
    }
    ASSERT_EQ(recorded, kRecordsBeforeStop) << service.Err();
    service.ReadAll();
    EXPECT_EQ(service.Wait(), 0) << service.Err();

    const std::vector<std::string> lines = CsdLines(records / "Unit1234.csd");
    ASSERT_GE(lines.size(), 1u + kRecordsBeforeStop);
    const auto fields = [](const std::string& line) { return std::ranges::count(line, ','); };
    for (const std::string& line : lines) {
        EXPECT_EQ(fields(line), fields(lines.front())) << line;
    }
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 0);
}

}  // namespace
}  // namespace corvane3::testing
