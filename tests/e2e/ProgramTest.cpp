// corvane3 run as a user runs it: command lines that end by themselves, and runs against
// corvane3-sim, both as programs.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "core/link/TrafficLog.h"
#include "core/telemetry/TelemetryFormat.h"
#include "support/ChildProcess.h"
#include "support/TelemetryTestData.h"
#include "support/TempDir.h"

namespace corvane3::testing {
namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> fields;
    std::stringstream stream(text);
    for (std::string field; std::getline(stream, field, separator);) {
        fields.push_back(field);
    }
    return fields;
}

TEST(ProgramTest, CommandLinesEndWithTheirExitStatusAndSayWhyWithoutADisplay) {
    TempDir dir;
    const std::string missing = (dir.Path() / "ttyUSB9").string();
    const std::string fifo = (dir.Path() / "fifo").string();
    const std::string records = (dir.Path() / "records").string();
    const std::string config = (dir.Path() / "Corvane3.ini").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((fifo + ".csd").c_str(), 0600), 0);
    const std::string shot = (dir.Path() / "shot.png").string();
    const std::string interval = "--interval needs a whole number from 2 to 100000, not \"";
    struct Case {
        std::vector<std::string> arguments;
        int status;
        std::string out, err, ini = "";
        bool hangUp = false;  // SIGHUP after the first line
        bool window = false;  // offscreen, not without a display; the configuration is saved
    };
    const Case cases[] = {
        {{"--help"}, 0, "--timeout <seconds>", ""},
        {{"--version"}, 0, "Corvane3 ", ""},
        {{"--no-such-option"}, 2, "", "Unknown option 'no-such-option'"},
        {{"--summary", missing}, 1, "", "Cannot Open File:\n" + missing},
        {{"--export-csv", missing, "a.csv", "b.csv"}, 2, "", "one output file"},
        {{"--headless", "--interval", "1"}, 2, "", interval + "1\""},
        {{"--headless", "--interval", "0"}, 2, "", interval + "0\""},
        {{"--headless", "--port", "/dev/null"},
         1,
         "",
         "RS232 open failed: /dev/null: not a serial"},
        {{"--headless", "--port", fifo}, 1, "", fifo + ": not a serial port"},
        // A port not plugged in yet is waited for, its lines not repeated, until the time-out.
        {{"--headless", "--timeout", "2"}, 3, "RS232 open failed\n", "no status record for 2 s"},
        {{"--headless"}, 0, "", "No such file or directory", "", true},
        // A missing record folder is made; one that cannot be is named with the reason.
        {{"--headless", "--record", records + "/a/b", "--timeout", "1"}, 3, "", "no status record"},
        {{"--headless", "--record", fifo + "/records"},
         1,
         "",
         "--record: cannot create the directory " + fifo + "/records: Not a directory"},
        {{"--headless"}, 1, "", "Output data directory not set.", "[Main]\nRecordDataFile=true\n"},
        {{"--headless", "--record", dir.Path().string() + ";x"}, 1, "", "';'"},
        {{"--screenshot", shot, "--timeout", "2"}, 3, "", "no status record within 2 s", "", 0, 1},
        {{"--screenshot", shot, "--timeout", "5", "foo.txt"},
         1,
         "",
         "Unrecognized file type:  txt",
         "",
         0,
         1},
        {{"--screenshot", shot, "--timeout", "5", fifo + ".csd"}, 1, "", "Read Error", "", 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.front() + " " + c.arguments.back() + " " + c.ini);
        std::ofstream(config) << "[COM]\nPortName=" << missing << "\n" << c.ini;
        std::vector<std::string> arguments = {CORVANE3_PROGRAM, "--config", config};
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
}

