#pragma once
// Serves a CSimulatedInstrument on a pseudo-terminal from a thread of its own. The program
// under test opens SlavePath() (or the symbolic link named in the options) as its serial port.
//
// Every public operation is thread-safe. Frames the program sent are kept in order so that a
// test can wait for them and check what was sent; faults can be switched at any time.
//
//   SimulatorOptions options;
//   options.instrument.model = 401;
//   CSimulatorServer sim(options);            // serving at once
//   ... point the program at sim.SlavePath() ...
//   auto frames = sim.WaitForFrames(3, 5s);   // the first three frames the program sent
//   sim.UpdateFaults([](SimFaults& f) { f.silent = true; });
//   sim.Disconnect(2s);                       // end of file now, a new terminal in 2 s

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/link/TrafficLog.h"
#include "sim/Faults.h"
#include "sim/FrameParser.h"
#include "sim/ReplayScript.h"
#include "sim/ReplyOverrides.h"
#include "sim/ReplyWriter.h"
#include "sim/SimulatedInstrument.h"

namespace corvane3 {
class CPseudoTerminal;
}

namespace corvane3::sim {

struct SimulatorOptions {
    InstrumentConfig instrument;
    bool pace = false;           // replies at the line's character rate
    std::filesystem::path link;  // symbolic link to the slave; empty for none
    std::optional<std::chrono::milliseconds> reconnectAfter;  // after a disconnect
    CReplyOverrides overrides;
    std::filesystem::path log;  // traffic transcript; empty for none
    // Replies from a recorded transcript instead of the simulated unit, at once or paced as
    // recorded.
    std::optional<CReplayScript> replay;
    bool replayPaced = false;
    SimFaults faults;
};

class CSimulatorServer {
  public:
    // Opens the pseudo-terminal, makes the link and starts serving. IsOpen() and Error() tell
    // whether that worked.
    explicit CSimulatorServer(SimulatorOptions options);
    // Stops serving, closes the terminal and removes the link.
    ~CSimulatorServer();
    CSimulatorServer(const CSimulatorServer&) = delete;
    CSimulatorServer& operator=(const CSimulatorServer&) = delete;

    bool IsOpen() const;
    std::string Error() const;
    // Path of the current slave side; it changes after a reconnect. Empty while disconnected.
    std::string SlavePath() const;

    // Faults take effect from the next frame on.
    SimFaults Faults() const;
    void SetFaults(const SimFaults& faults);
    void UpdateFaults(const std::function<void(SimFaults&)>& change);
    // Replies for code from now on, as an override file would give them.
    void SetOverride(const std::string& code, const std::vector<std::string>& replies);

    // Closes the master side: the program's reads see end of file and its writes fail. A new
    // terminal (same link path) follows after reconnectAfter, or after the options' delay when
    // none is given, or never. Returns once the terminal is closed.
    void Disconnect(std::optional<std::chrono::milliseconds> reconnectAfter = std::nullopt);
    bool IsConnected() const;
    // Waits until a terminal is open; false when timeout passed first.
    bool WaitConnected(std::chrono::milliseconds timeout) const;

    // Frames received since the start or the last ClearFrames, oldest first.
    std::vector<ReceivedFrame> Frames() const;
    std::vector<std::string> Codes() const;  // just their codes
    void ClearFrames();
    // Waits until at least count frames are there and returns them all; on time-out returns
    // what arrived (fewer than count).
    std::vector<ReceivedFrame> WaitForFrames(std::size_t count,
                                             std::chrono::milliseconds timeout) const;
    // The first kept frame with this code, waiting for it up to timeout.
    std::optional<ReceivedFrame> WaitForFrame(const std::string& code,
                                              std::chrono::milliseconds timeout) const;
    // Every reply queued for sending, after faults, oldest first (cleared with the frames).
    std::vector<std::string> Replies() const;

    // Runs f on the instrument under the server's lock, for looking at or changing its state.
    template <typename F>
    auto WithInstrument(F&& f) {
        std::lock_guard lock(mutex_);
        return f(instrument_);
    }

  private:
    void Serve();
    void ServeOnce(std::unique_lock<std::mutex>& lock);
    void HandleFrame(const ReceivedFrame& frame, SimClock::time_point now);
    void Send(const std::string& code, std::string reply, SimClock::time_point now);
    void SendReplayed(const ReceivedFrame& frame, SimClock::time_point now);
    bool LineMatches() const;
    bool OpenTerminal();
    void CloseTerminal();
    void PointLink();
    void Wake() const;

    SimulatorOptions options_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    CSimulatedInstrument instrument_;
    std::unique_ptr<CPseudoTerminal> terminal_;
    std::string slavePath_;
    std::string error_;
    CFrameParser parser_;
    CReplyWriter writer_;
    CTrafficLog log_;
    std::vector<ReceivedFrame> frames_;
    std::vector<std::string> replies_;
    std::optional<LineSettings> lineChange_;
    std::optional<SimClock::time_point> reconnectAt_;
    bool disconnectRequested_ = false;
    std::optional<std::chrono::milliseconds> requestedReconnect_;
    bool stop_ = false;
    int wakeFd_ = -1;
    std::thread thread_;
};

}  // namespace corvane3::sim
