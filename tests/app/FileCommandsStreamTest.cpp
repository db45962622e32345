// --summary and --export-csv read a telemetry file in pieces on several threads: whatever the
// pieces and threads, the output is that of the whole file, worked out here from the store the
// file reader fills.

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/FileCommands.h"
#include "core/plot/PlotData.h"
#include "core/telemetry/DataFileReader.h"
#include "core/telemetry/TelemetryFormat.h"
#include "support/CacheAgreement.h"
#include "support/TelemetryTestData.h"
#include "support/TempDir.h"

namespace corvane3 {
namespace {

using namespace corvane3::testing;
namespace fs = std::filesystem;

struct Output {
    int status = -1;
    std::string out;
    std::string err;
};

Output Summary(const std::string& path, const FileCommandOptions& options) {
    std::ostringstream out, err;
    const int status = RunSummary(path, out, err, options);
    return {status, out.str(), err.str()};
}

Output Csv(const std::string& path, const std::string& target, const FileCommandOptions& options) {
    std::ostringstream out, err;
    const int status = RunExportCsv(path, target, out, err, options);
    return {status, out.str(), err.str()};
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
        if (std::isnan(value)) {
            return std::string();
        }
        const auto end = storage == EPlotStorage::kFloat
                             ? std::to_chars(digits, digits + 64, static_cast<float>(value)).ptr
                             : std::to_chars(digits, digits + 64, value).ptr;
        return std::string(digits, end);
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
            EXPECT_EQ(std::distance(fs::directory_iterator(dir_.Path()), fs::directory_iterator()),
                      1)
                << "no CSV and no temporary file";
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
