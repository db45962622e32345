// --summary and --export-csv on a file in the recorder's own format.

#include "app/FileCommands.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>

#include "core/plot/PlotData.h"
#include "core/telemetry/DataFileReader.h"
#include "core/telemetry/TelemetryFormat.h"
#include "support/DecayTestFiles.h"
#include "support/TelemetryTestData.h"
#include "support/TempDir.h"

namespace corvane3 {
namespace {

using namespace corvane3::testing;
namespace fs = std::filesystem;

class FileCommandsTest : public ::testing::Test {
  protected:
    // A Tq9000 file of three records a day apart whose clock signal and +21 V differ.
    FileCommandsTest() {
        std::ofstream file(path_, std::ios::binary);
        file << TelemetryHeaderLine(kModelTq9000) << "\r\n";
        for (int day = 0; day < 3; ++day) {
            UnitStateData record = SampleRecord();
            record.mjd = 61000.25 + day;
            record.d1.cLevel = 3000 + 100 * day;
            record.d1.pos21V = 21.1f + 0.1f * static_cast<float>(day);
            file << TelemetryRecordLine(record, kModelTq9000) << "\r\n";
        }
    }
    std::string Write(const std::string& name, const std::string& text) {
        const std::string path = (dir_.Path() / name).string();
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    // Runs a file command on path; its standard output, with status_ and err_ set.
    std::string Run(const std::string& path, bool summary) {
        std::ostringstream out, err;
        status_ = summary ? RunSummary(path, out, err) : RunExportCsv(path, "-", out, err);
        err_ = err.str();
        return out.str();
    }

    TempDir dir_;
    const std::string path_ = (dir_.Path() / "Unit1234.csd").string();
    int status_ = -1;
    std::string err_;
};

TEST_F(FileCommandsTest, SummaryCountsEveryRecordAndGivesEachChannelsRange) {
    const std::string summary = Run(path_, true);
    EXPECT_EQ(status_, 0) << err_;
    EXPECT_EQ(summary.substr(0, summary.find("Decay")),
              "File: " + path_ +
                  "\nFormat: Corvane3 Data File\nUnit: Tq9000 S/N 1234\nRecords: 3\n"
                  "First: MJD 61000.250000 (2025-11-21 06:00:00 UTC)\n"
                  "Last: MJD 61002.250000 (2025-11-23 06:00:00 UTC)\n");
    // Population sigma of 21.1, 21.2 and 21.3; the frequency offset is the Delta-F setting, in
    // parts in 1e-15; the derived channels follow the measured ones.
    for (const char* row : {"\nChannel            Unit      Min    Mean      Max      Sigma\n",
                            "\n+21 VDC            VDC      21.1    21.2     21.3  0.0816492\n",
                            "\nFreq.Offset        E-15    -1500   -1500    -1500          0\n",
                            "\nSignal             mV       1200    1240     1280    32.6599\n"}) {
        EXPECT_NE(summary.find(row), std::string::npos) << row << summary;
    }
}

// The heading and where the CSV goes; its values against the reader's store are checked with
// the file read in pieces.
TEST_F(FileCommandsTest, CsvNamesEachChannelAndGoesBesideTheFileButNeverOverIt) {
    std::ostringstream out, err;
    ASSERT_EQ(RunExportCsv(path_, "-", out, err), 0) << err.str();
    const std::string csv = out.str();
    const std::string heading = csv.substr(0, csv.find('\n'));
    EXPECT_TRUE(heading.starts_with("MJD,Variance (mV),Clk Ramsey (mV),")) << heading;
    EXPECT_NE(heading.find(",DAC Gain,"), std::string::npos);  // no unit, no brackets
    EXPECT_NE(heading.find(",Signal (mV),Flop/Background,"), std::string::npos);
    EXPECT_NE(heading.find(",Freq.Offset (E-15),"), std::string::npos) << heading;
    EXPECT_NE(csv.find(",21.2,"), std::string::npos) << "a float in its own shortest digits";

    // By default beside the file, as .csv; never over the file itself; a refused file is told.
    EXPECT_EQ(RunExportCsv(path_, "", out, err), 0);
    EXPECT_EQ(FileText(dir_.Path() / "Unit1234.csv"), csv);
    EXPECT_EQ(RunExportCsv(path_, path_, out, err), 1);
    EXPECT_NE(FileText(path_).find("MJD, ID"), std::string::npos);
    EXPECT_EQ(RunExportCsv(path_ + ".missing", "-", out, err), 1);
    EXPECT_NE(err.str().find("Cannot Open File:\n" + path_ + ".missing"), std::string::npos);
}

// A stream that takes nothing, as standard output on a full disk.
class CFullStreamBuffer : public std::streambuf {
  protected:
    int_type overflow(int_type) override { return traits_type::eof(); }
};

std::vector<std::string> FilesIn(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Inputs that are no regular file, damaged or oddly ended inputs, and outputs that take
// nothing: each ends with the right result or a reason and status 1, never blocks, and leaves
// no temporary file.
TEST_F(FileCommandsTest, InputsThatAreNoFileOrDamagedGiveTheRightResultOrAReason) {
    const fs::path fifo = dir_.Path() / "fifo.csd";
    const fs::path fifoCss = dir_.Path() / "fifo.css";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(fifoCss.c_str(), 0600), 0);
    fs::create_directory(dir_.Path() / "folder.css");
    std::ofstream(dir_.Path() / "cr.css", std::ios::binary) << "Detuning, Signal\r-10,1.5\r0,2.5\r";
    std::ofstream(dir_.Path() / "long.css", std::ios::binary) << "Detuning, Signal\n-10,1.5\n"
                                                              << std::string(100000, '5') << "\n";
    struct Case {
        std::string file;
        int status;
        std::string out;  // in the summary
        std::string err;
    };
    const std::vector<Case> cases{
        {"fifo.csd", 1, "", "Cannot Open File:\n" + fifo.string() + " (not a regular file)"},
        {"fifo.css", 1, "", "(not a regular file)"},
        {"folder.css", 1, "", "(Is a directory)"},
        {"cr.css", 0, "Points: 2\nDetuning: -10 to 0 Hz\n", ""},
        {"long.css", 1, "",
         "Invalid data in file: " + (dir_.Path() / "long.css").string() + ", line 3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = (dir_.Path() / c.file).string();
        std::ostringstream out, err;
        EXPECT_EQ(RunSummary(path, out, err), c.status);
        EXPECT_NE(out.str().find(c.out), std::string::npos) << out.str();
        EXPECT_NE(err.str().find(c.err), std::string::npos) << err.str();
        std::ostringstream csvErr;
        EXPECT_EQ(RunExportCsv(path, (dir_.Path() / "out.csv").string(), out, csvErr), c.status);
        EXPECT_EQ(fs::exists(dir_.Path() / "out.csv"), c.status == 0);
        fs::remove(dir_.Path() / "out.csv");
    }

    CFullStreamBuffer full;
    std::ostream fullOut(&full);
    std::ostringstream err;
    EXPECT_EQ(RunSummary(path_, fullOut, err), 1);
    EXPECT_NE(err.str().find("the summary could not be written"), std::string::npos);
    fullOut.clear();
    EXPECT_EQ(RunExportCsv(path_, "-", fullOut, err), 1);
    EXPECT_NE(err.str().find("the CSV could not be written"), std::string::npos);
    EXPECT_THAT(FilesIn(dir_.Path()), ::testing::ElementsAre("Unit1234.csd", "cr.css", "fifo.csd",
                                                             "fifo.css", "folder.css", "long.css"));
}

// The CSV replaces a regular file (through a symbolic link, at its target), is written straight
// into a FIFO, and a folder is refused before the file is read.
TEST_F(FileCommandsTest, TheCsvReplacesOnlyARegularFileAndIsWrittenIntoAFifo) {
    std::ostringstream out, err;
    const fs::path target = dir_.Path() / "target.csv";
    const fs::path link = dir_.Path() / "link.csv";
    std::ofstream(target) << "old";
    fs::create_symlink(target, link);
    EXPECT_EQ(RunExportCsv(path_, link.string(), out, err), 0) << err.str();
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(FileText(target).rfind("MJD,", 0), 0u);

    const fs::path fifo = dir_.Path() / "out.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto reader = std::async(std::launch::async, [&] { return FileText(fifo); });
    EXPECT_EQ(RunExportCsv(path_, fifo.string(), out, err), 0) << err.str();
    EXPECT_EQ(reader.get(), FileText(target));
    EXPECT_EQ(fs::status(fifo).type(), fs::file_type::fifo);

    EXPECT_EQ(RunExportCsv(path_, dir_.Path().string(), out, err), 1);
    EXPECT_NE(err.str().find("Is a directory; the CSV is not written"), std::string::npos);
    EXPECT_THAT(FilesIn(dir_.Path()),
                ::testing::ElementsAre("Unit1234.csd", "link.csv", "out.fifo", "target.csv"));
}

// Device nodes made here (as /dev/null and /dev/full are): written to, never replaced. Making a
// device node needs root (CAP_MKNOD).
TEST_F(FileCommandsTest, ACharacterDeviceIsWrittenToAndNeverReplaced) {
    constexpr unsigned kMemoryMajor = 1, kNullMinor = 3, kFullMinor = 7;
    const fs::path null = dir_.Path() / "null", full = dir_.Path() / "full";
    if (::mknod(null.c_str(), S_IFCHR | 0600, makedev(kMemoryMajor, kNullMinor)) != 0 ||
        ::mknod(full.c_str(), S_IFCHR | 0600, makedev(kMemoryMajor, kFullMinor)) != 0) {
        GTEST_SKIP() << "device nodes can only be made as root: " << std::strerror(errno);
    }
    std::ostringstream out, err;
    EXPECT_EQ(RunExportCsv(path_, null.string(), out, err), 0) << err.str();
    EXPECT_EQ(RunExportCsv(path_, full.string(), out, err), 1);
    EXPECT_NE(err.str().find("No space left on device"), std::string::npos) << err.str();
    EXPECT_EQ(fs::status(null).type(), fs::file_type::character);
    EXPECT_EQ(fs::status(full).type(), fs::file_type::character);
    EXPECT_THAT(FilesIn(dir_.Path()), ::testing::ElementsAre("Unit1234.csd", "full", "null"));
}

// A CSV that cannot be made says why, with its path; a name as long as the file system allows
// is exported beside the file all the same.
TEST_F(FileCommandsTest, TheExportSaysWhyItCannotWriteAndTakesTheLongestName) {
    struct Case {
        fs::path target;
        std::string reason;
    };
    const Case cases[] = {{dir_.Path() / "missing" / "out.csv", std::strerror(ENOENT)},
                          {"/proc/out.csv", std::strerror(ENOENT)}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        std::ostringstream out, err;
        EXPECT_EQ(RunExportCsv(path_, c.target.string(), out, err), 1);
        EXPECT_EQ(err.str(),
                  "corvane3: cannot write " + c.target.string() + " (" + c.reason + ")\n");
    }
    constexpr std::size_t kLongestName = NAME_MAX;
    const fs::path longInput = dir_.Path() / (std::string(kLongestName - 4, 'u') + ".csd");
    fs::copy_file(path_, longInput);
    std::ostringstream out, err;
    EXPECT_EQ(RunExportCsv(longInput.string(), "", out, err), 0) << err.str();
    EXPECT_EQ(FileText(fs::path(longInput).replace_extension(".csv")).rfind("MJD,", 0), 0u);
    // The file, the long one and its CSV: no temporary file is left.
    EXPECT_EQ(FilesIn(dir_.Path()).size(), 3u);
}

// NULs are damage a power cut leaves: a long run of them, inside a file or at its end, is skipped
// and every whole record counted, by the file commands as by the window's reader, whatever the
// size of the pieces the file is read in.
TEST_F(FileCommandsTest, LongNulRunsAreSkippedAndEveryWholeRecordCounted) {
    const std::string text = FileText(path_);
    const std::size_t secondRecord = text.find('\n', text.find('\n') + 1) + 1;
    constexpr std::size_t kLongTail = std::size_t{8} << 20;
    constexpr std::size_t kLongRun = 70000;  // longer than any line a record may be
    struct Case {
        std::string name;
        std::string text;
    };
    const std::vector<Case> cases{
        {"tail.csd", text + std::string(kLongTail, '\0')},
        {"run.csd",
         text.substr(0, secondRecord) + std::string(kLongRun, '\0') + text.substr(secondRecord)},
        {"run-after-line-end.csd", text.substr(0, secondRecord) + std::string(kLongRun, '\0') +
                                       "\r\n" + text.substr(secondRecord)},
    };
    for (const Case& c : cases) {
        const fs::path path = dir_.Path() / c.name;
        std::ofstream(path, std::ios::binary) << c.text;
        CPlotData store;
        ASSERT_EQ(ReadDataFile(store, path.string()).Code(), 0) << c.name;
        for (const std::uint64_t pieceBytes : {std::uint64_t{0}, std::uint64_t{256} << 10}) {
            SCOPED_TRACE(c.name + " in pieces of " + std::to_string(pieceBytes));
            std::ostringstream out, err;
            EXPECT_EQ(RunSummary(path.string(), out, err, {pieceBytes, 2}), 0) << err.str();
            EXPECT_NE(out.str().find("Records: 3\n"), std::string::npos) << out.str();
            EXPECT_EQ(store.PointCount(), 3);
        }
    }
}

TEST_F(FileCommandsTest, TheFileSummaryProjectsOnlyFromALongFallingFit) {
    // The decay line keeps its form; the line under it says when there is no date to give.
    for (const DecayFileCase& c : DecayFileCases()) {
        SCOPED_TRACE(c.name);
        WriteDecayFile(path_, c);
        const std::string text = Run(path_, true);
        ASSERT_EQ(status_, 0) << err_;
        const std::size_t decay = text.find("\nDecay = ");
        ASSERT_NE(decay, std::string::npos) << text;
        const std::size_t decayEnd = text.find('\n', decay + 1);
        const std::string decayLine = text.substr(decay + 1, decayEnd - decay - 1);
        EXPECT_EQ(decayLine.rfind(c.decayPrefix, 0), 0u) << decayLine;
        EXPECT_TRUE(decayLine.ends_with(" %/day")) << decayLine;
        EXPECT_EQ(text.substr(decayEnd + 1, text.find('\n', decayEnd + 1) - decayEnd - 1),
                  c.projection);
    }
}

TEST_F(FileCommandsTest, SummaryAndCsvOfASpectrumFile) {
    const std::string path =
        Write("Peak.CSS", "Detuning, Signal\n-500,1000\n0,3912.5\n500,1000.25\n\n");
    EXPECT_EQ(Run(path, true), "File: " + path +
                                   "\nPoints: 3\nDetuning: -500 to 500 Hz\n"
                                   "Peak: 3912.5 mV at 0 Hz\n");
    EXPECT_EQ(status_, 0) << err_;
    EXPECT_EQ(Run(path, false),
              "Detuning (Hz),Signal (mV)\r\n-500,1000\r\n0,3912.5\r\n500,1000.25\r\n");
    EXPECT_EQ(status_, 0) << err_;

    const std::string empty = Write("empty.css", "Detuning, Signal\n");
    EXPECT_EQ(Run(empty, true), "File: " + empty + "\nPoints: 0\n");
    EXPECT_EQ(status_, 0) << err_;

    const std::string bad = Write("bad.css", "Detuning, Signal\n1,2\nx,y\n");
    for (bool summary : {true, false}) {
        EXPECT_EQ(Run(bad, summary), "");
        EXPECT_EQ(status_, 1);
        EXPECT_EQ(err_, "corvane3: Invalid data in file: " + bad + ", line 3\n");
    }
}

}  // namespace
}  // namespace corvane3
