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
//
// Run and the destructor are called by one thread; the report callback is called on the
// runner's thread.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "core/alerts/UnitEvents.h"
#include "core/program/CommandLineOptions.h"

namespace corvane3 {

// Long enough for a mail to be handed to the local mail system or a chat message posted over
// a slow link; short enough that a program that hangs does not hold back the next event long.
inline constexpr std::chrono::seconds kEventProgramTimeLimit{kEventProgramSeconds};

class CEventProgram {
  public:
    using ReportFunction = std::function<void(const std::string& problem)>;

    CEventProgram(std::string program, ReportFunction report,
                  std::chrono::milliseconds timeLimit = kEventProgramTimeLimit);
    // Kills a program still running and waits for it to end.
    ~CEventProgram();
    CEventProgram(const CEventProgram&) = delete;
    CEventProgram& operator=(const CEventProgram&) = delete;

    // Queues the event and returns at once. Events beyond a bounded queue are dropped (and
    // said, once per run of drops).
    void Run(const UnitEvent& event);

  private:
    void Serve();
    // Runs one event's program to its end or its time limit; the problem, or "" on success.
    std::string RunOne(const UnitEvent& event, const std::string& time);
    void Report(const std::string& problem);

    std::string program_;
    ReportFunction report_;
    std::chrono::milliseconds timeLimit_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::pair<UnitEvent, std::string>> queue_;  // the event and its time
    bool stop_ = false;
    bool dropping_ = false;
    bool failing_ = false;  // only the runner's thread touches it
    std::thread thread_;
};

}  // namespace corvane3
