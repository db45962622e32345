#include "core/alerts/EventProgram.h"
#include "core/alerts/ProgramOutput.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <tuple>

#include "support/PrometheusServer.h"
#include "support/RecordingSink.h"
#include "support/TelemetryTestData.h"
#include "support/TempDir.h"

namespace corvane3 {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr auto kGenerous = std::chrono::seconds(30);

// A program that does what the event's name says: hang, fail, or write its environment.
std::string WriteProgram(const std::filesystem::path& dir) {
    const std::filesystem::path program = dir / "on event";  // a blank: no shell splits it
    std::ofstream(program)
        << "#!/bin/sh\n"
           "case \"$CORVANE3_EVENT\" in\n"
           "  hang) : > \"$0.hanging\"; sleep 1000 ;;\n"
           "  slow) sleep 1 ;;\n"
           "  fail) exit 3 ;;\n"
           "  talk) cat; echo out; printf 'err\\033' >&2; head -c 5000 /dev/zero | tr '\\0' x;;\n"
           "esac\n"
           "echo \"$CORVANE3_EVENT|$CORVANE3_SEVERITY|$CORVANE3_UNIT|"
           "$CORVANE3_CHANNEL|$CORVANE3_VALUE|$CORVANE3_TEXT|${CORVANE3_STALE-}\" "
           ">> \"$0.out\"\n";
    ::chmod(program.c_str(), 0755);
    return program.string();
}

using Reports = testing::WaitableLog<std::string>;

std::string WaitForLines(const std::filesystem::path& file, std::size_t count) {
    std::string text;
    testing::WaitUntil(kGenerous, [&] {
        text = testing::FileText(file);
        return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) >= count;
    });
    return text;
}

UnitEvent Event(const std::string& name, const std::string& severity = "warning",
                const std::string& channel = "VEM") {
    return UnitEvent{name, severity, "Model Tq9000 SN 1234", channel, "2450", "VEM is high."};
}
TEST(EventQueueTest, CriticalNewsGoesFirstAndTheLastWordAboutEachThingIsKept) {
    // Each row: the queue's capacity, the events pushed (name/severity/channel), the order taken
    // (name and channel).
    using Events = std::vector<std::vector<std::string>>;
    const std::tuple<std::size_t, Events, std::vector<std::string>> cases[] = {
        // A link lost overtakes limit events, but never the earlier news of its own link.
        {8,
         {{"limit-crossed", "warning", "VEM"}, {"link-lost", "critical", ""},
          {"link-back", "info", ""}, {"link-lost", "critical", ""}},
         {"link-lost ", "limit-crossed VEM", "link-back ", "link-lost "}},
        // Full: the lost link that came back is folded away rather than lose newer news.
        {3,
         {{"link-lost", "critical", ""}, {"limit-crossed", "warning", "VEM"},
          {"link-back", "info", ""}, {"limit-crossed", "warning", "TC"}},
         {"limit-crossed VEM", "link-back ", "limit-crossed TC"}},
        // Nothing superseded: the oldest lesser event goes, then the oldest critical one.
        {2,
         {{"alarm", "critical", "a1"}, {"limit-crossed", "warning", "VEM"},
          {"limit-cleared", "info", "TC"}},
         {"alarm a1", "limit-cleared TC"}},
        {2,
         {{"alarm", "critical", "a1"}, {"alarm", "critical", "a2"}, {"alarm", "critical", "a3"}},
         {"alarm a2", "alarm a3"}},
    };
    for (const auto& [capacity, pushed, order] : cases) {
        CEventQueue queue(capacity);
        std::size_t drops = 0;
        for (const auto& e : pushed) {
            drops += queue.Push({Event(e[0], e[1], e[2]), "now"}) ? 1 : 0;
        }
        EXPECT_EQ(drops, pushed.size() - order.size());
        std::vector<std::string> taken;
        while (!queue.Empty()) {
            const QueuedEvent next = queue.Take();
            taken.push_back(next.event.name + " " + next.event.channel);
        }
        EXPECT_EQ(taken, order);
    }
}

TEST(ProgramOutputTest, LinesAreEndedCleanedAndBounded) {
    CProgramOutput output(20);
    EXPECT_THAT(output.Add("one\n\ntw"), ElementsAre("one"));
    EXPECT_THAT(output.Add("o\x1b[1m\r\nthree"), ElementsAre("two?[1m?"));
    EXPECT_THAT(output.Add("!!"), IsEmpty());
    EXPECT_THAT(output.End(), ElementsAre("three!", "(1 more bytes of output not shown)"));
    EXPECT_THAT(output.Add("again"), IsEmpty());
    EXPECT_THAT(output.End(), ElementsAre("again"));
}

// The program in a folder of its own, and the problems the runner says.
class EventProgramTest : public ::testing::Test {
  protected:
    CEventProgram::ReportFunction Report() {
        return [this](const std::string& problem) { reports.Add(problem); };
    }
    testing::TempDir dir;
    const std::string program = WriteProgram(dir.Path());
    Reports reports;
};

