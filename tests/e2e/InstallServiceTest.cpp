// The logging service's command line against corvane3-sim: a second run on its port is refused,
// a stop (SIGTERM) in the middle of a poll leaves every record whole, and the unit's file mask
// makes the records readable by its group and no one else.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <regex>

#include "support/ChildProcess.h"
#include "support/SimulatedUnit.h"
#include "support/TelemetryTestData.h"
#include "support/TempDir.h"

namespace corvane3::testing {
namespace {

TEST(InstallServiceTest, ThePortIsItsOwnAndAStopLeavesWholeLinesReadableByTheGroupOnly) {
    const std::string unit = FileText(CORVANE3_SERVICE_UNIT);
    std::smatch mask;
    ASSERT_TRUE(std::regex_search(unit, mask, std::regex(R"(\nUMask=([0-7]{3,4})\n)"))) << unit;
    // Its control socket in the runtime folder that every instance shares.
    EXPECT_NE(unit.find(" --control /run/corvane3/%i.sock "), std::string::npos) << unit;
    EXPECT_NE(unit.find("\nRuntimeDirectory=corvane3\n"), std::string::npos) << unit;
    EXPECT_NE(unit.find("\nRuntimeDirectoryPreserve=yes\n"), std::string::npos) << unit;
    TempDir dir;
    SimulatedUnit clock(dir.Path());
    ASSERT_TRUE(clock.Started());
    // As the unit runs it, with no configuration file; --verbose shows when a poll begins.
    const mode_t before = ::umask(static_cast<mode_t>(std::stoi(mask[1], nullptr, 8)));
    const std::filesystem::path socket = dir.Path() / "control.sock";
    ChildProcess service(HeadlessArguments(
        dir.Path(), clock.Link(),
        {"--record", dir.Path().string(), "--verbose", "--control", socket.string()}));
    ::umask(before);
    constexpr int kRecordsBeforeStop = 3;
    int recorded = 0;
    for (std::string line = service.ReadLine(); !line.empty(); line = service.ReadLine()) {
        recorded += line.starts_with("MJD ");
        if (recorded == 1 && line.starts_with("MJD ")) {
            // The group may open the control socket whatever the unit's file mask.
            struct stat status {};
            ASSERT_EQ(::lstat(socket.c_str(), &status), 0);
            EXPECT_EQ(status.st_mode & 0777, static_cast<mode_t>(0660)) << std::oct << status.st_mode;
            // Two programs on one port would spoil each other's replies, root or not: the
            // second is refused and told which process has the port.
            ChildProcess second(
                HeadlessArguments(dir.Path(), clock.Link(), {"--polls", "1", "--timeout", "10"}));
            second.ReadAll();
            EXPECT_EQ(second.Wait(), 1);
            EXPECT_NE(second.Err().find("in use by process " + std::to_string(service.Pid()) +
                                        " (corvane3)"),
                      std::string::npos)
                << second.Err();
        }
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
    struct stat info {};
    ASSERT_EQ(::stat((dir.Path() / "Unit1234.csd").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, static_cast<mode_t>(S_IRUSR | S_IWUSR | S_IRGRP))
        << std::oct << (info.st_mode & 0777);
}

}  // namespace
}  // namespace corvane3::testing
