// corvane3 run as a user runs it: command lines that end by themselves, and runs against
// corvane3-sim, both as programs.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "sim/SimulatorServer.h"
#include "support/ChildProcess.h"
#include "support/HttpClient.h"
#include "support/SimulatedUnit.h"
#include "support/TelemetryTestData.h"
#include "support/TempDir.h"

namespace corvane3::testing {
namespace {

TEST(ProgramTest, CommandLinesEndWithTheirExitStatusAndSayWhyWithoutADisplay) {
    TempDir dir;
    const std::string missing = (dir.Path() / "ttyUSB9").string();
    const std::string fifo = (dir.Path() / "fifo").string();
    const std::string records = (dir.Path() / "records").string();
    const std::string config = (dir.Path() / "Corvane3.ini").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((fifo + ".csd").c_str(), 0600), 0);
    const std::string shot = (dir.Path() / "shot.png").string();
    // A port another program listens on.
    int port = 0;
    const int held = LoopbackListener(port);
    ASSERT_GT(port, 0);
    const std::string heldPort = std::to_string(port);
    struct Case {
        std::vector<std::string> arguments;
        int status;
        std::string out, err, ini = "";
        bool hangUp = false;  // SIGHUP after the first line
        // With --screenshot, offscreen (not without a display); the configuration is saved.
        bool window = false;
    };
    const Case cases[] = {
        {{"--help"}, 0, "--timeout <seconds>", ""},
        {{"--version"}, 0, "Corvane3 ", ""},
        {{"--no-such-option"}, 2, "", "Unknown option 'no-such-option'"},
        {{"--headless", "--port", "/dev/null"},
         1,
         "",
         "RS232 open failed: /dev/null: not a serial"},
        {{"--headless", "--port", fifo}, 1, "", fifo + ": not a serial port"},
        // A port not plugged in yet is waited for, its lines not repeated and giving the
        // reason, until the time-out.
        {{"--headless", "--timeout", "2"},
         3,
         "RS232 open failed: " + missing + ": not present\n",
         "no status record for 2 s"},
        {{"--headless"}, 0, "", "No such file or directory", "", true},
        // A missing record folder is made; one that cannot be is named with the reason.
        {{"--headless", "--record", records + "/a/b", "--timeout", "1"}, 3, "", "no status record"},
        {{"--headless", "--record", fifo + "/records"},
         1,
         "",
         "--record: cannot create the directory " + fifo + "/records: Not a directory"},
        {{"--headless"}, 1, "", "Output data directory not set.", "[Main]\nRecordDataFile=true\n"},
        {{"--headless", "--record", dir.Path().string() + ";x"}, 1, "", "';'"},
        {{"--headless", "--metrics", heldPort},
         1,
         "",
         "--metrics: cannot serve on 127.0.0.1:" + heldPort + ": Address already in use"},
        // A control socket's path that holds another file is left as it is.
        {{"--headless", "--timeout", "1", "--control", config},
         1,
         "",
         "--control: cannot serve on " + config + ": the path exists and is not a socket"},
        {{"--timeout", "2"}, 3, "", "no status record within 2 s", "", 0, 1},
        {{"--timeout", "5", "foo.txt"}, 1, "", "Unrecognized file type:  txt", "", 0, 1},
        {{"--timeout", "5", fifo + ".csd"}, 1, "", "Read Error", "", 0, 1},
        {{missing + ".csd"}, 1, "", "Cannot Open File", "", 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.front() + " " + c.arguments.back() + " " + c.ini);
        std::ofstream(config) << "[COM]\nPortName=" << missing << "\n" << c.ini;
        std::vector<std::string> arguments = {CORVANE3_PROGRAM, "--config", config};
        if (c.window) {
            arguments.insert(arguments.end(), {"--screenshot", shot});
        }
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        // Without a display a program that wants the window system aborts.
        ::setenv("QT_QPA_PLATFORM", c.window ? "offscreen" : "xcb", 1);
        ChildProcess program(arguments);
        if (c.hangUp && !program.ReadLine().empty()) {
            program.Signal(SIGHUP);
        }
        const std::string out = program.ReadAll();
        EXPECT_EQ(program.Wait(), c.status) << out << program.Err();
        EXPECT_NE(out.find(c.out), std::string::npos) << out;
        EXPECT_NE(program.Err().find(c.err), std::string::npos) << program.Err();
        EXPECT_LT(std::count(out.begin(), out.end(), '\n'), 45) << out;
        EXPECT_EQ(FileText(config).find("[Plot]") != std::string::npos, c.window) << "saved";
    }
    EXPECT_TRUE(std::filesystem::is_directory(records + "/a/b"));
    ::close(held);
}

TEST(ProgramTest, AgainstTheSimulatorRecordsEveryPollWithoutSavingTheConfiguration) {
    TempDir dir;
    const std::filesystem::path records = dir.Path() / "records";
    const std::filesystem::path config = dir.Path() / "Corvane3.ini";
    SimulatedUnit unit(dir.Path());
    ASSERT_TRUE(unit.Started());
    const std::string ini = "[Main]\nPollingEnabled=false\n[COM]\nPortName=" + unit.Link() + "\n";
    std::ofstream(config) << ini;

    // The file is there but empty, as a power cut leaves a new one: the header comes first.
    std::filesystem::create_directories(records);
    std::ofstream(records / "Unit1234.csd").close();
    // Headless polls even when the configuration says not to, says so first, never saves.
    ChildProcess headless({CORVANE3_PROGRAM, "--headless", "--config", config.string(),
                           "--interval", "2", "--record", records.string(), "--polls", "3"});
    const std::string output = headless.ReadAll();
    ASSERT_EQ(headless.Wait(), 0) << output;
    EXPECT_TRUE(output.starts_with("PollingEnabled=false is ignored")) << output;
    EXPECT_EQ(FileText(config), ini);

    // What each column holds and how lines end, the golden sessions pin.
    const std::vector<std::string> lines = CsdLines(records / "Unit1234.csd");
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_TRUE(lines[0].starts_with("MJD, ID, UnitType,")) << lines[0];
}

// Paths are bytes and numbers keep their decimal points: names that are no UTF-8 (0xFF, Latin-1
// letters) are used exactly as given, and a user whose language writes decimal commas gets the
// same records and summaries as anyone.
TEST(ProgramTest, PathsAndNumbersAreTheSameUnderEveryLocale) {
    TempDir dir;
    SimulatedUnit unit(dir.Path());
    ASSERT_TRUE(unit.Started());
    const char* given = std::getenv("LC_ALL");
    const std::string before = given != nullptr ? given : "";
    // Standard output of a run under the locale, which must end with status 0.
    const auto run = [&](const char* locale, const std::vector<std::string>& arguments) {
        ::setenv("LC_ALL", locale, 1);
        ChildProcess program(arguments);
        const std::string out = program.ReadAll();
        EXPECT_EQ(program.Wait(), 0) << locale << out << program.Err();
        ::setenv("LC_ALL", before.c_str(), 1);
        return out;
    };
    // No display at all: the screenshot is drawn offscreen.
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        ::unsetenv(variable);
    }
    for (const char* locale : {"C", "C.UTF-8", "de_DE.UTF-8"}) {
        SCOPED_TRACE(locale);
        const std::filesystem::path folder = dir.Path() / (std::string("d\xff\xfe-") + locale);
        std::filesystem::create_directory(folder);
        const std::string config = (folder / "c\xe9.ini").string();
        std::ofstream(config) << "[COM]\nPortName=" << unit.Link()
                              << "\n[Plot]\nXscale=2\nYscale=4\n";
        const std::string records = (folder / "rec\xff").string();
        run(locale, {CORVANE3_PROGRAM, "--headless", "--config", config, "--interval", "2",
                     "--record", records, "--polls", "1"});
        const std::string csd = (folder / "f\xe9\x80.csd").string();
        std::filesystem::rename(std::filesystem::path(records) / "Unit1234.csd", csd);
        const std::vector<std::string> lines = CsdLines(csd);
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(Columns(lines[1]), Columns(lines[0])) << lines[1];
        EXPECT_EQ(lines[1].find('.'), 5u) << lines[1];  // MJD 61381.494086
        const std::string summary = run(locale, {CORVANE3_PROGRAM, "--summary", csd});
        EXPECT_NE(summary.find("Records: 1\n"), std::string::npos) << summary;
        EXPECT_EQ(run("C", {CORVANE3_PROGRAM, "--summary", csd}), summary);
        run(locale, {CORVANE3_PROGRAM, "--export-csv", csd});
        const std::string shot = (folder / "s\xff.png").string();
        EXPECT_NE(run(locale, {CORVANE3_PROGRAM, "--config", config, "--screenshot", shot, csd})
                      .find("screenshot saved"),
                  std::string::npos);
        EXPECT_EQ(FileText(shot).substr(0, 4), "\x89PNG");
        EXPECT_EQ(FilesIn(folder),
                  (std::vector<std::string>{"c\xe9.ini", "f\xe9\x80.csd", "f\xe9\x80.csv",
                                            "rec\xff", "s\xff.png"}));
        // Saved where it was read; a file opened from the command line shows everything, with
        // a margin, from then on.
        EXPECT_NE(FileText(config).find("Xscale=0\nYscale=1\n"), std::string::npos);
    }
}

