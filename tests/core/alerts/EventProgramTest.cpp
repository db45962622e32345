#include "core/alerts/EventProgram.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <condition_variable>
#include <fstream>
#include <mutex>

#include "support/PrometheusServer.h"
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

class Reports {
  public:
    void Add(const std::string& problem) {
        std::lock_guard lock(mutex_);
        problems_.push_back(problem);
        changed_.notify_all();
    }
    std::vector<std::string> WaitFor(std::size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, kGenerous, [&] { return problems_.size() >= count; });
        return problems_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> problems_;
};

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

TEST(EventProgramTest, TheEventReachesTheProgramInItsEnvironmentWithoutAShell) {
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
    EXPECT_TRUE(reports.WaitFor(0).empty());
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
    EXPECT_THAT(reports.WaitFor(2),
                ElementsAre("--on-event: " + program + ": killed after 1 s without ending",
                            "--on-event: " + program + ": exit status 3"));
}

TEST(EventProgramTest, AProgramThatCannotStartIsSaid) {
    Reports reports;
    CEventProgram runner("/nonexistent/notify", [&](const std::string& p) { reports.Add(p); });
    runner.Run(Event("link-lost"));
    EXPECT_THAT(reports.WaitFor(1),
                ElementsAre("--on-event: /nonexistent/notify: cannot start: No such file or "
                            "directory"));
}

}  // namespace
}  // namespace corvane3
