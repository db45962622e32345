#include "app/HeadlessRun.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <system_error>

#include "core/base/CLocale.h"
#include "core/config/TelemetryPath.h"
#include "core/link/SerialDevice.h"
#include "core/poll/NotificationQueue.h"
#include "core/poll/PollingThread.h"
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
        std::error_code error;
        std::filesystem::create_directories(recordDirectory, error);
        if (error) {
            const CScopedCLocale englishMessages;
            err << "corvane3: --record: cannot create the directory " << recordDirectory << ": "
                << error.message() << std::endl;
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

// False, with the reason on err, when the port is something that can never be a serial port.
// A port that is missing or not yet usable is only mentioned: it may appear later.
bool CheckPort(const CSerialPort& port, std::ostream& err) {
    const std::string path = CSerialPort::DevicePathForName(port.Settings().name);
    const std::string problem = SerialDeviceProblem(path);
    if (problem == kNotASerialPort || problem.starts_with(kPortInUse)) {
        err << "corvane3: RS232 open failed: " << path << ": " << problem << std::endl;
        return false;
    }
    if (!problem.empty()) {
        err << "corvane3: " << path << ": " << problem << "; trying again until it opens"
            << std::endl;
    }
    return true;
}
}  // namespace

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
    if (!options.port.empty()) {
        SerialLineSettings line = app.serialPort.Settings();
        line.name = options.port;
        app.serialPort.SetSettings(line);
    }
    if (!CheckPort(app.serialPort, err)) {
        return kExitRefused;
    }
    const bool record = !options.recordDirectory.empty() || app.settings.RecordDataFile;
    if (record && !PrepareRecording(app.settings, options.recordDirectory, err)) {
        return kExitRefused;
    }
    CStreamTelemetryUi telemetryUi(err);
    CTelemetryRecorder recorder(telemetryUi);
    if (options.intervalSeconds > 0) {
        app.settings.PollingInterval =
            std::clamp(options.intervalSeconds, kMinPollingInterval, kMaxPollingInterval);
    }
    // Polling is what a headless run is for.
    if (!app.settings.PollingEnabled) {
        out << "PollingEnabled=false is ignored: a headless run always polls" << std::endl;
        app.settings.PollingEnabled = true;
    }
    const std::chrono::seconds timeout(options.timeoutSeconds);
    CStatusCapturingSink queue(app.linkStatus);
    app.linkStatus.SetSink(&queue);
    int exitStatus = kExitDone;
    int records = 0;
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
            if (code == kNotifyLinkStatusChanged) {
                const std::string line = queue.TakeLine();
                const bool shown = options.verbose || !IsPollingStepLine(line);
                if (const auto text = shown ? lines.Filter(line, now) : std::nullopt) {
                    out << *text << std::endl;
                }
            } else if (code == kNotifyStatusRecord) {
                ++records;
                lastRecordAt = now;
                lines.Forget();
                const UnitStateData data = app.unitState.Snapshot();
                const std::int32_t model = app.unitState.InstrumentModel;
                out << StatusRecordLine(data, model) << std::endl;
                if (record && recorder.WriteTelemetryRecord(data, model, app.settings) !=
                                  TelemetryWriteResult::kWritten) {
                    exitStatus = kExitRefused;
                }
            }
            if (exitStatus == kExitDone && timeout.count() > 0 && now - lastRecordAt >= timeout) {
                err << "corvane3: timed out: no status record for " << options.timeoutSeconds
                    << " s" << std::endl;
                exitStatus = kExitTimedOut;
            }
        }
        thread.StopBackgroundThread();
    }
    app.linkStatus.SetSink(nullptr);
    return exitStatus;
}

}  // namespace corvane3
