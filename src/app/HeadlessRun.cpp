#include "app/HeadlessRun.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <mutex>
#include <optional>
#include <set>
#include <string_view>
#include <system_error>

#include "core/alerts/EventProgram.h"
#include "core/alerts/EventProgram.h"
#include "core/alerts/UnitWatch.h"
#include "core/base/CLocale.h"
#include "core/config/TelemetryPath.h"
#include "core/link/SerialDevice.h"
#include "core/metrics/MetricsExposition.h"
#include "core/metrics/ReadingTrendTracker.h"
#include "core/metrics/SignalDecayTracker.h"
#include "core/poll/NotificationQueue.h"
#include "core/poll/PollingThread.h"
#include "core/telemetry/TelemetryColumns.h"
#include "core/telemetry/TelemetryFormat.h"
#include "core/telemetry/TelemetryRecorder.h"

namespace corvane3 {

namespace {
// How often the loop looks at the interrupt flag while no notification arrives.
constexpr std::chrono::milliseconds kInterruptCheckPeriod{100};

// Queues every code, and keeps the Link status text as it was when its change was posted, so
// that no line is lost when several follow each other quickly.
class CStatusCapturingSink : public INotificationSink {
  public:
    explicit CStatusCapturingSink(const CLinkStatus& status) : status_(status) {}
    void PostNotification(int code) override {
        if (code == kNotifyLinkStatusChanged) {
            std::lock_guard lock(mutex_);
            lines_.push_back(status_.Text());
        }
        queue_.PostNotification(code);
    }
    std::optional<int> Take(std::chrono::milliseconds timeout) { return queue_.Take(timeout); }
    std::string TakeLine() {
        std::lock_guard lock(mutex_);
        if (lines_.empty()) {
            return {};
        }
        std::string line = std::move(lines_.front());
        lines_.pop_front();
        return line;
    }

  private:
    const CLinkStatus& status_;
    CNotificationQueue queue_;
    std::mutex mutex_;
    std::deque<std::string> lines_;
};

// Writes whole lines to a stream, each with its priority when the stream goes to the journal.
class CLines {
  public:
    CLines(std::ostream& stream, bool journal) : stream_(stream), journal_(journal) {}
    void Write(ELinePriority priority, const std::string& text) {
        stream_ << PriorityLines(priority, text, journal_) << std::flush;
    }

  private:
    std::ostream& stream_;
    bool journal_;
};

// Without windows, the recorder's messages go to the error stream; it says each failure once
// while it lasts.
class CStreamTelemetryUi : public ITelemetryUi {
  public:
    explicit CStreamTelemetryUi(CLines& err) : err_(err) {}
    void ShowMessage(const std::string& text, const std::string& title) override {
        err_.Write(ELinePriority::kError, "corvane3: " + title + ": " + text);
    }
    void ShowNotice(const std::string& text, const std::string& title) override {
        err_.Write(ELinePriority::kWarning, "corvane3: " + title + ": " + text);
    }
    // The log names the file and the system's reason.
    void ShowFailure(const std::string&, const std::string& title,
                     const std::string& detail) override {
        ShowMessage(detail, title);
    }