TEST_F(EventProgramTest, TheEventReachesTheProgramInItsEnvironmentWithoutAShellOrIsSaidUnstarted) {
    ::setenv("CORVANE3_STALE", "from the parent", 1);
    {
        CEventProgram runner(program, Report());
        runner.Run(Event("limit-crossed"));
        runner.Run(Event("limit-cleared"));
        EXPECT_EQ(WaitForLines(program + ".out", 2),
                  "limit-crossed|warning|Model Tq9000 SN 1234|VEM|2450|VEM is high.|\n"
                  "limit-cleared|warning|Model Tq9000 SN 1234|VEM|2450|VEM is high.|\n");
    }
    ::unsetenv("CORVANE3_STALE");
    EXPECT_TRUE(reports.Items().empty());

    // Said at start, and not again at the first event.
    const std::filesystem::path notExecutable = dir.Path() / "not executable";
    std::ofstream(notExecutable) << "#!/bin/sh\n";
    for (const std::string& name :
         {std::string("/nonexistent/notify"), notExecutable.string(), std::string("no-such-x9")}) {
        CEventProgram missing(name, Report());
        missing.Run(Event("link-lost"));
        EXPECT_EQ(missing.Finish(kGenerous), "");
    }
    EXPECT_THAT(reports.Items(),
                ElementsAre("--on-event: /nonexistent/notify: cannot start: No such file or "
                            "directory",
                            "--on-event: " + notExecutable.string() +
                                ": cannot start: Permission denied",
                            "--on-event: no-such-x9: cannot start: not found in PATH"));
}

TEST_F(EventProgramTest, TheProgramReadsNothingAndItsOutputComesBackAsMarkedBoundedLines) {
    Reports output;
    CEventProgram runner(program, Report(), [&](const std::string& line) { output.Add(line); });
    runner.Run(Event("talk"));
    EXPECT_EQ(runner.Finish(kGenerous), "");
    const std::string said = "--on-event: " + program + " said: ";
    EXPECT_THAT(output.Items(), ElementsAre(said + "out", said + "err?" + std::string(4088, 'x'),
                                            said + "(912 more bytes of output not shown)"));
    EXPECT_THAT(reports.Items(), IsEmpty());
}

TEST_F(EventProgramTest, AtTheEndQueuedEventsAreDeliveredWithinTheBoundAndWhatIsCutIsSaid) {
    {
        CEventProgram runner(program, Report());
        for (const char* name : {"slow", "after-slow", "last"}) {
            runner.Run(Event(name));
        }
        EXPECT_EQ(runner.Finish(kGenerous), "");
        runner.Run(Event("too late"));
    }
    EXPECT_EQ(testing::FileText(program + ".out"),
              "slow|warning|Model Tq9000 SN 1234|VEM|2450|VEM is high.|\n"
              "after-slow|warning|Model Tq9000 SN 1234|VEM|2450|VEM is high.|\n"
              "last|warning|Model Tq9000 SN 1234|VEM|2450|VEM is high.|\n");

    CEventProgram runner(program, Report());
    for (const char* name : {"hang", "never", "nor this"}) {
        runner.Run(Event(name, "warning", name));
    }
    EXPECT_EQ(runner.Finish(std::chrono::seconds(1)),
              "--on-event: " + program +
                  ": cut short at exit after 1 s: the running program was killed, 2 events "
                  "were not delivered");
    EXPECT_THAT(reports.Items(), IsEmpty());
}

TEST_F(EventProgramTest, BehindAHungProgramTheNewestNewsIsKeptAndDroppingIsSaidOnce) {
    CEventProgram runner(program, Report(), {}, std::chrono::milliseconds(1000));
    runner.Run(Event("hang"));
    ASSERT_TRUE(testing::WaitUntil(kGenerous, [&] {
        return std::filesystem::exists(program + ".hanging");
    }));
    const auto limits = [&](int count) {
        for (int i = 0; i < count; ++i) {
            runner.Run(Event("limit-crossed", "warning", "TC" + std::to_string(i % 3)));
        }
    };
    limits(100);
    runner.Run(Event("link-lost", "critical", ""));
    limits(50);
    runner.Run(Event("link-back", "info", ""));
    const std::string text = WaitForLines(program + ".out", 64);
    EXPECT_EQ(runner.Finish(kGenerous), "");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 64);
    EXPECT_TRUE(text.starts_with("link-lost|critical|")) << text;
    EXPECT_TRUE(text.ends_with("\nlink-back|info|Model Tq9000 SN 1234||2450|VEM is high.|\n"));
    EXPECT_THAT(reports.Items(),
                ElementsAre("--on-event: " + program + " cannot keep up; older events are dropped",
                            "--on-event: " + program + ": killed after 1 s without ending",
                            "--on-event: " + program + " caught up; 88 older events were not "
                                                        "delivered"));
}

TEST_F(EventProgramTest, AHangingProgramIsKilledAndFailuresAreSaidOncePerRunOfThem) {
    CEventProgram runner(program, Report(), {}, std::chrono::milliseconds(1000));
    for (const char* name : {"hang", "hang", "fail", "ok", "fail"}) {
        runner.Run(Event(name));
    }
    // Both hangs were killed (or "ok" would never run), the first failure run said once.
    EXPECT_THAT(WaitForLines(program + ".out", 1), HasSubstr("ok|"));
    reports.WaitUntil([](const std::vector<std::string>& items) { return items.size() >= 2; });
    EXPECT_THAT(reports.Items(),
                ElementsAre("--on-event: " + program + ": killed after 1 s without ending",
                            "--on-event: " + program + ": exit status 3"));
}

}  // namespace
}  // namespace corvane3