// A trace or a record that cannot be written is said once on standard error (the journal under
// a service), with the file and the system's reason, while the polling goes on; the run ends
// with 1. A FIFO nobody reads is refused at once; a disk that takes no more stops the trace.
TEST(ProgramTest, ATraceOrARecordThatCannotBeWrittenIsSaidOnceAndTheRunFails) {
    TempDir dir;
    SimulatedUnit unit(dir.Path());
    ASSERT_TRUE(unit.Started());
    const std::filesystem::path fifo = dir.Path() / "trace.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::filesystem::path records = dir.Path() / "records";
    const std::filesystem::path unitFile = records / "Unit1234.csd";
    std::filesystem::create_directories(unitFile);  // a folder where the file would be
    struct Case {
        std::vector<std::string> arguments;
        std::string said;
        std::size_t records;
    };
    const Case cases[] = {
        {{"--trace", fifo.string()}, "(a FIFO that no process reads)", 0},
        {{"--trace", "/dev/full"}, "stopped (No space left on device)", 2},
        {{"--record", records.string()},
         "corvane3: Corvane3: File Open Failure while writing telemetry record (" +
             unitFile.string() + ": Is a directory)\n",
         2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.back());
        std::vector<std::string> arguments{CORVANE3_PROGRAM, "--headless", "--port",  unit.Link(),
                                           "--interval",     "2",          "--polls", "2"};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        ChildProcess run(arguments);
        const std::string out = run.ReadAll();
        EXPECT_EQ(run.Wait(), 1) << out << run.Err();
        EXPECT_EQ(Occurrences(run.Err(), c.said), 1u) << "said once: " << run.Err();
        EXPECT_EQ(Occurrences(out, "\nMJD "), c.records) << out;
    }
}

