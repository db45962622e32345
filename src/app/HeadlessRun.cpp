#include "app/HeadlessRun.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <system_error>

#include "app/ControlExchange.h"
#include "app/ControlServer.h"
#include "core/alerts/EventProgram.h"
#include "core/alerts/UnitWatch.h"
#include "core/base/CLocale.h"
#include "core/control/UnitDetails.h"
#include "core/config/TelemetryPath.h"
#include "core/link/MainStatusText.h"
#include "core/link/NetworkPortName.h"
#include "core/link/SerialDevice.h"
#include "core/link/SerialPort.h"
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

// Queues every code, and keeps the Link status as it was when its change was posted, so that no
// line is lost when several follow each other quickly. While the port cannot be opened each line
// carries the reason, as the window's status bar shows it ("/dev/ttyUSB0: not present"): in a
// journal that is all a person has.
class CStatusCapturingSink : public INotificationSink {
  public:
    CStatusCapturingSink(const CLinkStatus& status, const CSerialPort& port)
        : status_(status), port_(port) {}
    void PostNotification(int code) override {
        if (code == kNotifyLinkStatusChanged) {
            LinkStatusLine line = status_.Line();
            if (const std::string reason = port_.LastOpenError(); !reason.empty()) {
                line.text += ": " + PortPaneText(port_.Settings().name, reason);
            }
            std::lock_guard lock(mutex_);
            lines_.push_back(std::move(line));
        }
        queue_.PostNotification(code);
    }
    std::optional<int> Take(std::chrono::milliseconds timeout) { return queue_.Take(timeout); }
    LinkStatusLine TakeLine() {
        std::lock_guard lock(mutex_);
        if (lines_.empty()) {
            return {};
        }
        LinkStatusLine line = std::move(lines_.front());
        lines_.pop_front();
        return line;
    }

  private:
    const CLinkStatus& status_;
    const CSerialPort& port_;
    CNotificationQueue queue_;
    std::mutex mutex_;
    std::deque<LinkStatusLine> lines_;
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
// while it lasts. Each record written is handed to written.
class CStreamTelemetryUi : public ITelemetryUi {
  public:
    using Written = std::function<void(const UnitStateData&, std::int32_t)>;
    using NotWritten = std::function<void(const std::string&)>;
    CStreamTelemetryUi(CLines& err, Written written, NotWritten notWritten)
        : err_(err), written_(std::move(written)), notWritten_(std::move(notWritten)) {}
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
    void RecordWritten(const UnitStateData& data, std::int32_t model) override {
        written_(data, model);
    }
    void RecordNotWritten(const std::string& reason) override { notWritten_(reason); }

