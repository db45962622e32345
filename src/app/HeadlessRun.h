#pragma once
// corvane3 --headless: the polling thread without any window. Prints every change of the link's
// state (a line printed before at most once a minute) and one line per status record, the
// polling steps' progress lines only when asked, and appends each record to the unit's telemetry
// file when asked to.

#include <atomic>
#include <chrono>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/MetricsServer.h"
#include "core/base/LinePriority.h"
#include "core/program/Corvane3App.h"
#include "core/program/ExitStatus.h"
#include "core/telemetry/ReadingLimits.h"

namespace corvane3 {

struct HeadlessOptions {
    std::string port;         // empty: the configured port
    int intervalSeconds = 0;  // 0: the configured interval
    int polls = 0;            // stop after this many status records; 0: run until interrupted
    int timeoutSeconds = 0;   // give up after this long without a status record; 0: never
    // Record every status record in this directory, whatever the configuration says. When
    // empty, records are kept as the configuration's RecordDataFile and DatafileDirectory say.
    // Created when missing: the user named it.
    std::string recordDirectory;
    // Also print the progress lines of every polling step ("Ready: 9", "D1...", "D1...OK").
    bool verbose = false;
    // Serve Prometheus metrics there.
    std::optional<MetricsEndpoint> metrics;
    // The output goes to the journal (JOURNAL_STREAM is set): every line starts with its
    // priority, "<3>" for errors, "<4>" for warnings, "<6>" for the rest.
    bool journal = false;
    // The readings' limits: a line and an event per crossing, and the metrics show them.
    std::vector<ReadingLimit> limits;
    // Run this program once per event (see CEventProgram); empty for none.
    std::string onEvent;
    // Serve the link to clients on this Unix socket (see ControlServer.h); empty for none.
    std::string controlSocket;
};

// text (one or more lines, without the last line end) with every line ended and, for the
// journal, started with its priority.
std::string PriorityLines(ELinePriority priority, const std::string& text, bool journal);

// Runs until options.polls records have arrived, interrupted turns true or no record came for
// options.timeoutSeconds. Always polls, whatever PollingEnabled says. A record that cannot be
// written does not end the run: the recorder says so once, keeps the records (up to its queue's
// limit, the oldest dropped beyond) and writes them when the file can be written again; the
// directory stays the one the run records in. Returns the exit status: kExitDone on a clean
// stop; kExitRefused when the port is not a terminal device, the metrics endpoint cannot listen,
// or records of the run were not kept (the reason went to err); kExitTimedOut after the time-out
// (said on err). A port that does not exist yet is not refused: a USB adapter may be plugged in
// later. With options.metrics, the endpoint is served from before the first poll until the end,
// and its address is said on out first.
int RunHeadless(Corvane3App& app, const HeadlessOptions& options, std::ostream& out,
                std::ostream& err, const std::atomic<bool>& interrupted);

// One short line describing a status record.
std::string StatusRecordLine(const UnitStateData& data, std::int32_t model);

// Keeps the output readable while the link goes round the same few status lines (a missing
// port, a silent unit): a line already printed is held back, and printed again once a minute
// at most, with how often it came in that time. Consecutive equal lines count as repeats.
class CRepeatedLineFilter {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kRepeatPeriod{60};

    // The text to print for line arriving at now, or nothing when it is held back.
    std::optional<std::string> Filter(const std::string& line, Clock::time_point now);
    // Makes every line news again (but for the latest line coming straight again); called when
    // a status record arrives, so the lines of a working link are printed as they come.
    void Forget() { seen_.clear(); }

  private:
    struct Seen {
        Clock::time_point printedAt;
        int repeats = 0;  // arrivals since it was last printed
    };
    std::map<std::string, Seen> seen_;
    std::string latest_;  // consecutive equal lines are never news
};

}  // namespace corvane3