// Inputs without line ends, as large as a disk allows, under a memory limit far below their
// size: each ends with its status, never with an allocation failure. A sanitizer reserves more
// address space than the limit by itself.
TEST(ProgramTest, EndlessInputsStayWithinAMemoryLimit) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's shadow memory does not fit the address-space limit";
#endif
    // Ten times below the inputs' size, with room for what any run maps whatever its input:
    // Qt's and the locale's data and the polling thread's stack.
    constexpr long kMemoryLimit = 200L << 20;
    constexpr std::uintmax_t kSparseSize = 2ULL << 30;
    TempDir dir;
    const std::string csd = (dir.Path() / "sparse.csd").string();
    const std::string css = (dir.Path() / "sparse.css").string();
    const std::string ini = (dir.Path() / "sparse.ini").string();
    for (const std::string& path : {csd, css, ini}) {
        std::ofstream(path).close();
        std::filesystem::resize_file(path, kSparseSize);
    }
    const std::string limit = "--as=" + std::to_string(kMemoryLimit);
    struct Case {
        std::vector<std::string> arguments;
        int status;
        std::string err;
    };
    const std::vector<Case> cases{
        {{"--summary", csd}, 0, ""},
        {{"--export-csv", csd, (dir.Path() / "out.csv").string()}, 0, ""},
        {{"--summary", css}, 1, "line 1"},
        {{"--config", ini, "--headless", "--port", "/nonexistent/tty", "--timeout", "1"},
         3,
         "is longer than 1 MiB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.front() + " " + c.arguments.back());
        std::vector<std::string> arguments = {"/usr/bin/prlimit", limit, "--", CORVANE3_PROGRAM};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        ChildProcess program(arguments);
        program.ReadAll();
        EXPECT_EQ(program.Wait(), c.status) << program.Err();
        EXPECT_NE(program.Err().find(c.err), std::string::npos) << program.Err();
        EXPECT_EQ(program.Err().find("bad_alloc"), std::string::npos) << program.Err();
    }
}