TEST(ProgramTest, AgainstTheSimulatorRecordsWhatTheUnitSentAndTakesAScreenshot) {
    TempDir dir;
    const std::string link = (dir.Path() / "clock").string();
    const std::filesystem::path records = dir.Path() / "records";
    const std::filesystem::path config = dir.Path() / "Corvane3.ini";
    ChildProcess sim({CORVANE3_SIM_PROGRAM, "--warmup", "0", "--link", link, "--log",
                      (dir.Path() / "sim.log").string()});
    ASSERT_FALSE(sim.ReadLine().empty());
    const std::string ini = "[Main]\nPollingEnabled=false\n[COM]\nPortName=" + link + "\n";
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
    // The link's changes and one line per record; the polling steps only when asked for.
    const auto count = [](const std::string& text, const std::string& part) {
        std::size_t n = 0;
        for (std::size_t at = text.find(part); at != std::string::npos;
             at = text.find(part, at + 1)) {
            ++n;
        }
        return n;
    };
    EXPECT_EQ(count(output, "\nMJD "), 3u) << output;
    EXPECT_EQ(count(output, "\nUnit Online\n"), 1u) << output;
    EXPECT_EQ(count(output, "Ready") + count(output, "..."), 0u) << output;

    // Each record line holds what the unit sent (the simulator's transcript).
    std::vector<std::string> sent;
    for (const std::string& line : Split(FileText(dir.Path() / "sim.log"), '\n')) {
        const auto entry = ParseTrafficLine(line);
        if (entry && entry->direction == ETrafficDirection::kSent &&
            entry->bytes.starts_with("\002D*1 ") && entry->bytes.size() == 250) {
            sent.push_back(entry->bytes);
        }
    }
    const std::vector<std::string> lines = Split(FileText(records / "Unit1234.csd"), '\n');
    ASSERT_EQ(lines.size(), 4u);
    ASSERT_EQ(sent.size(), 3u);
    // Column and where the D*1 record holds it: CRamErr, CLevel, FreqTune, TChassis.
    const int columns[][3] = {{11, 86, 4}, {13, 120, 4}, {32, 61, 7}, {24, 175, 5}};
    for (std::size_t i = 0; i < lines.size(); ++i) {
        ASSERT_TRUE(lines[i].ends_with("\r")) << "lines end with CR LF";
        const std::vector<std::string> fields = Split(lines[i], ',');
        ASSERT_EQ(fields.size(), 51u) << lines[i];
        EXPECT_EQ(fields[1] + fields[2], i == 0 ? " ID UnitType" : "1234 403");
        for (std::size_t c = 0; i > 0 && c < std::size(columns); ++c) {
            const auto [column, at, width] = columns[c];
            EXPECT_NEAR(std::stod(fields[column]), std::stod(sent[i - 1].substr(at, width)), 5e-4);
        }
    }

    // The recorded file read back by the file commands.
    ChildProcess summary({CORVANE3_PROGRAM, "--summary", (records / "Unit1234.csd").string()});
    EXPECT_NE(summary.ReadAll().find("Unit: Tq9000 S/N 1234\nRecords: 3\n"), std::string::npos);
    EXPECT_EQ(summary.Wait(), 0);

    // The window's picture is saved once it shows a record; the program then exits as Exit
    // does, saving the configuration.
    std::ofstream(config) << "[COM]\nPortName=" << link << "\n";
    const std::string shot = (dir.Path() / "shot.png").string();
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ChildProcess window({CORVANE3_PROGRAM, "--config", config.string(), "--screenshot", shot});
    EXPECT_NE(window.ReadAll().find("screenshot saved"), std::string::npos);
    EXPECT_EQ(window.Wait(), 0);
    EXPECT_GT(std::filesystem::file_size(shot), 0u);
    EXPECT_NE(FileText(config).find("[Plot]"), std::string::npos);
    ChildProcess verbose({CORVANE3_PROGRAM, "--headless", "--config", config.string(), "--interval",
                          "2", "--polls", "1", "--verbose"});
    const std::string steps = verbose.ReadAll();
    ASSERT_EQ(verbose.Wait(), 0) << steps;
    for (const char* step : {"\nPolling\n", "\nD1...\n", "\nD1...OK\n"}) {
        EXPECT_GE(count(steps, step), 1u) << step << steps;
    }
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 0);
}

