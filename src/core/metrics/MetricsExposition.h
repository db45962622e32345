#pragma once
// The headless run's state as Prometheus metrics, in the text exposition format 0.0.4.
//
// A pure function of a snapshot: the headless run fills a MetricsSnapshot after each record and
// link change and renders it once; the metrics server only hands the text out. Values are in
// base units (volts, amperes, seconds, ratios), numbers in the shortest form that reads back
// and never in the locale's form; every label value valid UTF-8, whatever the unit or the file
// system gave.
// A unit's readings, state and alarms are shown only while current (the link up and the last
// record recent), so that a dashboard never shows "Operating" for a unit that does not answer;
// the link, the counters and the last record's time stay.
//
//   MetricsSnapshot snapshot;
//   snapshot.up = unit.Online;
//   std::string text = RenderMetrics(snapshot);

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/link/UnitState.h"
#include "core/telemetry/ReadingLimits.h"

namespace corvane3 {

// The content type of RenderMetrics' text.
inline constexpr char kMetricsContentType[] = "text/plain; version=0.0.4; charset=utf-8";

struct MetricsSnapshot {
    std::string version;         // the program's version
    double startedSeconds = 0;   // when the run started, in seconds since 1970
    bool up = false;             // the unit answers
    bool hasRecord = false;      // record holds a status record of this run
    bool recordCurrent = false;  // the record is recent (see RecordCurrentFor)
    UnitStateData record;        // the last status record
    std::int32_t model = kModelBeforeIdentification;
    int pollingIntervalSeconds = 0;
    std::uint64_t statusRecords = 0;  // status records received in this run
    bool recording = false;           // records go to a telemetry file
    std::uint64_t recordsRecorded = 0;
    std::uint64_t recordsLost = 0;  // dropped because they could not be written
    bool recordingFailing = false;  // the last attempt to write a record failed
    // While failing: what failed, with the file and the system's reason ("" when not known).
    std::string recordingFailure;
    std::uint64_t commandsWithdrawn = 0;
    // The beam signal's fit over the telemetry file: slope of ln(signal) per day, and when the
    // fit reaches half its value at the last record (MJD); absent without a fit or a fall.
    std::optional<double> signalSlopePerDay;
    std::optional<double> signalHalvesMjd;
    double signalFitSpanDays = 0.0;  // the time the fit covers
    // The readings' limits; which bands each reading is outside is shown only while the record
    // is current.
    std::vector<ReadingLimit> limits;
    // When each limited reading's fitted trend reaches its critical limit (MJD), in the order
    // of limits; absent without such a projection.
    std::vector<std::optional<double>> limitReachedMjd;
};

std::string RenderMetrics(const MetricsSnapshot& snapshot);

// How long a status record stays current: three polling intervals, so that one slow or failed
// poll does not blank a dashboard, and never less than a poll step can take at a slow baud
// rate with its retries.
std::chrono::seconds RecordCurrentFor(int pollingIntervalSeconds);

// The text with each byte that begins no valid UTF-8 sequence replaced by U+FFFD: a Latin-1
// folder name in a path stays readable and Prometheus accepts it.
std::string ValidUtf8(const std::string& text);

// A label value as valid UTF-8, with backslash, double quote and line feed escaped as the
// format wants.
std::string EscapeLabelValue(const std::string& value);

}  // namespace corvane3
