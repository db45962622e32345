// The logging service's command line, against corvane3-sim: the service manager's stop
// (SIGTERM) in the middle of a poll ends the run cleanly with every record whole.

#include <gtest/gtest.h>

#include <algorithm>

#include "support/ChildProcess.h"
#include "support/TelemetryTestData.h"
#include "support/TempDir.h"

namespace corvane3::testing {
namespace {

TEST(InstallServiceTest, StopWhileRecordingLeavesEveryLineWithTheHeadersFields) {
    TempDir dir;
    const std::string link = (dir.Path() / "ttyUSB0").string();
    ChildProcess sim({CORVANE3_SIM_PROGRAM, "--warmup", "0", "--link", link});
    ASSERT_FALSE(sim.ReadLine().empty());
    // As the unit runs it, with no configuration file; --verbose shows when a poll begins.
    ChildProcess service({CORVANE3_PROGRAM, "--headless", "--config",
                          (dir.Path() / "absent.ini").string(), "--port", link, "--record",
                          dir.Path().string(), "--interval", "2", "--verbose"});
    constexpr int kRecordsBeforeStop = 3;
    int recorded = 0;
    for (std::string line = service.ReadLine(); !line.empty(); line = service.ReadLine()) {
        recorded += line.starts_with("MJD ");
        if (recorded == kRecordsBeforeStop && line == "D1...") {  // the next record is on its way
            service.Signal(SIGTERM);
            break;
        }
    }
    ASSERT_EQ(recorded, kRecordsBeforeStop) << service.Err();
    service.ReadAll();
    EXPECT_EQ(service.Wait(), 0) << service.Err();

    const std::vector<std::string> lines = CsdLines(dir.Path() / "Unit1234.csd");
    ASSERT_GE(lines.size(), 1u + kRecordsBeforeStop);
    for (const std::string& line : lines) {
        EXPECT_EQ(std::ranges::count(line, ','), std::ranges::count(lines.front(), ',')) << line;
    }
}

}  // namespace
}  // namespace corvane3::testing
