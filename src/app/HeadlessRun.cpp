#include "app/HeadlessRun.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <iostream>
#include <mutex>
#include <optional>

#include "poll/NotificationQueue.h"
#include "poll/PollingThread.h"
#include "telemetry/TelemetryPath.h"
#include "telemetry/TelemetryRecorder.h"

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

// Without windows, the recorder's messages go to the error stream and there is no folder
// browser: the run ends instead of asking for another directory.
class CStreamTelemetryUi : public ITelemetryUi {
  public:
    explicit CStreamTelemetryUi(std::ostream& err) : err_(err) {}
    void ShowMessage(const std::string& text, const std::string& title) override {
        err_ << "corvane3: " << title << ": " << text << std::endl;
    }
    std::string BrowseForDataDirectory() override { return {}; }

  private:
    std::ostream& err_;
};

// Points the settings at the directory the run records in and checks it before any polling.
// False, with the reason on err, when nothing could be recorded there.
bool PrepareRecording(CProgramSettings& settings, const std::string& recordDirectory,
                      std::ostream& err) {
    if (!recordDirectory.empty()) {
        // A ';' would start a comment in the configured directory, which this one becomes.
        if (recordDirectory.find(';') != std::string::npos) {
            err << "corvane3: --record: a directory whose name holds ';' cannot be used: "
                << recordDirectory << std::endl;
            return false;
        }
        settings.DatafileDirectory = recordDirectory;
    }
    const TelemetryPath where = TelemetryFilePath(settings, 0);
    if (where.status != TelemetryPathStatus::kReady) {
        err << "corvane3: " << where.message << std::endl;
        return false;
    }
    return true;
}
}  // namespace

std::string StatusRecordLine(const UnitStateData& data, std::int32_t model) {
    const D1Record& d1 = data.d1;
    char line[256];
    std::snprintf(line, sizeof line,
                  "MJD %.5f model %d unit %u state %u alarms %02X %02X %02X %02X %02X "
                  "FreqTune %d Pos21V %.2f TChassis %.1f CLevel %d VEM %.1f",
                  data.mjd, model, d1.serialNumber, d1.state, d1.alarm1, d1.alarm2, d1.alarm3,
                  d1.alarm4, d1.alarm5, d1.freqTune, static_cast<double>(d1.pos21V),
                  static_cast<double>(d1.tChassis), d1.cLevel, static_cast<double>(d1.vem));
    return line;
}

int RunHeadless(Corvane3App& app, const HeadlessOptions& options, std::ostream& out,
                const std::atomic<bool>& interrupted) {
    return RunHeadless(app, options, out, std::cerr, interrupted);
}

int RunHeadless(Corvane3App& app, const HeadlessOptions& options, std::ostream& out,
                std::ostream& err, const std::atomic<bool>& interrupted) {
    const bool record = !options.recordDirectory.empty() || app.settings.RecordDataFile;
    if (record && !PrepareRecording(app.settings, options.recordDirectory, err)) {
        return 1;
    }
    CStreamTelemetryUi telemetryUi(err);
    CTelemetryRecorder recorder(telemetryUi);
    int exitStatus = 0;
    if (!options.port.empty()) {
        SerialLineSettings line = app.serialPort.Settings();
        line.name = options.port;
        app.serialPort.SetSettings(line);
    }
    if (options.intervalSeconds > 0) {
        app.settings.PollingInterval =
            std::clamp(options.intervalSeconds, kMinPollingInterval, kMaxPollingInterval);
    }
    CStatusCapturingSink queue(app.linkStatus);
    app.linkStatus.SetSink(&queue);
    int records = 0;
    {
        CPollingThread thread(app.serialPort, app.unitState, app.linkStatus, app.polling,
                              app.settings, queue);
        thread.StartBackgroundThread();
        std::string lastStatus;
        while (exitStatus == 0 && !interrupted && (options.polls == 0 || records < options.polls)) {
            const std::optional<int> code = queue.Take(kInterruptCheckPeriod);
            if (code == kNotifyLinkStatusChanged) {
                const std::string status = queue.TakeLine();
                if (status != lastStatus) {
                    out << status << std::endl;
                    lastStatus = status;
                }
            } else if (code == kNotifyStatusRecord) {
                ++records;
                const UnitStateData data = app.unitState.Snapshot();
                const std::int32_t model = app.unitState.InstrumentModel;
                out << StatusRecordLine(data, model) << std::endl;
                if (record && recorder.WriteTelemetryRecord(data, model, app.settings) !=
                                  TelemetryWriteResult::kWritten) {
                    exitStatus = 1;
                }
            }
        }
        thread.StopBackgroundThread();
    }
    app.linkStatus.SetSink(nullptr);
    return exitStatus;
}

}  // namespace corvane3
