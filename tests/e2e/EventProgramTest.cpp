// corvane3 --headless with limits on a reading and an --on-event program, against the
// simulator stepping that reading.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "sim/SimulatorServer.h"
#include "sim/StatusRecords.h"
#include "support/ChildProcess.h"
#include "support/PrometheusServer.h"
#include "support/SimulatedUnit.h"
#include "support/TelemetryTestData.h"
#include "support/TempDir.h"

namespace corvane3::testing {
namespace {

// Where a D*1 record carries VEM: four characters at this column.
constexpr std::size_t kD1VemColumn = 229;
constexpr auto kBound = std::chrono::seconds(60);
// Records of a 2 s interval that fit well within the program's 20 s before it is killed.
constexpr std::size_t kRecordsWhileHanging = 3;

struct Rig {
    TempDir dir;
    sim::CSimulatorServer sim{[this] {
        sim::SimulatorOptions options;
        options.instrument.warmup = std::chrono::milliseconds(0);
        options.link = dir.Path() / "clock";
        options.faults.d1Patch = sim::ColumnPatch{kD1VemColumn, "2300"};
        return options;
    }()};

    // A warning limit of 2400 on VEM, and the event program's script.
    std::string Configure(const std::string& script) {
        std::ofstream(dir.Path() / "Corvane3-limits.ini") << "[VEM]\nWarningHigh = 2400\n";
        const std::filesystem::path program = dir.Path() / "notify";
        std::ofstream(program) << "#!/bin/sh\n" << script;
        ::chmod(program.c_str(), 0755);
        return program.string();
    }
    // A headless run of the simulated unit with the rig's limits, then more.
    std::vector<std::string> Arguments(const std::vector<std::string>& more) const {
        return HeadlessArguments(dir.Path(), (dir.Path() / "clock").string(), more);
    }
    void SetVem(const char* text) {
        sim.UpdateFaults([text](sim::SimFaults& f) {
            f.d1Patch = sim::ColumnPatch{kD1VemColumn, text};
        });
    }
};

TEST(EventProgramTest, EachCrossingOfALimitIsOneLineOneProgramRunAndShowsInTheMetrics) {
    Rig rig;
    const std::filesystem::path events = rig.dir.Path() / "events";
    const std::string program = rig.Configure(
        "echo \"$CORVANE3_EVENT $CORVANE3_SEVERITY $CORVANE3_CHANNEL $CORVANE3_VALUE\" >> " +
        events.string() + "\n");
    const int port = FreeLoopbackPort();
    ChildProcess run(rig.Arguments({"--metrics", std::to_string(port), "--on-event", program}));
    const auto outside = [&] {
        return HttpGetBody(port, "/metrics")
                   .find("corvane3_reading_outside_limit{channel=\"VEM\",level=\"warning\"} 1") !=
               std::string::npos;
    };
    ASSERT_NE(run.ReadThrough("VEM 2300.0").find("VEM 2300.0"), std::string::npos) << run.Err();
    EXPECT_NE(HttpGetBody(port, "/metrics")
                  .find("corvane3_reading_limit{channel=\"VEM\",level=\"warning\",bound=\"high\"} "
                        "2400"),
              std::string::npos);
    EXPECT_FALSE(outside());

    rig.SetVem("2450");
    std::string output = run.ReadThrough("VEM 2450 above its warning limit 2400");
    ASSERT_NE(output.find("VEM 2450 above"), std::string::npos) << output << run.Err();
    EXPECT_TRUE(WaitUntil(kBound, outside));

    // Nothing more is said until the reading comes back inside.
    rig.SetVem("2300");
    output = run.ReadThrough("VEM back inside its limits (2300)");
    ASSERT_NE(output.find("back inside"), std::string::npos) << output;
    EXPECT_EQ(Occurrences(output, "limit"), 1u) << output;
    EXPECT_TRUE(WaitUntil(kBound, [&] { return Occurrences(FileText(events), "\n") >= 2; }));
    EXPECT_EQ(FileText(events),
              "limit-crossed warning VEM 2450\n"
              "limit-cleared info VEM 2300\n");
    EXPECT_EQ(run.Err(), "");
}

TEST(EventProgramTest, AHangingProgramIsKilledSaidOnceAndHoldsUpNoRecord) {
    Rig rig;
    const std::filesystem::path records = rig.dir.Path() / "records";
    // Each run leaves its process id under its event's name, then hangs.
    const std::string program = rig.Configure("echo $$ > \"$0.$CORVANE3_EVENT\"\nsleep 1000\n");
    const auto pidOf = [&](const char* event) {
        const std::string text = FileText(program + "." + event);
        return text.empty() ? 0 : std::stoi(text);
    };
    const auto running = [](int pid) { return ::kill(pid, 0) == 0; };
    rig.SetVem("2450");
    ChildProcess run(rig.Arguments({"--record", records.string(), "--on-event", program}));
    ASSERT_TRUE(WaitUntil(kBound, [&] { return pidOf("limit-crossed") > 0; })) << run.Err();
    const int first = pidOf("limit-crossed");
    // Records are written at their cadence while the program hangs.
    const auto recorded = [&] { return Occurrences(FileText(records / "Unit1234.csd"), "\n"); };
    const std::size_t before = recorded();
    EXPECT_TRUE(WaitUntil(kBound, [&] { return recorded() >= before + kRecordsWhileHanging; }));
    EXPECT_TRUE(running(first));

    // Killed at its time limit, and said; that a run of such failures is said once, the
    // event program's own tests pin.
    const std::string said = "corvane3: --on-event: " + program + ": killed after 20 s";
    EXPECT_TRUE(WaitUntil(kBound, [&] { return run.Err().find(said) != std::string::npos; }));
    EXPECT_FALSE(running(first));
    run.Signal(SIGTERM);
    EXPECT_EQ(run.Wait(), 0) << run.Err();
    EXPECT_EQ(Occurrences(run.Err(), "--on-event"), 1u) << run.Err();
}

// The run's end waits for the program still running, whether the run ends by its count of
// records or by a service manager's stop.
TEST(EventProgramTest, AnEventProgramRunningWhenTheRunEndsFinishesItsWork) {
    for (const bool stopped : {false, true}) {
        Rig rig;
        const std::filesystem::path events = rig.dir.Path() / "events";
        const std::string program = rig.Configure(": > \"$0.started\"\nsleep 2\necho \"$CORVANE3_EVENT\" >> " +
                                                  events.string() + "\n");
        rig.SetVem("2450");
        std::vector<std::string> arguments = rig.Arguments({"--on-event", program});
        if (!stopped) {
            arguments.insert(arguments.end(), {"--polls", "1"});
        }
        ChildProcess run(arguments);
        if (stopped) {
            ASSERT_TRUE(WaitUntil(kBound, [&] { return std::filesystem::exists(program + ".started"); }))
                << run.Err();
            run.Signal(SIGTERM);
        }
        EXPECT_EQ(run.Wait(), 0) << run.Err();
        EXPECT_EQ(FileText(events), "limit-crossed\n") << stopped;
        EXPECT_EQ(run.Err(), "");
    }
}

}  // namespace
}  // namespace corvane3::testing