// Paths are bytes: names that are no UTF-8 (0xFF, Latin-1 letters) are used exactly as given,
// under a plain and a UTF-8 locale alike.
TEST(ProgramTest, PathsThatAreNoUtf8AreUsedByteForByte) {
    TempDir dir;
    const std::string link = (dir.Path() / "clock").string();
    ChildProcess sim({CORVANE3_SIM_PROGRAM, "--warmup", "0", "--link", link});
    ASSERT_FALSE(sim.ReadLine().empty());
    const char* given = std::getenv("LC_ALL");
    const std::string before = given != nullptr ? given : "";
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    for (const char* locale : {"C", "C.UTF-8"}) {
        SCOPED_TRACE(locale);
        ::setenv("LC_ALL", locale, 1);
        const std::filesystem::path folder = dir.Path() / (std::string("d\xff\xfe-") + locale);
        std::filesystem::create_directory(folder);
        const std::string config = (folder / "c\xe9.ini").string();
        std::ofstream(config) << "[COM]\nPortName=" << link << "\n";
        const std::string records = (folder / "rec\xff").string();
        ChildProcess headless({CORVANE3_PROGRAM, "--headless", "--config", config, "--interval",
                               "2", "--record", records, "--polls", "1"});
        headless.ReadAll();
        EXPECT_EQ(headless.Wait(), 0) << headless.Err();
        const std::string csd = (folder / "f\xe9\x80.csd").string();
        std::filesystem::rename(std::filesystem::path(records) / "Unit1234.csd", csd);
        ChildProcess summary({CORVANE3_PROGRAM, "--summary", csd});
        EXPECT_NE(summary.ReadAll().find("Records: 1\n"), std::string::npos) << summary.Err();
        EXPECT_EQ(summary.Wait(), 0);
        ChildProcess csv({CORVANE3_PROGRAM, "--export-csv", csd});
        EXPECT_EQ(csv.Wait(), 0) << csv.Err();
        const std::string shot = (folder / "s\xff.png").string();
        ChildProcess window({CORVANE3_PROGRAM, "--config", config, "--screenshot", shot, csd});
        EXPECT_NE(window.ReadAll().find("screenshot saved"), std::string::npos) << window.Err();
        EXPECT_EQ(window.Wait(), 0);
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"c\xe9.ini", "f\xe9\x80.csd", "f\xe9\x80.csv",
                                                   "rec\xff", "s\xff.png"}));
        EXPECT_NE(FileText(config).find("[Plot]"), std::string::npos);  // saved where it was read
    }
    ::setenv("LC_ALL", before.c_str(), 1);
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 0);
}

// A trace that cannot go on is said: a FIFO nobody reads is refused at once, a disk that takes
// no more stops the trace with its reason while the records go on, and the run ends with 1.
TEST(ProgramTest, ATraceThatCannotBeWrittenSaysWhyAndTheRunFails) {
    TempDir dir;
    const std::string link = (dir.Path() / "clock").string();
    ChildProcess sim({CORVANE3_SIM_PROGRAM, "--warmup", "0", "--link", link});
    ASSERT_FALSE(sim.ReadLine().empty());
    const std::filesystem::path fifo = dir.Path() / "trace.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    struct Case {
        std::string trace;
        std::string said;
        std::size_t records;
    };
    for (const Case& c : {Case{fifo.string(), "(a FIFO that no process reads)", 0},
                          Case{"/dev/full", "stopped (No space left on device)", 2}}) {
        SCOPED_TRACE(c.trace);
        ChildProcess run({CORVANE3_PROGRAM, "--headless", "--port", link, "--interval", "2",
                          "--polls", "2", "--trace", c.trace});
        const std::string out = run.ReadAll();
        EXPECT_EQ(run.Wait(), 1);
        const std::size_t said = run.Err().find(c.said);
        EXPECT_NE(said, std::string::npos) << run.Err();
        EXPECT_EQ(said, run.Err().rfind(c.said)) << "said once: " << run.Err();
        std::size_t records = 0;
        for (std::size_t at = out.find("\nMJD "); at != std::string::npos;
             at = out.find("\nMJD ", at + 1)) {
            ++records;
        }
        EXPECT_EQ(records, c.records) << out;
    }
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 0);
}

// A record that cannot be written is said once on standard error (the journal under a service),
// with the file and the system's reason; the run goes on polling.
TEST(ProgramTest, ARecordThatCannotBeWrittenIsSaidWithItsFileAndReason) {
    TempDir dir;
    const std::string link = (dir.Path() / "clock").string();
    ChildProcess sim({CORVANE3_SIM_PROGRAM, "--warmup", "0", "--link", link});
    ASSERT_FALSE(sim.ReadLine().empty());
    const std::filesystem::path records = dir.Path() / "records";
    const std::filesystem::path unitFile = records / "Unit1234.csd";
    std::filesystem::create_directories(unitFile);  // a folder where the file would be
    ChildProcess run({CORVANE3_PROGRAM, "--headless", "--port", link, "--interval", "2",
                      "--polls", "2", "--record", records.string()});
    const std::string out = run.ReadAll();
    EXPECT_EQ(run.Wait(), 1) << out << run.Err();
    const std::string said =
        "corvane3: Corvane3: File Open Failure while writing telemetry record (" +
        unitFile.string() + ": Is a directory)\n";
    const std::size_t at = run.Err().find(said);
    EXPECT_NE(at, std::string::npos) << run.Err();
    EXPECT_EQ(at, run.Err().rfind(said)) << "said once: " << run.Err();
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 0);
}

