// --summary and --export-csv on files in the recorder's own format and on spectrum files.

#include "app/FileCommands.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <vector>

#include "core/plot/PlotData.h"
#include "core/telemetry/DataFileReader.h"
#include "core/telemetry/TelemetryFormat.h"
#include "support/CacheAgreement.h"
#include "support/DecayTestFiles.h"
#include "support/TelemetryTestData.h"
#include "support/TempDir.h"

namespace corvane3 {
namespace {

using namespace corvane3::testing;
namespace fs = std::filesystem;
using ::testing::ElementsAre;

// A file command's exit status and what it wrote to standard output and standard error.
struct Output {
    int status = -1;
    std::string out, err;
};

Output Summary(const std::string& path, const FileCommandOptions& options = {}) {
    std::ostringstream out, err;
    const int status = RunSummary(path, out, err, options);
    return {status, out.str(), err.str()};
}

Output Csv(const std::string& path, const std::string& target = "-",
           const FileCommandOptions& options = {}) {
    std::ostringstream out, err;
    const int status = RunExportCsv(path, target, out, err, options);
    return {status, out.str(), err.str()};
}

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
    // The CSV of the test's file written to target: its exit status, the reason in err_.
    int CsvTo(const std::string& target) {
        const Output csv = Csv(path_, target);
        err_ = csv.err;
        return csv.status;
    }

    TempDir dir_;
    const std::string path_ = (dir_.Path() / "Unit1234.csd").string();
    std::string err_;
};

TEST_F(FileCommandsTest, SummaryCountsEveryRecordAndGivesEachChannelsRange) {
    const Output summary = Summary(path_);
    EXPECT_EQ(summary.status, 0) << summary.err;
    EXPECT_EQ(summary.out.substr(0, summary.out.find("Decay")),
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
        EXPECT_NE(summary.out.find(row), std::string::npos) << row << summary.out;
    }
}

// The heading and where the CSV goes; its values against the reader's store are checked with
// the file read in pieces.
TEST_F(FileCommandsTest, CsvNamesEachChannelAndGoesBesideTheFileButNeverOverIt) {
    const Output csv = Csv(path_);
    ASSERT_EQ(csv.status, 0) << csv.err;
    const std::string heading = csv.out.substr(0, csv.out.find('\n'));
    EXPECT_TRUE(heading.starts_with("MJD,Variance (mV),Clk Ramsey (mV),")) << heading;
    EXPECT_NE(heading.find(",DAC Gain,"), std::string::npos);  // no unit, no brackets
    EXPECT_NE(heading.find(",Signal (mV),Flop/Background,"), std::string::npos);
    EXPECT_NE(heading.find(",Freq.Offset (E-15),"), std::string::npos) << heading;
    EXPECT_NE(csv.out.find(",21.2,"), std::string::npos) << "a float in its own shortest digits";

    // By default beside the file, as .csv; never over the file itself; a refused file is told.
    EXPECT_EQ(CsvTo(""), 0);
    EXPECT_EQ(FileText(dir_.Path() / "Unit1234.csv"), csv.out);
    EXPECT_EQ(CsvTo(path_), 1);
    EXPECT_NE(FileText(path_).find("MJD, ID"), std::string::npos);
    const Output missing = Csv(path_ + ".missing");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("Cannot Open File:\n" + path_ + ".missing"), std::string::npos);
}

// A stream that takes nothing, as standard output on a full disk.
class CFullStreamBuffer : public std::streambuf {
  protected:
    int_type overflow(int_type) override { return traits_type::eof(); }
};

