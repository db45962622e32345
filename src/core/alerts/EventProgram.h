#pragma once
// Runs the user's program once per event (corvane3 --on-event PROGRAM), so that a mail or a
// chat message reaches a person without a monitoring server.
//
// The program is started without a shell (found on PATH when the name has no '/'), with no
// arguments and the event in its environment:
//   CORVANE3_EVENT     link-lost, link-back, alarm, alarm-cleared, recording-failed,
//                      limit-crossed, limit-cleared
//   CORVANE3_SEVERITY  critical, warning or info
//   CORVANE3_UNIT      "Model Tq9000 SN 1234"
//   CORVANE3_CHANNEL   the reading or alarm code, CORVANE3_VALUE the reading's value
//   CORVANE3_TEXT      one sentence for a person
//   CORVANE3_TIME      when the event happened, UTC, ISO 8601
// Programs run one at a time on a thread of the runner's own, so the caller (and with it the
// polling and the recording) never waits for one. A program still running after the time
// limit is killed with its process group. A program that cannot start, fails or is killed is
// reported once; the next report comes only after a run has succeeded in between.
// The program reads /dev/null; what it writes comes back line by line (bounded, see
// CProgramOutput) to the output callback, never straight into this program's own streams.
// Events the program cannot keep up with are dropped as CEventQueue says, and that is reported
// once until the queue has emptied.
//
// Run, Finish and the destructor are called by one thread; the callbacks are called on the
// runner's thread.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "core/alerts/EventQueue.h"
#include "core/alerts/UnitEvents.h"
#include "core/program/CommandLineOptions.h"

namespace corvane3 {

// Long enough for a mail to be handed to the local mail system or a chat message posted over
// a slow link; short enough that a program that hangs does not hold back the next event long.
inline constexpr std::chrono::seconds kEventProgramTimeLimit{kEventProgramSeconds};
// When the program ends, the events still queued are delivered and a running program is let
// finish, all within this bound: one program's own time limit, so that a page sent just before
// a service stop still goes out, and the whole stop stays inside the service's 30 s.
inline constexpr std::chrono::seconds kEventDeliveryAtExit{kEventProgramSeconds};

class CEventProgram {
  public:
    using ReportFunction = std::function<void(const std::string& problem)>;

    // output takes the program's output lines; report takes them when it is empty.
    CEventProgram(std::string program, ReportFunction report, ReportFunction output = {},
                  std::chrono::milliseconds timeLimit = kEventProgramTimeLimit);
    // Finishes within kEventDeliveryAtExit unless Finish was called (what it cuts is lost
    // unsaid: call Finish).
    ~CEventProgram();
    CEventProgram(const CEventProgram&) = delete;
    CEventProgram& operator=(const CEventProgram&) = delete;

    // Queues the event and returns at once. Events beyond a bounded queue are dropped (and
    // said, once per run of drops).
    void Run(const UnitEvent& event);
    // Delivers the events still queued and lets a running program end, within bound from now;
    // what is still queued or running then is dropped or killed. Says what was cut short (""
    // when nothing was). Nothing runs after it; Run is ignored.
    std::string Finish(std::chrono::milliseconds bound);

    // Why program cannot be started ("" when it can): to say at start, not at the first alarm.
    static std::string StartProblem(const std::string& program);

  private:
    void Serve();
    // Runs one event's program to its end or its time limit; the problem, or "" on success.
    std::string RunOne(const QueuedEvent& queued);
    // Waits for the started program pid, passing on what it writes to outputFd; the problem.
    std::string WaitFor(int pid, int outputFd);
    void Report(const std::string& problem);
    // The time the running program must end by.
    std::chrono::steady_clock::time_point DeadlineFrom(std::chrono::steady_clock::time_point start);

    std::string program_;
    ReportFunction report_;
    ReportFunction output_;
    std::chrono::milliseconds timeLimit_;
    std::mutex mutex_;
    std::condition_variable wake_;
    CEventQueue queue_;
    bool stop_ = false;  // finishing: deliver what is queued until finishBy_, then end
    std::chrono::steady_clock::time_point finishBy_;
    bool dropping_ = false;
    std::size_t dropped_ = 0;       // in the current run of drops
    std::size_t notDelivered_ = 0;  // left queued at the finish bound
    bool killedAtFinish_ = false;
    bool finished_ = false;
    bool failing_ = false;  // only the runner's thread touches it
    std::thread thread_;
};

}  // namespace corvane3
