#include "core/alerts/EventProgram.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "support/PrometheusServer.h"
#include "support/RecordingSink.h"
#include "support/TelemetryTestData.h"
#include "support/TempDir.h"

namespace corvane3 {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr auto kGenerous = std::chrono::seconds(30);

// A program that does what the event's name says: hang, fail, or write its environment.
std::string WriteProgram(const std::filesystem::path& dir) {
    const std::filesystem::path program = dir / "on event";  // a blank: no shell splits it
    std::ofstream(program)
        << "#!/bin/sh\n"
           "case \"$CORVANE3_EVENT\" in\n"
           "  hang) sleep 1000 ;;\n"
           "  fail) exit 3 ;;\n"
           "esac\n"
           "echo \"$CORVANE3_EVENT|$CORVANE3_SEVERITY|$CORVANE3_UNIT|"
           "$CORVANE3_CHANNEL|$CORVANE3_VALUE|$CORVANE3_TEXT|${CORVANE3_STALE-}\" "
           ">> \"$0.out\"\n";
    ::chmod(program.c_str(), 0755);
    return program.string();
}

using Reports = testing::WaitableLog<std::string>;

// The problems said once there are count of them.
std::vector<std::string> WaitFor(const Reports& reports, std::size_t count) {
    reports.WaitUntil([&](const std::vector<std::string>& items) { return items.size() >= count; });
    return reports.Items();
}

std::string WaitForLines(const std::filesystem::path& file, std::size_t count) {
    std::string text;
    testing::WaitUntil(kGenerous, [&] {
        text = testing::FileText(file);
        return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) >= count;
    });
    return text;
}

UnitEvent Event(const std::string& name) {
    return UnitEvent{name, "warning", "Model Tq9000 SN 1234", "VEM", "2450", "VEM is high."};
}

TEST(EventProgramTest, TheEventReachesTheProgramInItsEnvironmentWithoutAShellOrIsSaidUnstarted) {
    testing::TempDir dir;
    const std::string program = WriteProgram(dir.Path());
    ::setenv("CORVANE3_STALE", "from the parent", 1);
    Reports reports;
    {
        CEventProgram runner(program, [&](const std::string& p) { reports.Add(p); });
        runner.Run(Event("limit-crossed"));
        runner.Run(Event("limit-cleared"));
        EXPECT_EQ(WaitForLines(program + ".out", 2),
                  "limit-crossed|warning|Model Tq9000 SN 1234|VEM|2450|VEM is high.|\n"
                  "limit-cleared|warning|Model Tq9000 SN 1234|VEM|2450|VEM is high.|\n");
    }
    ::unsetenv("CORVANE3_STALE");
    EXPECT_TRUE(reports.Items().empty());

    CEventProgram missing("/nonexistent/notify", [&](const std::string& p) { reports.Add(p); });
    missing.Run(Event("link-lost"));
    EXPECT_THAT(WaitFor(reports, 1),
                ElementsAre("--on-event: /nonexistent/notify: cannot start: No such file or "
                            "directory"));
}

TEST(EventProgramTest, AHangingProgramIsKilledAndFailuresAreSaidOncePerRunOfThem) {
    testing::TempDir dir;
    const std::string program = WriteProgram(dir.Path());
    Reports reports;
    CEventProgram runner(
        program, [&](const std::string& p) { reports.Add(p); }, std::chrono::milliseconds(1000));
    for (const char* name : {"hang", "hang", "fail", "ok", "fail"}) {
        runner.Run(Event(name));
    }
    // Both hangs were killed (or "ok" would never run), the first failure run said once.
    EXPECT_THAT(WaitForLines(program + ".out", 1), HasSubstr("ok|"));
    EXPECT_THAT(WaitFor(reports, 2),
                ElementsAre("--on-event: " + program + ": killed after 1 s without ending",
                            "--on-event: " + program + ": exit status 3"));
}

}  // namespace
}  // namespace corvane3
