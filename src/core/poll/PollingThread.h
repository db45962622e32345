#pragma once
// The background thread that owns the conversation with the instrument.
//
// In passes about 250 ms apart it keeps the link up (identity poll, port resets every fifth
// failure), and while the unit answers it serves, in this order, one mailbox command, the
// diagnostics listening mode, one Request flag, and the status poll every PollingInterval
// seconds. It reports through the Link status text and notification codes only.

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "core/base/AutoResetEvent.h"
#include "core/config/ProgramSettings.h"
#include "core/poll/ChangeLog.h"
#include "core/poll/QuerySteps.h"

namespace corvane3 {

// Time between two passes.
inline constexpr int kPassPeriodMs = 250;
// Identity polls that fail in a row before the fifth one resets the port.
inline constexpr int kFailuresBeforeReset = 4;
// How long StopBackgroundThread waits for the thread to end: 51 looks, 100 ms apart.
inline constexpr int kStopLooks = 51;
inline constexpr std::chrono::milliseconds kStopLookPeriod{100};
// The diagnostic line buffer; a longer line is handed on when it fills the buffer.
inline constexpr std::size_t kDiagnosticLineLimit = 255;

// When the next status poll is due, on a monotonic clock. A poll is due PollingInterval after
// the previous one was due, not after it ended, so the time the polls take does not add up
// to a drift. Only when the polls have fallen behind by a whole interval (the link was down)
// does the schedule start again from now.
class CPollSchedule {
  public:
    using Clock = std::chrono::steady_clock;

    // True when a poll is due at now (the first one is due at once); the poll then counts as
    // started.
    bool TakeDue(Clock::time_point now, std::chrono::seconds interval);
    // Whole seconds until the next poll is due, rounded up; 0 when it is due.
    long long SecondsLeft(Clock::time_point now, std::chrono::seconds interval) const;

  private:
    std::optional<Clock::time_point> lastDue_;
};

// Steps that belong to other parts of the program and are plugged in when they exist.
struct PollingHooks {
    // One step of a running sweep. Returns true when the thread is to clear the sweep flag and
    // post 29; false when the step has posted 29 and set the flag as it must be itself.
    std::function<bool(PollContext&)> sweepStep;
    // Writes the commands a window has handed over for the unit; run at the start of every
    // pass, online or not, and once more as the thread ends.
    std::function<void(PollContext&)> directCommands;
    // Moves the instrument and the port to new line settings.
    std::function<void(PollContext&)> reconfigureSerial;
    // True while the status polls are to pause (a client of the logging service holds the
    // sweep); everything else of a pass still runs.
    std::function<bool()> pollsHeld;
    // The ports the search for an instrument tries; by default DefaultPortList.
    PortLister listPorts;
    // The commands that end the temporary state another part has put the unit in (an open
    // spectrum window), as that part would send them; none when there is none.
    std::function<std::vector<RelayedCommand>()> closingCommands;
    // Set while the logging service owns the link: every exchange goes through it, its polls,
    // identity checks and port resets stand in for this thread's, and it keeps the change log.
    // Before the unit enters a temporary state the service is given the commands that end it.
    IExchangeRelay* relay = nullptr;
};

class CPollingThread {
  public:
    // Every reference must outlive this object.
    CPollingThread(CSerialPort& port, CUnitState& unit, CLinkStatus& status, CPollingShared& shared,
                   const CProgramSettings& settings, INotificationSink& sink,
                   PollingHooks hooks = {});
    // Stops the thread and waits for it.
    ~CPollingThread();
    CPollingThread(const CPollingThread&) = delete;
    CPollingThread& operator=(const CPollingThread&) = delete;

    // Starts the thread; does nothing while one runs.
    void StartBackgroundThread();
    // Signals the stop event and waits up to 51 x 100 ms for the thread to end. Before it ends
    // the thread finishes its pass and then sends what the windows handed over as they closed
    // (the direct commands, the end of running tests), without pausing. True when it ended (it
    // is then joined and forgotten); false when it is still busy in an exchange, in which case
    // it keeps running and ends after its exchanges.
    bool StopBackgroundThread();
    bool IsRunning() const { return thread_.joinable(); }
    // Every changing command the thread completes from the mailbox is logged here.
    CChangeLog& ChangeLog() { return changeLog_; }

  private:
    void Run();
    // No debug messages from the unit, then remote operation on.
    void SetUpRemoteOperation();
    bool PauseUnlessStopped(std::chrono::milliseconds time);
    void Pass(int& code);
    void IdentityPoll();
    void WithdrawUnsendableCommand(int& code);
    void ServeMailbox(int& code);
    // Appends command to the change log; a failure is posted to the window once.
    void LogChange(const MailboxCommand& command, ChangeOutcome outcome);
    void ListenForDiagnostics(int& code);
    // Sends "0" to every running test ("A01", "A02", "A03" in that order), logs each, clears
    // the Diagnostics mode word and resets the port.
    void EndDiagnosticsTests();
    // The last exchanges of a run: what the windows handed over as they closed.
    void SendWhatWindowsHandedOver();
    bool RunRequest(int& code);
    void PollIfDue(int& code);
    // Attached: hands the service what ends the unit's temporary states and holds its polls
    // while a sweep runs, whenever either changed. False when the service refused the sweep.
    void UpdateServiceHolds();
    std::vector<RelayedCommand> ClosingCommandsNow() const;

    CSerialPort& port_;
    CUnitState& unit_;
    CLinkStatus& status_;
    CPollingShared& shared_;
    const CProgramSettings& settings_;
    INotificationSink& sink_;
    PollingHooks hooks_;
    CChangeLog changeLog_;

    std::thread thread_;
    CAutoResetEvent stopEvent_;
    std::atomic<bool> finished_{false};
    // The thread is sending its last exchanges: pauses end at once. Thread-local.
    bool ending_ = false;

    // Thread-local state of a run.
    std::unique_ptr<CTolvexLink> link_;
    std::unique_ptr<CQuerySteps> steps_;
    std::unique_ptr<PollContext> context_;
    int failureCount_ = 0;
    CPollSchedule schedule_;
    std::string diagnosticLine_;
    // Attached: what the service was last given.
    std::vector<RelayedCommand> registeredClosing_;
    bool pollsHeld_ = false;
};

}  // namespace corvane3