  private:
    CLines& err_;
};

// Points the settings at the directory the run records in and checks it before any polling.
// False, with the reason on err, when nothing could be recorded there.
bool PrepareRecording(CProgramSettings& settings, const std::string& recordDirectory, CLines& err) {
    if (!recordDirectory.empty()) {
        // A ';' would start a comment in the configured directory, which this one becomes.
        if (recordDirectory.find(';') != std::string::npos) {
            err.Write(ELinePriority::kError,
                      "corvane3: --record: a directory whose name holds ';' cannot be used: " +
                          recordDirectory);
            return false;
        }
        std::string reason;
        if (!CreateTelemetryDirectory(recordDirectory, reason)) {
            err.Write(ELinePriority::kError, "corvane3: --record: cannot create the directory " +
                                                 recordDirectory + ": " + reason);
            return false;
        }
        settings.DatafileDirectory = recordDirectory;
    }
    // The configured directory is made as --record's is; what goes wrong is said below.
    if (const std::string configured = CleanTelemetryDirectory(settings.DatafileDirectory);
        !configured.empty()) {
        std::string ignored;
        CreateTelemetryDirectory(configured, ignored);
    }
    const TelemetryPath where = TelemetryFilePath(settings, 0);
    if (where.status != TelemetryPathStatus::kReady) {
        err.Write(ELinePriority::kError, "corvane3: " + where.message);
        return false;
    }
    return true;
}

// False, with the reason on err, when the port is something that can never be a serial port.
// A port that is missing or not yet usable is only mentioned: it may appear later.
bool CheckPort(const CSerialPort& port, CLines& err) {
    const std::string path = CSerialPort::DevicePathForName(port.Settings().name);
    const std::string problem = SerialDeviceProblem(path);
    if (problem == kNotASerialPort || problem.starts_with(kPortInUse)) {
        err.Write(ELinePriority::kError, "corvane3: RS232 open failed: " + path + ": " + problem);
        return false;
    }
    if (!problem.empty()) {
        err.Write(ELinePriority::kWarning,
                  "corvane3: " + path + ": " + problem + "; trying again until it opens");
    }
    return true;
}

// The fault codes of a record that are not empty slots.
std::set<std::uint32_t> AlarmCodes(const D1Record& d1) {
    std::set<std::uint32_t> codes{d1.alarm1, d1.alarm2, d1.alarm3, d1.alarm4, d1.alarm5};
    codes.erase(0);
    return codes;
}

// What the metrics endpoint shows, kept by the run's loop; only that thread touches it.
class CMetricsState {
  public:
    CMetricsState(Corvane3App& app, bool recording, const std::vector<ReadingLimit>& limits)
        : app_(app), trends_(limits) {
        snapshot_.recording = recording;
        snapshot_.limits = limits;
    }
    MetricsSnapshot& Snapshot() { return snapshot_; }
    CSignalDecayTracker& Decay() { return decay_; }
    CReadingTrendTracker& Trends() { return trends_; }
    // Renders the snapshot with what changed outside the loop (the link, the withdrawn
    // commands, the decay fit, the last record growing old) when any of that or the snapshot
    // changed; lastRecordAt is when the loop took the last record.
    void PublishTo(CMetricsServer& server, bool changed, CRepeatedLineFilter::Clock::time_point now,
                   CRepeatedLineFilter::Clock::time_point lastRecordAt) {
        snapshot_.up = app_.unitState.Online;
        snapshot_.recordCurrent =
            snapshot_.hasRecord &&
            now - lastRecordAt <= RecordCurrentFor(app_.settings.PollingInterval);
        snapshot_.pollingIntervalSeconds = app_.settings.PollingInterval;
        snapshot_.commandsWithdrawn = app_.polling.mailbox.WithdrawnCount();
        const SignalDecayEstimate decay = decay_.Current();
        changed = changed || snapshot_.up != publishedUp_ ||
                  snapshot_.recordCurrent != publishedCurrent_ ||
                  snapshot_.commandsWithdrawn != publishedWithdrawn_ ||
                  decay.fileRead != publishedFileRead_;
        if (!changed) {
            return;
        }
        snapshot_.signalSlopePerDay = decay.slopePerDay;
        snapshot_.signalHalvesMjd = decay.halvesMjd;
        snapshot_.signalFitSpanDays = decay.spanDays;
        publishedUp_ = snapshot_.up;
        publishedCurrent_ = snapshot_.recordCurrent;
        publishedWithdrawn_ = snapshot_.commandsWithdrawn;
        publishedFileRead_ = decay.fileRead;
        server.Publish(RenderMetrics(snapshot_));
    }