// A user whose language writes decimal commas gets the same files and summaries as anyone.
TEST(ProgramTest, UnderADecimalCommaLocaleRecordsAndSummariesKeepTheirDecimalPoints) {
    TempDir dir;
    const std::string link = (dir.Path() / "clock").string();
    const std::filesystem::path config = dir.Path() / "Corvane3.ini";
    ChildProcess sim({CORVANE3_SIM_PROGRAM, "--warmup", "0", "--link", link});
    ASSERT_FALSE(sim.ReadLine().empty());
    std::ofstream(config) << "[COM]\nPortName=" << link << "\n";
    const std::string file = (dir.Path() / "Unit1234.csd").string();
    const char* given = std::getenv("LC_ALL");
    const std::string before = given != nullptr ? given : "";
    const auto run = [&](const char* locale, const std::vector<std::string>& arguments) {
        ::setenv("LC_ALL", locale, 1);
        ChildProcess program(arguments);
        const std::string out = program.ReadAll();
        EXPECT_EQ(program.Wait(), 0) << locale << out << program.Err();
        ::setenv("LC_ALL", before.c_str(), 1);
        return out;
    };
    run("de_DE.UTF-8", {CORVANE3_PROGRAM, "--headless", "--config", config.string(), "--interval",
                        "2", "--record", dir.Path().string(), "--polls", "2"});
    const std::vector<std::string> lines = Split(FileText(file), '\n');
    ASSERT_EQ(lines.size(), 3u);
    for (const std::string& line : lines) {
        EXPECT_EQ(Split(line, ',').size(), Split(lines[0], ',').size()) << line;
    }
    EXPECT_EQ(Split(lines[1], ',')[0].find('.'), 5u) << lines[1];  // MJD 61381.494086
    const std::string inC = run("C", {CORVANE3_PROGRAM, "--summary", file});
    EXPECT_NE(inC.find("Records: 2\n"), std::string::npos) << inC;
    EXPECT_EQ(run("de_DE.UTF-8", {CORVANE3_PROGRAM, "--summary", file}), inC);
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 0);
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

// A termination request while the CSV is being written: no temporary file is left and the
// status says which signal ended the run.
// A file that opened well but fails to read part way (a bad sector) is refused as a read error
// with the system's reason, by both file commands.
TEST(ProgramTest, AReadThatFailsPartWayIsARefusalWithItsReason) {
    TempDir dir;
    const std::string csd = (dir.Path() / "Unit1234.csd").string();
    {
        std::ofstream file(csd, std::ios::binary);
        file << TelemetryHeaderLine(403) << "\r\n";
        const std::string line = TelemetryRecordLine(SampleRecord(), 403) + "\r\n";
        constexpr int kRecords = 40000;  // several megabytes: more than one read's window
        for (int i = 0; i < kRecords; ++i) {
            file << line;
        }
    }
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

TEST(ProgramTest, AnInterruptedExportLeavesNoTemporaryFile) {
    TempDir dir;
    const std::string csd = (dir.Path() / "Unit1234.csd").string();
    {
        std::ofstream file(csd, std::ios::binary);
        file << TelemetryHeaderLine(403) << "\r\n";
        UnitStateData record = SampleRecord();
        const std::string line = TelemetryRecordLine(record, 403) + "\r\n";
        constexpr int kRecords = 1000;
        for (int i = 0; i < kRecords; ++i) {
            file << line;
        }
    }
    const std::string csv = (dir.Path() / "out.csv").string();
    // The program waits just before it renames the whole temporary file into place.
    ChildProcess program({"/usr/bin/env", "LD_PRELOAD=" CORVANE3_PAUSE_BEFORE_RENAME,
                          "ASAN_OPTIONS=verify_asan_link_order=0", CORVANE3_PROGRAM, "--export-csv",
                          csd, csv});
    ASSERT_EQ(program.ReadLine(), "about to rename") << program.Err();
    const auto filesInDir = [&] {
        std::size_t count = 0;
        for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
            ++count;
        }
        return count;
    };
    ASSERT_EQ(filesInDir(), 2u) << "the input and the temporary file";
    program.Signal(SIGTERM);
    EXPECT_EQ(program.Wait(), 128 + SIGTERM) << program.Err();
    EXPECT_EQ(filesInDir(), 1u) << "only the input is left";
    EXPECT_FALSE(std::filesystem::exists(csv));
}

}  // namespace
}  // namespace corvane3::testing