// A file that opened well but fails to read part way (a bad sector) is refused as a read error
// with the system's reason, by both file commands.
TEST(ProgramTest, AReadThatFailsPartWayIsARefusalWithItsReason) {
    TempDir dir;
    constexpr int kRecords = 40000;  // several megabytes: more than one read's window
    const std::string csd = (dir.Path() / "Unit1234.csd").string();
    AppendCsdRecords(csd, 0, kRecords);
    constexpr char kFailFrom[] = "CORVANE3_FAIL_READS_FROM=3000000";
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"--summary", csd},
          std::vector<std::string>{"--export-csv", csd, "-"}}) {
        SCOPED_TRACE(command.front());
        std::vector<std::string> arguments = {
            "/usr/bin/env", "LD_PRELOAD=" CORVANE3_FAIL_READS_FROM,
            "ASAN_OPTIONS=verify_asan_link_order=0", kFailFrom, CORVANE3_PROGRAM};
        arguments.insert(arguments.end(), command.begin(), command.end());
        ChildProcess program(arguments);
        const std::string out = program.ReadAll();
        EXPECT_EQ(program.Wait(), 1) << program.Err();
        EXPECT_EQ(program.Err(),
                  "corvane3: File Read Error\n" + csd + " (" + std::strerror(EIO) + ")\n");
        if (command.front() == "--export-csv") {
            EXPECT_EQ(out, "") << "nothing reaches standard output";
        }
    }
}

// A termination request, an interrupt or a hang-up while the CSV is being written: no temporary
// file is left and the status says which signal ended the run.
TEST(ProgramTest, AnInterruptedExportLeavesNoTemporaryFile) {
    TempDir dir;
    const std::string csd = (dir.Path() / "Unit1234.csd").string();
    AppendCsdRecords(csd, 0, 1000);
    const std::string csv = (dir.Path() / "out.csv").string();
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        // The program waits just before it renames the whole temporary file into place.
        ChildProcess program({"/usr/bin/env", "LD_PRELOAD=" CORVANE3_PAUSE_BEFORE_RENAME,
                              "ASAN_OPTIONS=verify_asan_link_order=0", CORVANE3_PROGRAM,
                              "--export-csv", csd, csv});
        ASSERT_EQ(program.ReadLine(), "about to rename") << program.Err();
        ASSERT_EQ(FilesIn(dir.Path()).size(), 2u) << "the input and the temporary file";
        program.Signal(signal);
        EXPECT_EQ(program.Wait(), 128 + signal) << program.Err();
        EXPECT_EQ(FilesIn(dir.Path()), std::vector<std::string>{"Unit1234.csd"}) << "no CSV";
    }
}

// A window started unattended after a power cut: the configuration's warning waits for a
// person while the unit is polled, and a termination still ends it.
TEST(ProgramTest, AStartUpWarningWaitsForAPersonWithoutHoldingThePolling) {
    TempDir dir;
    sim::SimulatorOptions options;
    options.instrument.warmup = std::chrono::milliseconds(0);
    options.link = dir.Path() / "clock";
    sim::CSimulatorServer sim(options);
    const std::filesystem::path config = dir.Path() / "Corvane3.ini";
    std::ofstream(config) << "[Main]\nRecordDataFile=true\nDatafileDirectory=" << dir.Path().string()
                          << "\nDataFilenameTemplate=../../escape%ld.csd\nPollingInterval=1\n"
                             "[COM]\nPortName=" << options.link.string() << "\n";
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ChildProcess window({CORVANE3_PROGRAM, "--config", config.string()});
    EXPECT_TRUE(sim.WaitForFrame("D*1", std::chrono::seconds(60))) << window.Err();
    EXPECT_NE(window.Err().find("\"../../escape%ld.csd\" cannot be used"), std::string::npos)
        << window.Err();
    window.Signal(SIGTERM);
    EXPECT_EQ(window.Wait(), 0) << window.Err();
}

}  // namespace
}  // namespace corvane3::testing