  private:
    Corvane3App& app_;
    MetricsSnapshot snapshot_;
    CSignalDecayTracker decay_;
    CReadingTrendTracker trends_;
    bool publishedUp_ = false;
    bool publishedCurrent_ = false;
    std::uint64_t publishedWithdrawn_ = 0;
    bool publishedFileRead_ = true;
};

// The run's events for the user's program, whose problems come back through a lock and are
// written by the run's loop.
class CHeadlessEvents {
  public:
    CHeadlessEvents(const HeadlessOptions& options, CLines& out) : out_(out) {
        if (!options.onEvent.empty()) {
            program_.emplace(options.onEvent, [this](const std::string& problem) {
                std::lock_guard lock(mutex_);
                problems_.push_back(problem);
            });
        }
        watch_.emplace(options.limits, [this](const UnitEvent& event) {
            if (program_) {
                program_->Run(event);
            }
        });
    }
    const CReadingLimitWatch& Limits() const { return watch_->Limits(); }
    void LinkState(bool online, const AlertUnit& unit) { watch_->LinkState(online, unit); }
    // A line for each reading crossing its limits.
    void StatusRecord(const UnitStateData& data, std::int32_t model, const AlertUnit& unit) {
        for (const LimitCrossing& crossing : watch_->StatusRecord(data, model, unit)) {
            out_.Write(crossing.cleared ? ELinePriority::kInfo : ELinePriority::kWarning,
                       LimitCrossingText(crossing));
        }
    }
    void Projections(const std::vector<std::optional<double>>& reachedMjd, double nowMjd,
                     const AlertUnit& unit) {
        watch_->Projections(reachedMjd, nowMjd, unit);
    }
    void Recording(bool written, const std::string& file, const AlertUnit& unit) {
        watch_->Recording(written, "Status records cannot be written to " + file + ".", unit);
    }
    // Writes what the program's runner reported since the last call.
    void WriteProblems(CLines& err) {
        std::vector<std::string> problems;
        {
            std::lock_guard lock(mutex_);
            problems.swap(problems_);
        }
        for (const std::string& problem : problems) {
            err.Write(ELinePriority::kWarning, "corvane3: " + problem);
        }
    }

  private:
    CLines& out_;
    std::mutex mutex_;
    std::vector<std::string> problems_;
    std::optional<CEventProgram> program_;  // stopped before what its reports use
    std::optional<CUnitWatch> watch_;
};

// The file the recorder writes this record of a unit of this model to.
std::string RecordFileFor(const CProgramSettings& settings, const UnitStateData& data,
                          std::int32_t model) {
    const TelemetryPath where =
        TelemetryFilePath(settings, static_cast<long>(data.d1.serialNumber));
    return where.status == TelemetryPathStatus::kReady ? TelemetryFileForModel(where.path, model)
                                                       : std::string();
}

}  // namespace

std::string PriorityLines(ELinePriority priority, const std::string& text, bool journal) {
    std::string lines;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find('\n', start);
        if (journal) {
            lines += '<';
            lines += std::to_string(static_cast<int>(priority));
            lines += '>';
        }
        lines.append(text, start, end == std::string::npos ? std::string::npos : end - start);
        lines += '\n';
        if (end == std::string::npos) {
            return lines;
        }
        start = end + 1;
    }
}

ELinePriority LinkLinePriority(const std::string& line) {
    // What CRepeatedLineFilter appends to a line it prints again.
    constexpr std::string_view kRepeated = " (repeated ";
    static const char* const kTroubleLines[] = {"Unit Not Responding", "Resetting", "Error",
                                                "RS232 open failed",   "Send Fail", "Receive Fail",
                                                "Password Fail"};
    for (const char* trouble : kTroubleLines) {
        const std::string_view text(trouble);
        if (line == text || (line.starts_with(text) &&
                             line.compare(text.size(), kRepeated.size(), kRepeated) == 0)) {
            return ELinePriority::kWarning;
        }
    }
    return ELinePriority::kInfo;
}

std::optional<std::string> CRepeatedLineFilter::Filter(const std::string& line,
                                                       Clock::time_point now) {
    const bool again = line == latest_;
    latest_ = line;
    const auto [entry, isNew] = seen_.try_emplace(line, Seen{now, 0});
    Seen& seen = entry->second;
    if (isNew) {
        // Forgotten, but the same line straight again is still no news.
        seen.repeats = again ? 1 : 0;
        return again ? std::nullopt : std::optional(line);
    }
    ++seen.repeats;
    if (now - seen.printedAt < kRepeatPeriod) {
        return std::nullopt;
    }
    const std::string text = line + " (repeated " + std::to_string(seen.repeats) +
                             (seen.repeats == 1 ? " time)" : " times)");
    seen = Seen{now, 0};
    return text;
}

bool IsPollingStepLine(const std::string& line) {
    static const char* const kStepLines[] = {"Polling", "Ready", "Cmd Sent OK", "Response Received",
                                             "Password OK"};
    return std::find(std::begin(kStepLines), std::end(kStepLines), line) != std::end(kStepLines) ||
           line.starts_with("Ready: ") || line.ends_with("...") || line.ends_with("...OK");
}