// Inputs that are no regular file, damaged or oddly ended inputs, and outputs that take
// nothing: each ends with the right result or a reason and status 1, never blocks, and leaves
// no temporary file.
TEST_F(FileCommandsTest, InputsThatAreNoFileOrDamagedGiveTheRightResultOrAReason) {
    const fs::path fifo = dir_.Path() / "fifo.csd";
    const fs::path fifoCss = dir_.Path() / "fifo.css";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(fifoCss.c_str(), 0600), 0);
    fs::create_directory(dir_.Path() / "folder.css");
    Write("cr.css", "Detuning, Signal\r-10,1.5\r0,2.5\r");
    Write("long.css", "Detuning, Signal\n-10,1.5\n" + std::string(100000, '5') + "\n");
    struct Case {
        std::string file;
        int status;
        std::string out, err;  // out: a part of the summary
    };
    const std::vector<Case> cases{
        {"fifo.csd", 1, "", "Cannot Open File:\n" + fifo.string() + " (not a regular file)"},
        {"fifo.css", 1, "", "(not a regular file)"},
        {"folder.css", 1, "", "(Is a directory)"},
        {"cr.css", 0, "Points: 2\nDetuning: -10 to 0 Hz\n", ""},
        {"long.css", 1, "",
         "Invalid data in file: " + (dir_.Path() / "long.css").string() + ", line 3"},
    };
    const fs::path csv = dir_.Path() / "out.csv";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = (dir_.Path() / c.file).string();
        const Output summary = Summary(path);
        EXPECT_EQ(summary.status, c.status);
        EXPECT_NE(summary.out.find(c.out), std::string::npos) << summary.out;
        EXPECT_NE(summary.err.find(c.err), std::string::npos) << summary.err;
        EXPECT_EQ(Csv(path, csv.string()).status, c.status);
        EXPECT_EQ(fs::exists(csv), c.status == 0);
        fs::remove(csv);
    }

    CFullStreamBuffer full;
    std::ostream fullOut(&full);
    std::ostringstream err;
    EXPECT_EQ(RunSummary(path_, fullOut, err), 1);
    EXPECT_NE(err.str().find("the summary could not be written"), std::string::npos);
    fullOut.clear();
    EXPECT_EQ(RunExportCsv(path_, "-", fullOut, err), 1);
    EXPECT_NE(err.str().find("the CSV could not be written"), std::string::npos);
    EXPECT_THAT(FilesIn(dir_.Path()), ElementsAre("Unit1234.csd", "cr.css", "fifo.csd", "fifo.css",
                                                  "folder.css", "long.css"));
}

// The CSV replaces a regular file (through a symbolic link, at its target), is written straight
// into a FIFO, and a folder is refused before the file is read.
TEST_F(FileCommandsTest, TheCsvReplacesOnlyARegularFileAndIsWrittenIntoAFifo) {
    const fs::path target = dir_.Path() / "target.csv";
    const fs::path link = dir_.Path() / "link.csv";
    std::ofstream(target) << "old";
    fs::create_symlink(target, link);
    EXPECT_EQ(CsvTo(link.string()), 0) << err_;
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(FileText(target).rfind("MJD,", 0), 0u);

    const fs::path fifo = dir_.Path() / "out.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto reader = std::async(std::launch::async, [&] { return FileText(fifo); });
    EXPECT_EQ(CsvTo(fifo.string()), 0) << err_;
    EXPECT_EQ(reader.get(), FileText(target));
    EXPECT_EQ(fs::status(fifo).type(), fs::file_type::fifo);

    EXPECT_EQ(CsvTo(dir_.Path().string()), 1);
    EXPECT_NE(err_.find("Is a directory; the CSV is not written"), std::string::npos);
    EXPECT_THAT(FilesIn(dir_.Path()),
                ElementsAre("Unit1234.csd", "link.csv", "out.fifo", "target.csv"));
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
    EXPECT_EQ(CsvTo(null.string()), 0) << err_;
    EXPECT_EQ(CsvTo(full.string()), 1);
    EXPECT_NE(err_.find("No space left on device"), std::string::npos) << err_;
    EXPECT_EQ(fs::status(null).type(), fs::file_type::character);
    EXPECT_EQ(fs::status(full).type(), fs::file_type::character);
    EXPECT_THAT(FilesIn(dir_.Path()), ElementsAre("Unit1234.csd", "full", "null"));
}

