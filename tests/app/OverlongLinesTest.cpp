// A line with more fields than its header (a record appended onto one another program tore) is
// left out and said with its line number by every reader of telemetry files.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include "app/FileCommands.h"
#include "core/metrics/SignalDecayTracker.h"
#include "core/plot/PlotData.h"
#include "core/telemetry/CachedDataFile.h"
#include "core/telemetry/DataFileReader.h"
#include "core/telemetry/SignalDecayScan.h"
#include "support/TelemetryTestData.h"
#include "support/TempDir.h"

namespace corvane3 {
namespace {

using namespace corvane3::testing;

// What a reader made of a file, as text to compare, and what it said of damaged lines.
struct Reading {
    std::string view;
    std::string said;
};

// The MJD, chassis temperature and signal of every point of a loaded store.
std::string PointsOf(const CPlotData& store) {
    std::string text = std::to_string(store.PointCount()) + " points:";
    for (std::int64_t i = 0; i < store.PointCount(); ++i) {
        char point[96];
        std::snprintf(point, sizeof point, " %.6f/%g/%g", store.TimeAxis(0)[i],
                      store.Channel(15)[i], store.Channel(kChannelSignal)[i]);
        text += point;
    }
    return text;
}

Reading InMemory(const std::string& path) {
    CPlotData store;
    DataFileReadOptions options;
    options.threads = 3;
    options.readWindow = 700;
    const DataFileReadResult result = ReadDataFile(store, path, options);
    return {std::to_string(static_cast<int>(result.status)) + " " + PointsOf(store),
            result.message};
}

Reading ThroughCache(const std::string& path) {
    CachedDataFileOptions options;
    options.cachePath = path + ".plotcache";
    options.threads = 3;
    CachedDataFileResult result = ReadDataFileCached(path, options);
    CPlotData store;
    if (result.cache) {
        store.AttachCache(std::move(result.cache), 0, 0, 0);
    }
    return {std::to_string(static_cast<int>(result.read.status)) + " " + PointsOf(store),
            result.read.message};
}

Reading FileCommand(const std::string& path, bool summary) {
    std::ostringstream out, err;
    const FileCommandOptions pieces{.pieceBytes = 600, .threads = 3};
    const int status =
        summary ? RunSummary(path, out, err, pieces) : RunExportCsv(path, "-", out, err, pieces);
    std::string view = out.str();
    view.erase(0, view.find('\n'));  // the summary's first line names the file
    return {std::to_string(status) + view, err.str()};
}

std::string FitOf(const CDecayFitSums& fit) {
    const DecayFit result = fit.Result();
    return std::to_string(result.valid) + " " + std::to_string(result.slope) + " over " +
           std::to_string(fit.Span());
}

Reading DecayScan(const std::string& path) {
    const std::atomic<bool> stop{false};
    const SignalDecayScan scan = ScanSignalDecay(path, std::filesystem::file_size(path), stop);
    return {std::to_string(scan.records) + " records, last " + std::to_string(scan.lastMjd.value_or(0.0)) +
                ", " + FitOf(scan.fit),
            scan.damagedLines == 0 ? ""
                                   : std::to_string(scan.damagedLines) + " from " +
                                         std::to_string(scan.firstDamagedLine)};
}

Reading DecayTracker(const std::string& path) {
    CSignalDecayTracker tracker;
    tracker.Follow(path);
    SignalDecayEstimate estimate;
    // The file is read on a thread of the tracker's; the bound only keeps a fault finite.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (!(estimate = tracker.Current()).fileRead && std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::yield();
    }
    return {std::to_string(estimate.fileRead) + " " + std::to_string(estimate.slopePerDay.value_or(0.0)) +
                " over " + std::to_string(estimate.spanDays),
            tracker.TakeDamageNote()};
}

TEST(OverlongLinesTest, EveryReaderLeavesOutAndSaysLinesWithMoreFieldsThanTheHeader) {
    TempDir dir;
    const std::string clean = (dir.Path() / "clean.csd").string();
    const std::string damaged = (dir.Path() / "damaged.csd").string();
    AppendCsdRecords(clean, 0, 6);
    // Line 4 of the damaged file: a record of another day torn in its seventh field, a whole
    // record appended onto it (57 fields); line 7: a record with one field more (52).
    std::ofstream out(damaged, std::ios::binary);
    out << TelemetryHeaderLine(kModelTq9000) << kTelemetryLineEnd;
    for (int i = 0; i < 6; ++i) {
        if (i == 2 || i == 4) {
            UnitStateData other = DecayingRecord(100 + i);
            other.mjd = 59000.0;
            std::string line = i == 4 ? "" : TelemetryRecordLine(other, kModelTq9000);
            for (std::size_t at = 0, commas = 0; commas < 7 && i == 2; ++at) {
                commas += line[at] == ',' ? 1 : 0;
                line.resize(commas == 7 ? at : line.size());
            }
            line +=
                TelemetryRecordLine(DecayingRecord(50 + i), kModelTq9000) + (i == 4 ? ",0" : "");
            ASSERT_EQ(std::count(line.begin(), line.end(), ',') + 1, i == 2 ? 57 : 52) << line;
            out << line << kTelemetryLineEnd;
        }
        out << TelemetryRecordLine(DecayingRecord(i), kModelTq9000) << kTelemetryLineEnd;
    }
    out.close();
    const std::string text =
        ", line 4 and 1 more line: more fields than the header (records run together); left out";
    const struct {
        const char* reader;
        std::function<Reading(const std::string&)> read;
        std::string said;      // for the damaged file; nothing for the clean one
        const char* cleanHas;  // what the clean file's reading holds: all six records
    } readers[] = {
        {"plot, in memory", InMemory, damaged + text, "0 6 points:"},
        {"plot, through its cache", ThroughCache, damaged + text, "0 6 points:"},
        {"--summary", [](const std::string& p) { return FileCommand(p, true); },
         "corvane3: " + damaged + text + "\n", "\nRecords: 6\n"},
        {"--export-csv", [](const std::string& p) { return FileCommand(p, false); },
         "corvane3: " + damaged + text + "\n", "\n60000.034722"},
        {"decay scan", DecayScan, "2 from 4", "6 records, last 60000.034722"},
        {"decay fit of a headless run", DecayTracker, damaged + text, "1 "},
    };
    for (const auto& r : readers) {
        SCOPED_TRACE(r.reader);
        const Reading fromClean = r.read(clean);
        const Reading fromDamaged = r.read(damaged);
        EXPECT_EQ(fromDamaged.view, fromClean.view);
        EXPECT_EQ(fromDamaged.said, r.said);
        EXPECT_EQ(fromClean.said, "");
        EXPECT_NE(fromClean.view.find(r.cleanHas), std::string::npos) << fromClean.view;
    }
}

}  // namespace
}  // namespace corvane3