std::string StatusRecordLine(const UnitStateData& data, std::int32_t model) {
    const D1Record& d1 = data.d1;
    char line[256];
    const CScopedCLocale numbers;
    std::snprintf(line, sizeof line,
                  "MJD %.5f model %d unit %u state %u alarms %02X %02X %02X %02X %02X "
                  "FreqTune %d Pos21V %.2f TChassis %.1f CLevel %d VEM %.1f",
                  data.mjd, model, d1.serialNumber, d1.state, d1.alarm1, d1.alarm2, d1.alarm3,
                  d1.alarm4, d1.alarm5, d1.freqTune, static_cast<double>(d1.pos21V),
                  static_cast<double>(d1.tChassis), d1.cLevel, static_cast<double>(d1.vem));
    return line;
}

int RunHeadless(Corvane3App& app, const HeadlessOptions& options, std::ostream& out,
                std::ostream& err, const std::atomic<bool>& interrupted) {
    CLines outLines(out, options.journal);
    CLines errLines(err, options.journal);
    if (!options.port.empty()) {
        SerialLineSettings line = app.serialPort.Settings();
        line.name = options.port;
        app.serialPort.SetSettings(line);
    }
    if (!CheckPort(app.serialPort, errLines)) {
        return kExitRefused;
    }
    const bool record = !options.recordDirectory.empty() || app.settings.RecordDataFile;
    if (record && !PrepareRecording(app.settings, options.recordDirectory, errLines)) {
        return kExitRefused;
    }
    CStreamTelemetryUi telemetryUi(errLines);
    CTelemetryRecorder recorder(telemetryUi);
    if (record) {
        recorder.DirectoryFound(app.settings);
    }
    if (options.intervalSeconds > 0) {
        app.settings.PollingInterval =
            std::clamp(options.intervalSeconds, kMinPollingInterval, kMaxPollingInterval);
    }
    CMetricsServer server;
    if (options.metrics) {
        std::string problem;
        if (!server.Start(*options.metrics, problem)) {
            const MetricsEndpoint& at = *options.metrics;
            const bool ipv6 = at.address.find(':') != std::string::npos;
            errLines.Write(ELinePriority::kError, "corvane3: --metrics: cannot serve on " +
                                                      (ipv6 ? "[" + at.address + "]" : at.address) +
                                                      ":" + std::to_string(at.port) + ": " +
                                                      problem);
            return kExitRefused;
        }
        outLines.Write(ELinePriority::kInfo, "Metrics on " + server.Url());
    }
    // Polling is what a headless run is for.
    if (!app.settings.PollingEnabled) {
        outLines.Write(ELinePriority::kInfo,
                       "PollingEnabled=false is ignored: a headless run always polls");
        app.settings.PollingEnabled = true;
    }
    CMetricsState metrics(app, record, options.limits);
    CHeadlessEvents events(options, outLines);
    const auto unitNow = [&app](const UnitStateData& data) {
        return AlertUnit{app.unitState.InstrumentModel, data.d1.serialNumber,
                         app.serialPort.Settings().name};
    };
    if (options.metrics) {
        const auto now = CRepeatedLineFilter::Clock::now();
        metrics.PublishTo(server, true, now, now);
    }
    const std::chrono::seconds timeout(options.timeoutSeconds);
    CStatusCapturingSink queue(app.linkStatus);
    app.linkStatus.SetSink(&queue);
    int exitStatus = kExitDone;
    int records = 0;
    // The lines of the records the recorder still holds, oldest first.
    std::deque<std::string> unwritten;
    std::set<std::uint32_t> previousAlarms;
    {
        CPollingThread thread(app.serialPort, app.unitState, app.linkStatus, app.polling,
                              app.settings, queue);
        thread.StartBackgroundThread();
        CRepeatedLineFilter lines;
        auto lastRecordAt = CRepeatedLineFilter::Clock::now();
        while (exitStatus == kExitDone && !interrupted &&
               (options.polls == 0 || records < options.polls)) {
            const std::optional<int> code = queue.Take(kInterruptCheckPeriod);
            const auto now = CRepeatedLineFilter::Clock::now();
            bool changed = false;
            if (code == kNotifyLinkStatusChanged) {
                const std::string line = queue.TakeLine();
                const bool shown = options.verbose || !IsPollingStepLine(line);
                if (const auto text = shown ? lines.Filter(line, now) : std::nullopt) {
                    outLines.Write(LinkLinePriority(line), *text);
                }
                events.LinkState(app.unitState.Online, unitNow(app.unitState.Snapshot()));
            } else if (code == kNotifyStatusRecord) {
                ++records;
                lastRecordAt = now;
                lines.Forget();
                const PostedRecord posted = app.unitState.TakeRecord();
                const UnitStateData& data = posted.data;
                const std::int32_t model = posted.model;
                // A record that brings an alarm the last one did not have needs a person.
                const std::set<std::uint32_t> alarms = AlarmCodes(data.d1);
                const bool newAlarm = !std::includes(previousAlarms.begin(), previousAlarms.end(),
                                                     alarms.begin(), alarms.end());
                previousAlarms = alarms;
                outLines.Write(newAlarm ? ELinePriority::kWarning : ELinePriority::kInfo,
                               StatusRecordLine(data, model));
                events.StatusRecord(data, model, unitNow(data));
                MetricsSnapshot& snapshot = metrics.Snapshot();
                snapshot.hasRecord = true;
                snapshot.record = data;
                snapshot.model = model;
                snapshot.limitLevels = events.Limits().Levels();
                ++snapshot.statusRecords;
                if (record) {
                    // While the folder is unreachable the file followed so far stays the one.
                    if (const std::string file = RecordFileFor(app.settings, data, model);
                        options.metrics && !file.empty()) {
                        metrics.Decay().Follow(file);
                    }
                    if (const std::string file = RecordFileFor(app.settings, data, model);
                        (options.metrics || !options.onEvent.empty()) && !file.empty()) {
                        metrics.Trends().Follow(file);
                    }
                    const std::size_t droppedBefore = recorder.DroppedRecords();
                    unwritten.push_back(TelemetryRecordLine(data, model));
                    const TelemetryWriteResult result =
                        recorder.WriteTelemetryRecord(data, model, app.settings);
                    for (std::size_t n = recorder.DroppedRecords() - droppedBefore;
                         n > 0 && !unwritten.empty(); --n) {
                        unwritten.pop_front();
                    }
                    while (unwritten.size() > recorder.QueuedRecords()) {
                        const std::string& line = unwritten.front();
                        metrics.Decay().Add(SignalPointOfLine(line).value_or(
                            SignalPoint{TelemetryColumnValue(line, 0).value_or(data.mjd), 0.0}));
                        metrics.Trends().Add(line, model);
                        unwritten.pop_front();
                        ++snapshot.recordsRecorded;
                    }
                    snapshot.recordsLost = recorder.DroppedRecords();
                    snapshot.recordingFailing = result != TelemetryWriteResult::kWritten;
                    events.Recording(!snapshot.recordingFailing,
                                     RecordFileFor(app.settings, data, model), unitNow(data));
                }
                changed = true;
            }
            if (changed) {
                // Where the readings' trends head: for the metrics and the event program.
                const UnitStateData data = app.unitState.Snapshot();
                metrics.Snapshot().limitReachedMjd = metrics.Trends().Projections();
                events.Projections(metrics.Snapshot().limitReachedMjd, data.mjd, unitNow(data));
            }
            if (options.metrics) {
                metrics.PublishTo(server, changed, now, lastRecordAt);
            }
            events.WriteProblems(errLines);
            if (exitStatus == kExitDone && timeout.count() > 0 && now - lastRecordAt >= timeout) {
                errLines.Write(ELinePriority::kError, "corvane3: timed out: no status record for " +
                                                          std::to_string(options.timeoutSeconds) +
                                                          " s");
                exitStatus = kExitTimedOut;
            }
        }
        thread.StopBackgroundThread();
    }
    app.linkStatus.SetSink(nullptr);
    const std::size_t notKept = recorder.QueuedRecords() + recorder.DroppedRecords();
    if (notKept > 0) {
        errLines.Write(ELinePriority::kError, "corvane3: " + std::to_string(notKept) +
                                                  (notKept == 1 ? " record was" : " records were") +
                                                  " not recorded");
        if (exitStatus == kExitDone) {
            exitStatus = kExitRefused;
        }
    }
    return exitStatus;
}

}  // namespace corvane3