// A CSV that cannot be made says why, with its path; a name as long as the file system allows
// is exported beside the file all the same.
TEST_F(FileCommandsTest, TheExportSaysWhyItCannotWriteAndTakesTheLongestName) {
    for (const fs::path& target :
         {dir_.Path() / "missing" / "out.csv", fs::path("/proc/out.csv")}) {
        SCOPED_TRACE(target);
        EXPECT_EQ(CsvTo(target.string()), 1);
        EXPECT_EQ(err_, "corvane3: cannot write " + target.string() + " (" + std::strerror(ENOENT) +
                            ")\n");
    }
    constexpr std::size_t kLongestName = NAME_MAX;
    const fs::path longInput = dir_.Path() / (std::string(kLongestName - 4, 'u') + ".csd");
    fs::copy_file(path_, longInput);
    const Output csv = Csv(longInput.string(), "");
    EXPECT_EQ(csv.status, 0) << csv.err;
    EXPECT_EQ(FileText(fs::path(longInput).replace_extension(".csv")).rfind("MJD,", 0), 0u);
    // The file, the long one and its CSV: no temporary file is left.
    EXPECT_EQ(FilesIn(dir_.Path()).size(), 3u);
}

// A folder nobody may write to: a read-only file system for root (who writes into any folder),
// a folder without write permission for a user. The export says the system's reason.
TEST_F(FileCommandsTest, TheExportIntoAReadOnlyFolderSaysTheSystemsReason) {
    const fs::path readOnly = dir_.Path() / "read-only";
    fs::create_directory(readOnly);
    const bool root = ::geteuid() == 0;
    if (root ? ::mount("none", readOnly.c_str(), "tmpfs", MS_RDONLY, "size=64k") != 0
             : ::chmod(readOnly.c_str(), 0555) != 0) {
        GTEST_SKIP() << "no read-only folder can be made here: " << std::strerror(errno);
    }
    const fs::path target = readOnly / "out.csv";
    const int status = CsvTo(target.string());
    if (root) {
        ::umount2(readOnly.c_str(), MNT_DETACH);
    }
    EXPECT_EQ(status, 1);
    EXPECT_EQ(err_, "corvane3: cannot write " + target.string() + " (" +
                        std::strerror(root ? EROFS : EACCES) + ")\n");
}

// NULs are damage a power cut leaves: a long run of them, inside a file or at its end, is skipped
// and every whole record counted, by the file commands as by the window's reader, whatever the
// size of the pieces the file is read in.
TEST_F(FileCommandsTest, LongNulRunsAreSkippedAndEveryWholeRecordCounted) {
    const std::string text = FileText(path_);
    const std::size_t secondRecord = text.find('\n', text.find('\n') + 1) + 1;
    constexpr std::size_t kLongTail = std::size_t{8} << 20;
    constexpr std::size_t kLongRun = 70000;  // longer than any line a record may be
    const std::string head = text.substr(0, secondRecord), run(kLongRun, '\0');
    const std::vector<std::pair<std::string, std::string>> cases{
        {"tail.csd", text + std::string(kLongTail, '\0')},
        {"run.csd", head + run + text.substr(secondRecord)},
        {"run-after-line-end.csd", head + run + "\r\n" + text.substr(secondRecord)},
    };
    for (const auto& [name, damaged] : cases) {
        const std::string path = Write(name, damaged);
        CPlotData store;
        ASSERT_EQ(ReadDataFile(store, path).Code(), 0) << name;
        EXPECT_EQ(store.PointCount(), 3) << name;
        for (const std::uint64_t pieceBytes : {std::uint64_t{0}, std::uint64_t{256} << 10}) {
            SCOPED_TRACE(name + " in pieces of " + std::to_string(pieceBytes));
            const Output summary = Summary(path, {pieceBytes, 2});
            EXPECT_EQ(summary.status, 0) << summary.err;
            EXPECT_NE(summary.out.find("Records: 3\n"), std::string::npos) << summary.out;
        }
    }
}