  private:
    CLines& err_;
    Written written_;
    NotWritten notWritten_;
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
    if (where.status != ETelemetryPathStatus::kReady) {
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
    if (problem == kNotASerialPort || problem.starts_with(kPortInUse) ||
        problem == kBadNetworkAddress) {
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
        snapshot_.version = CORVANE3_VERSION;
        snapshot_.startedSeconds = std::chrono::duration<double>(
                                       std::chrono::system_clock::now().time_since_epoch())
                                       .count();
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
            program_.emplace(
                options.onEvent,
                [this](const std::string& problem) { Keep(ELinePriority::kWarning, problem); },
                [this](const std::string& line) { Keep(ELinePriority::kInfo, line); });
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
    // reason is the recorder's own one-line reason, or "" when the record was written.
    void Recording(bool written, const std::string& reason, const AlertUnit& unit) {
        watch_->Recording(written, reason, unit);
    }
    // Writes what the program's runner reported since the last call.
    void WriteProblems(CLines& err) {
        std::vector<std::pair<ELinePriority, std::string>> problems;
        {
            std::lock_guard lock(mutex_);
            problems.swap(problems_);
        }
        for (const auto& [priority, problem] : problems) {
            err.Write(priority, "corvane3: " + problem);
        }
    }
    // Delivers the events still queued (see kEventDeliveryAtExit) and writes what the runner
    // said; true when something was cut short.
    bool Finish(CLines& err) {
        const std::string cut = program_ ? program_->Finish(kEventDeliveryAtExit) : "";
        WriteProblems(err);
        if (!cut.empty()) {
            err.Write(ELinePriority::kError, "corvane3: " + cut);
        }
        return !cut.empty();
    }

  private:
    void Keep(ELinePriority priority, const std::string& text) {
        std::lock_guard lock(mutex_);
        problems_.emplace_back(priority, text);
    }

    CLines& out_;
    std::mutex mutex_;
    std::vector<std::pair<ELinePriority, std::string>> problems_;
    std::optional<CEventProgram> program_;  // stopped before what its reports use
    std::optional<CUnitWatch> watch_;
};

// The file the recorder writes this record of a unit of this model to.
std::string RecordFileFor(const CProgramSettings& settings, const UnitStateData& data,
                          std::int32_t model) {
    const TelemetryPath where =
        TelemetryFilePath(settings, static_cast<long>(data.d1.serialNumber));
    return where.status == ETelemetryPathStatus::kReady ? TelemetryFileForModel(where.path, model)
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

namespace {

// The run after its checks: takes each notification the polling thread posts and says, records
// and publishes what it brings. Only the run's thread calls it.
class CHeadlessLoop {
  public:
    CHeadlessLoop(Corvane3App& app, const HeadlessOptions& options, bool record, CLines& out,
                  CLines& err, CMetricsServer& server, CControlServer& control)
        : app_(app),
          options_(options),
          record_(record),
          out_(out),
          err_(err),
          server_(server),
          control_(control),
          telemetryUi_(
              err,
              [this](const UnitStateData& data, std::int32_t model) { CountRecorded(data, model); },
              [this](const std::string& reason) { metrics_.Snapshot().recordingFailure = reason; }),
          recorder_(telemetryUi_),
          metrics_(app, record, options.limits),
          events_(options, out) {
        if (record_) {
            recorder_.DirectoryFound(app_.settings);
        }
    }

    // The metrics as they are before the first poll.
    void PublishFirstMetrics() {
        if (options_.metrics) {
            const auto now = Clock::now();
            metrics_.PublishTo(server_, true, now, now);
        }
    }

    // Runs until options.polls records, interrupted or the time-out; the exit status so far.
    int Run(CStatusCapturingSink& queue, const std::atomic<bool>& interrupted) {
        const std::chrono::seconds timeout(options_.timeoutSeconds);
        lastRecordAt_ = Clock::now();
        int exitStatus = kExitDone;
        while (exitStatus == kExitDone && !interrupted &&
               (options_.polls == 0 || records_ < options_.polls)) {
            const std::optional<int> code = queue.Take(kInterruptCheckPeriod);
            const auto now = Clock::now();
            bool changed = false;
            if (code == kNotifyLinkStatusChanged) {
                LinkStatusChanged(queue.TakeLine(), now);
            } else if (code == kNotifyStatusRecord) {
                StatusRecord(now);
                changed = true;
            }
            if (changed) {
                // Where the readings' trends head: for the metrics and the event program.
                const UnitStateData data = app_.unitState.Snapshot();
                metrics_.Snapshot().limitReachedMjd = metrics_.Trends().Projections();
                events_.Projections(metrics_.Snapshot().limitReachedMjd, data.mjd, UnitNow(data));
            }
            if (options_.metrics) {
                metrics_.PublishTo(server_, changed, now, lastRecordAt_);
                if (const std::string note = metrics_.Decay().TakeDamageNote(); !note.empty()) {
                    err_.Write(ELinePriority::kWarning, "corvane3: " + note);
                }
            }
            events_.WriteProblems(err_);
            for (const CControlServer::Note& note : control_.TakeNotes()) {
                out_.Write(note.priority, note.text);
            }
            if (timeout.count() > 0 && now - lastRecordAt_ >= timeout) {
                err_.Write(ELinePriority::kError, "corvane3: timed out: no status record for " +
                                                      std::to_string(options_.timeoutSeconds) +
                                                      " s");
                exitStatus = kExitTimedOut;
            }
        }
        return exitStatus;
    }

    // Delivers the events still queued (bounded) and says what the runner reported; true when
    // events were cut short.
    bool FinishEvents() { return events_.Finish(err_); }

    // Records of the run that never reached their file: still queued or dropped.
    std::size_t RecordsNotKept() const {
        return recorder_.QueuedRecords() + recorder_.DroppedRecords();
    }

  private:
    using Clock = CRepeatedLineFilter::Clock;

    AlertUnit UnitNow(const UnitStateData& data) const {
        return AlertUnit{app_.unitState.InstrumentModel, data.d1.serialNumber,
                         app_.serialPort.Settings().name};
    }

    // Prints a change of the link (steps only when verbose; repeats held back) and tells the
    // event watch whether the unit is online.
    void LinkStatusChanged(const LinkStatusLine& line, Clock::time_point now) {
        control_.Push(LinkMessage{line.state, line.text, app_.unitState.Online});
        const LinkStateInfo& info = LinkStateInfoOf(line.state);
        const bool shown = options_.verbose || !info.pollingStep;
        if (const auto text = shown ? lines_.Filter(line.text, now) : std::nullopt) {
            out_.Write(info.priority, *text);
        }
        events_.LinkState(app_.unitState.Online, UnitNow(app_.unitState.Snapshot()));
    }

    // Prints the record that was posted, checks it against the limits and records it.
    void StatusRecord(Clock::time_point now) {
        ++records_;
        lastRecordAt_ = now;
        lines_.Forget();
        const PostedRecord posted = app_.unitState.TakeRecord();
        const UnitStateData& data = posted.data;
        // A record that brings an alarm the last one did not have needs a person.
        const std::set<std::uint32_t> alarms = AlarmCodes(data.d1);
        const bool newAlarm = !std::includes(previousAlarms_.begin(), previousAlarms_.end(),
                                             alarms.begin(), alarms.end());
        previousAlarms_ = alarms;
        out_.Write(newAlarm ? ELinePriority::kWarning : ELinePriority::kInfo,
                   StatusRecordLine(data, posted.model));
        events_.StatusRecord(data, posted.model, UnitNow(data));
        control_.Push(RecordMessage{posted.model, data.d1.serialNumber,
                                    TelemetryRecordLine(data, posted.model), UnitDetailsOf(data)});
        MetricsSnapshot& snapshot = metrics_.Snapshot();
        snapshot.hasRecord = true;
        snapshot.record = data;
        snapshot.model = posted.model;
        ++snapshot.statusRecords;
        if (record_) {
            Record(data, posted.model);
        }
    }

    // Hands the record to the recorder; the trackers follow the file it goes to.
    void Record(const UnitStateData& data, std::int32_t model) {
        const std::string file = RecordFileFor(app_.settings, data, model);
        // While the folder is unreachable the file followed so far stays the one.
        if (options_.metrics && !file.empty()) {
            metrics_.Decay().Follow(file);
        }
        if ((options_.metrics || !options_.onEvent.empty()) && !file.empty()) {
            metrics_.Trends().Follow(file);
        }
        const ETelemetryWriteResult result =
            recorder_.WriteTelemetryRecord(data, model, app_.settings);
        MetricsSnapshot& snapshot = metrics_.Snapshot();
        SayDropping(snapshot.recordsLost, recorder_.DroppedRecords());
        snapshot.recordsLost = recorder_.DroppedRecords();
        snapshot.recordingFailing = result != ETelemetryWriteResult::kWritten;
        if (!snapshot.recordingFailing) {
            snapshot.recordingFailure.clear();
        }
        events_.Recording(!snapshot.recordingFailing, snapshot.recordingFailure, UnitNow(data));
    }

    // Says when records start being lost, once until the queue has been written again.
    void SayDropping(std::size_t before, std::size_t now) {
        if (now == before) {
            droppingSaid_ = droppingSaid_ && recorder_.QueuedRecords() > 0;
            return;
        }
        if (!droppingSaid_) {
            droppingSaid_ = true;
            err_.Write(ELinePriority::kError,
                       "corvane3: records are being lost: " + std::to_string(kTelemetryQueueLimit) +
                           " are kept, the oldest dropped (" + std::to_string(now) +
                           " lost so far)");
        }
    }

    // A record the recorder wrote: the trackers read it as a reader of the file would.
    void CountRecorded(const UnitStateData& data, std::int32_t model) {
        const std::string line = TelemetryRecordLine(data, model);
        metrics_.Decay().Add(SignalPointOfLine(line).value_or(
            SignalPoint{TelemetryColumnValue(line, 0).value_or(data.mjd), 0.0}));
        metrics_.Trends().Add(line, model);
        ++metrics_.Snapshot().recordsRecorded;
    }

    Corvane3App& app_;
    const HeadlessOptions& options_;
    const bool record_;
    CLines& out_;
    CLines& err_;
    CMetricsServer& server_;
    CControlServer& control_;
    CStreamTelemetryUi telemetryUi_;
    CTelemetryRecorder recorder_;
    CMetricsState metrics_;
    CHeadlessEvents events_;
    CRepeatedLineFilter lines_;
    Clock::time_point lastRecordAt_;
    int records_ = 0;
    bool droppingSaid_ = false;
    std::set<std::uint32_t> previousAlarms_;
};

// Says how many records of the run were not kept; true when there were any.
bool ReportRecordsNotKept(std::size_t notKept, CLines& err) {
    if (notKept == 0) {
        return false;
    }
    err.Write(ELinePriority::kError, "corvane3: " + RecordsNotRecordedText(notKept));
    return true;
}

// Delivers the events still queued and says what the run did not keep; the exit status.
int FinishRun(CHeadlessLoop& loop, CLines& err, int exitStatus) {
    const bool eventsCut = loop.FinishEvents();
    const bool recordsLost = ReportRecordsNotKept(loop.RecordsNotKept(), err);
    return (eventsCut || recordsLost) && exitStatus == kExitDone ? kExitRefused : exitStatus;
}

// Serves the metrics when asked. False, with the reason on err, when the endpoint cannot listen.
bool StartMetrics(const HeadlessOptions& options, CMetricsServer& server, CLines& out,
                  CLines& err) {
    if (!options.metrics) {
        return true;
    }
    std::string problem;
    if (!server.Start(*options.metrics, problem)) {
        const MetricsEndpoint& at = *options.metrics;
        const bool ipv6 = at.address.find(':') != std::string::npos;
        err.Write(ELinePriority::kError, "corvane3: --metrics: cannot serve on " +
                                             (ipv6 ? "[" + at.address + "]" : at.address) + ":" +
                                             std::to_string(at.port) + ": " + problem);
        return false;
    }
    out.Write(ELinePriority::kInfo, "Metrics on " + server.Url());
    return true;
}

// Serves the control socket when asked. False, with the reason on err, when it cannot listen.
bool StartControl(const HeadlessOptions& options, CControlServer& control, CLines& out,
                  CLines& err) {
    if (options.controlSocket.empty()) {
        return true;
    }
    std::string problem;
    if (!control.Start(options.controlSocket, problem)) {
        err.Write(ELinePriority::kError, "corvane3: --control: cannot serve on " +
                                             options.controlSocket + ": " + problem);
        return false;
    }
    out.Write(ELinePriority::kInfo, "Control socket at " + options.controlSocket);
    return true;
}

}  // namespace

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
    if (options.intervalSeconds > 0) {
        app.settings.PollingInterval =
            std::clamp(options.intervalSeconds, kMinPollingInterval, kMaxPollingInterval);
    }
    CMetricsServer server;
    if (!StartMetrics(options, server, outLines, errLines)) {
        return kExitRefused;
    }
    // Polling is what a headless run is for.
    if (!app.settings.PollingEnabled) {
        outLines.Write(ELinePriority::kInfo,
                       "PollingEnabled=false is ignored: a headless run always polls");
        app.settings.PollingEnabled = true;
    }
    // Commands of the control socket's clients are logged where a window's would be.
    CChangeLog changeLog;
    changeLog.SetDirectory(app.settings.DatafileDirectory);
    CControlServer control([&app, &changeLog](const ControlCommand& command,
                                              const std::string& user) {
        return RunControlExchange(app.serialPort, app.unitState, changeLog, command, user);
    });
    if (!StartControl(options, control, outLines, errLines)) {
        return kExitRefused;
    }
    CHeadlessLoop loop(app, options, record, outLines, errLines, server, control);
    loop.PublishFirstMetrics();
    CStatusCapturingSink queue(app.linkStatus, app.serialPort);
    app.linkStatus.SetSink(&queue);
    int exitStatus;
    {
        PollingHooks hooks;
        hooks.pollsHeld = [&control] { return control.PollsHeld(); };
        CPollingThread thread(app.serialPort, app.unitState, app.linkStatus, app.polling,
                              app.settings, queue, std::move(hooks));
        thread.StartBackgroundThread();
        exitStatus = loop.Run(queue, interrupted);
        // The clients' closing commands go out while the link still runs.
        control.Stop();
        if (!thread.StopBackgroundThread()) {
            // Stuck in an exchange past the stop's bound: what was kept and queued is said,
            // then the process ends without waiting for the thread any longer, with a failing
            // status: the unit may not have received what ends its temporary states.
            errLines.Write(ELinePriority::kError,
                           "corvane3: the unit did not let the polling thread end in time; "
                           "ending without it");
            exitStatus = FinishRun(loop, errLines, exitStatus == 0 ? 1 : exitStatus);
            out.flush();
            err.flush();
            std::fflush(nullptr);
            std::_Exit(exitStatus);
        }
    }
    app.linkStatus.SetSink(nullptr);
    return FinishRun(loop, errLines, exitStatus);
}

}  // namespace corvane3
