#include "app/HeadlessRun.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <mutex>
#include <optional>

#include "poll/NotificationQueue.h"
#include "poll/PollingThread.h"

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
        while (!interrupted && (options.polls == 0 || records < options.polls)) {
            const std::optional<int> code = queue.Take(kInterruptCheckPeriod);
            if (code == kNotifyLinkStatusChanged) {
                const std::string status = queue.TakeLine();
                if (status != lastStatus) {
                    out << status << std::endl;
                    lastStatus = status;
                }
            } else if (code == kNotifyStatusRecord) {
                ++records;
                out << StatusRecordLine(app.unitState.Snapshot(), app.unitState.InstrumentModel)
                    << std::endl;
            }
        }
        thread.StopBackgroundThread();
    }
    app.linkStatus.SetSink(nullptr);
    return 0;
}

}  // namespace corvane3