TEST_F(FileCommandsTest, TheFileSummaryProjectsOnlyFromALongFallingFit) {
    // The decay line keeps its form; the line under it says when there is no date to give.
    for (const testing::DecayFileCase& c : testing::DecayFileCases()) {
        SCOPED_TRACE(c.name);
        testing::WriteDecayFile(path_, c);
        const Output summary = Summary(path_);
        ASSERT_EQ(summary.status, 0) << summary.err;
        const std::string& text = summary.out;
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
    const std::string empty = Write("empty.css", "Detuning, Signal\n");
    const std::string bad = Write("bad.css", "Detuning, Signal\n1,2\nx,y\n");
    const std::string refusal = "corvane3: Invalid data in file: " + bad + ", line 3\n";
    const struct {
        Output got, expected;
    } cases[] = {
        {Summary(path),
         {0, "File: " + path + "\nPoints: 3\nDetuning: -500 to 500 Hz\nPeak: 3912.5 mV at 0 Hz\n",
          ""}},
        {Csv(path),
         {0, "Detuning (Hz),Signal (mV)\r\n-500,1000\r\n0,3912.5\r\n500,1000.25\r\n", ""}},
        {Summary(empty), {0, "File: " + empty + "\nPoints: 0\n", ""}},
        {Summary(bad), {1, "", refusal}},
        {Csv(bad), {1, "", refusal}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.got.out, c.expected.out);
        EXPECT_EQ(c.got.status, c.expected.status) << c.got.out;
        EXPECT_EQ(c.got.err, c.expected.err) << c.got.out;
    }
}

// The CSV of the whole file, from the store the reader fills: each value in the fewest digits
// that give it back as the store keeps it.
std::string CsvFromStore(const std::string& path) {
    CPlotData store;
    const DataFileReadResult result = ReadDataFile(store, path);
    std::vector<int> channels = result.channels;
    if (!channels.empty()) {
        channels.insert(channels.end(), {kChannelSignal, kChannelFlopBackground});
    }
    std::sort(channels.begin(), channels.end());
    std::string csv = "MJD";
    for (int c : channels) {
        const CPlotSeries channel = store.Channel(c);
        csv += ',';
        csv += channel.Name();
        if (!channel.Unit().empty()) {
            csv.append(" (").append(channel.Unit()).append(")");
        }
    }
    csv += "\r\n";
    const auto number = [&](double value, EPlotStorage storage) {
        char digits[64];
        const auto end = storage == EPlotStorage::kFloat
                             ? std::to_chars(digits, digits + 64, static_cast<float>(value)).ptr
                             : std::to_chars(digits, digits + 64, value).ptr;
        return std::isnan(value) ? std::string() : std::string(digits, end);
    };
    for (std::int64_t i = 0; i < store.PointCount(); ++i) {
        csv += number(store.TimeAxis(0)[i], EPlotStorage::kDouble);
        for (int c : channels) {
            csv += ',';
            csv += number(store.Channel(c)[i], store.ChannelStorage(c));
        }
        csv += "\r\n";
    }
    return csv;
}

// Mean and sigma of a channel over every record, two passes in long double, as the summary
// prints them.
std::string MeanAndSigmaFromStore(const std::string& path, int channel) {
    CPlotData store;
    EXPECT_EQ(ReadDataFile(store, path).Code(), 0);
    std::vector<double> values;
    for (std::int64_t i = 0; i < store.PointCount(); ++i) {
        values.push_back(store.Channel(channel)[i]);
    }
    const ChannelStatistics stats = TwoPassStatistics(values);
    char text[80];
    std::snprintf(text, sizeof text, "%.6g %.6g", stats.mean, stats.sigma);
    return text;
}

// Min, mean, max and sigma of a channel's row in a summary.
std::string SummaryRow(const std::string& summary, const std::string& name) {
    const std::size_t at = summary.find("\n" + name + " ");
    EXPECT_NE(at, std::string::npos) << summary;
    std::istringstream row(summary.substr(at + name.size() + 1));
    std::string unit, min, mean, max, sigma;
    row >> unit >> min >> mean >> max >> sigma;
    return mean + " " + sigma;
}

class FileCommandsStreamTest : public ::testing::Test {
  protected:
    // Records of a Tq9000 whose readings change from line to line, some in text the recorder
    // would not write (signs, exponents, hex, blanks, zeros of both signs).
    std::vector<std::string> Lines(int count) {
        std::vector<std::string> lines;
        for (int i = 0; i < count; ++i) {
            UnitStateData record = SampleRecord();
            record.mjd = 60000.125 + i / 8640.0;
            record.d1.cLevel = 25000 - 3 * i;
            record.d1.pos21V = 24.0f + 0.013f * static_cast<float>(i % 17);
            record.d1.tChassis = 35.0f + 0.25f * static_cast<float>(i % 5);
            lines.push_back(TelemetryRecordLine(record, kModelTq9000));
        }
        const std::vector<std::string> odd{"+3",     "1e5",    "0x1A",  " 7.51",  "-0.000",
                                           "0.0001", "100000", "12.0",  "abc",    "",
                                           "-",      "1e-7",   "0.001", "inf",    "3.4028236e38",
                                           "-.5",    "5.",     "00.5",  "10.000", "-0.0500"};
        for (std::size_t k = 0; k < odd.size() && 3 + 2 * k < lines.size(); ++k) {
            std::string& line = lines[3 + 2 * k];
            // Fields 10 (StdDev, whole numbers), 19 (ICField) and 24 (TChassis, floats).
            for (int field : {10, 19, 24}) {
                std::size_t begin = 0;
                for (int f = 0; f < field; ++f) {
                    begin = line.find(',', begin) + 1;
                }
                line.replace(begin, line.find(',', begin) - begin, odd[k]);
            }
        }
        return lines;
    }
    std::string Write(const std::string& name, const std::vector<std::string>& lines,
                      const std::string& end = "\r\n", const std::string& tail = "") {
        std::string text = TelemetryHeaderLine(kModelTq9000) + end;
        for (const std::string& line : lines) {
            text += line + end;
        }
        const std::string path = (dir_.Path() / name).string();
        std::ofstream(path, std::ios::binary) << text << tail;
        return path;
    }
    // Tiny pieces that end anywhere in a line, on one to three threads, and the default.
    const std::vector<FileCommandOptions> options_{{.pieceBytes = 1, .threads = 1},
                                                   {.pieceBytes = 37, .threads = 2},
                                                   {.pieceBytes = 500, .threads = 3},
                                                   {.pieceBytes = 4096, .threads = 2},
                                                   {.pieceBytes = 0, .threads = 0}};
    TempDir dir_;
};

TEST_F(FileCommandsStreamTest, AnyPiecesGiveTheOutputOfTheWholeFile) {
    std::vector<std::string> damaged = Lines(60);
    damaged[20] = std::string(100, '\0') + damaged[20];  // what a power cut leaves
    damaged[21] = "";
    damaged[22] = damaged[22].substr(0, 90);  // the rest of its fields absent
    const std::vector<std::string> files{
        Write("crlf.csd", Lines(60)),
        Write("damaged.csd", damaged, "\r\n", Lines(1)[0].substr(0, 80)),
        Write("one.csd", Lines(1)),
        Write("header.csd", {}),
        Write("torn only.csd", {}, "\r\n", Lines(1)[0].substr(0, 80)),
    };
    for (const std::string& path : files) {
        SCOPED_TRACE(path);
        const std::string expected = CsvFromStore(path);
        const Output whole = Summary(path, {.pieceBytes = 1u << 30, .threads = 1});
        EXPECT_EQ(whole.status, 0) << whole.err;
        for (const FileCommandOptions& options : options_) {
            SCOPED_TRACE(options.pieceBytes);
            EXPECT_EQ(Summary(path, options).out, whole.out);
            const Output csv = Csv(path, "-", options);
            EXPECT_EQ(csv.status, 0) << csv.err;
            EXPECT_EQ(csv.out, expected);
        }
    }
    EXPECT_NE(Summary(files[0], {}).out.find("Records: 60\n"), std::string::npos);
    EXPECT_EQ(Summary(files[3], {}).out,
              "File: " + files[3] + "\nFormat: Corvane3 Data File\nRecords: 0\n");
    EXPECT_EQ(Csv(files[3], "-", {}).out, "MJD\r\n");
}

TEST_F(FileCommandsStreamTest, LargeOffsetsKeepTheirSpreadInTheSummary) {
    // Clock signal 2e9 +- 1 and a +21 V reading of 24000.125 +- 0.002: the plain sum of squares
    // loses the spread entirely; the summary keeps every printed digit.
    std::vector<std::string> lines;
    for (int i = 0; i < 1000; ++i) {
        UnitStateData record = SampleRecord();
        record.mjd = 60000.0 + i / 8640.0;
        record.d1.cLevel = 2000000000 + (i * 7919) % 3 - 1;
        record.d1.pos21V = 24000.125f + (i % 2 == 0 ? 0.0f : 0.0039f);
        lines.push_back(TelemetryRecordLine(record, kModelTq9000));
    }
    const std::string path = Write("offset.csd", lines);
    for (const FileCommandOptions& options :
         std::vector<FileCommandOptions>(options_.begin() + 1, options_.end())) {
        const Output summary = Summary(path, options);
        EXPECT_EQ(SummaryRow(summary.out, "Clk Signal"), MeanAndSigmaFromStore(path, 4));
        EXPECT_EQ(SummaryRow(summary.out, "+21 VDC"), MeanAndSigmaFromStore(path, 21));
        EXPECT_EQ(SummaryRow(summary.out, "Signal"), MeanAndSigmaFromStore(path, kChannelSignal));
    }
}

TEST_F(FileCommandsStreamTest, ADamagedFileGivesTheSameRefusalAndWritesNothing) {
    std::vector<std::string> lines = Lines(80);
    lines[77].insert(lines[77].find(',') + 1, std::string(32, '9'));  // in the last pieces
    const std::string csv = (dir_.Path() / "bad.csv").string();
    // The header is line 1, so the damaged record is line 79, whatever ends the lines.
    for (const std::string end : {"\r\n", "\r"}) {
        const std::string bad = Write("bad.csd", lines, end);
        const std::string refusal = "corvane3: File Read Error\n" + bad + ", line 79\n";
        for (const FileCommandOptions& options : options_) {
            SCOPED_TRACE(options.pieceBytes);
            EXPECT_EQ(Summary(bad, options).err, refusal);
            for (const std::string& target : {std::string("-"), csv}) {
                const Output refused = Csv(bad, target, options);
                EXPECT_EQ(refused.status, 1);
                EXPECT_EQ(refused.out, "") << "nothing reaches standard output";
                EXPECT_EQ(refused.err, refusal);
            }
            EXPECT_EQ(FilesIn(dir_.Path()).size(), 1u) << "no CSV and no temporary file";
        }
    }
    // A single-precision reading too large for float, late in the file: the whole column gets
    // the digits of doubles, as the store keeps it then, in a file as on standard output.
    lines = Lines(80);
    lines[70].replace(lines[70].find(",Ready") - 6, 6, "4.1e39");  // VCsOven
    const std::string wide = Write("wide.csd", lines);
    const std::string expected = CsvFromStore(wide);
    EXPECT_NE(expected.find(",35.25,"), std::string::npos);  // TChassis keeps float digits
    for (const FileCommandOptions& options : options_) {
        EXPECT_EQ(Csv(wide, "-", options).out, expected);
        EXPECT_EQ(Csv(wide, csv, options).status, 0);
        EXPECT_EQ(FileText(csv), expected);
    }
}

}  // namespace
}  // namespace corvane3
