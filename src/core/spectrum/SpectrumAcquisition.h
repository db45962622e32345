#pragma once
// Acquiring a cesium spectrum: the state a sweep shares between the spectrum window (on the
// user-interface thread) and the polling thread, the two ways of sweeping, and averaging.
//
// Host sweep: the polling thread sets the synthesizer point by point ("A04" word), waits for
// the beam to settle and reads the detector ("A04" "?"). Instrument sweep: one "A05" starts the
// sweep in the unit, which sends a line per point and a closing line; the polling thread reads
// and files the lines. Either way the thread posts kNotifySweepProgress, and the window calls
// HandleProgress() on its own thread, which runs the end-of-sweep pass (averaging, the next
// sweep of the run, the end of the run).
//
// The window's own commands (the opening word, "Set DDS", stopping and closing) are not written
// by the window: they are queued here and written by the polling thread at the start of its
// next pass, under the port's exchange lock like every other exchange. No call of the window's
// waits for the port.
//
// Flags are atomics; everything else is guarded by one lock that is never held across an
// exchange. Each run has a number: a step still finishing a point of an older run writes
// nothing into the new run's arrays, and never clears the new run's flag.

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/config/ProgramSettings.h"
#include "core/poll/PollingShared.h"
#include "core/poll/PollingThread.h"
#include "core/poll/QuerySteps.h"
#include "core/spectrum/SweepParameters.h"

namespace corvane3 {

// The word the window sets when it opens for a host sweep. It is the clock peak, but as the
// unit's firmware has always received it, not as HzToDdsWord rounds it (47DC59E47639).
inline constexpr char kOpeningDdsWord[] = "47DC59E4762D";
// Settling time of the beam signal after the synthesizer moved (host sweep).
inline constexpr std::chrono::milliseconds kDdsSettleTime{100};
// A host sweep notifies the window once every P / this many points, so that long sweeps do not
// flood it with redraws.
inline constexpr int kMaxNotificationsPerSweep = 1000;
// Longest line the unit sends during its own sweep.
inline constexpr int kSweepLineLimit = 64;
// Longest reply to "A05" "off" and to "A02" "0".
inline constexpr int kClosingReplyLimit = 64;
// After "A02" "0" the unit restarts; give it a second before the thread talks to it again.
inline constexpr std::chrono::milliseconds kRebootPause{1000};
// How long one instrument sweep step keeps reading lines that keep coming, so that a fast unit
// is read as fast as it sends and the window still hears of progress every pass.
inline constexpr std::chrono::milliseconds kLineReadingPerStep{250};

enum class ESweepMode { kHost, kInstrument };

// The detector volts of a host sweep's reading: the number at the start of the reply (after its
// STX). A reply without one, or with one that is not finite ("nan", "9e999"), counts as 0 V, as
// a timed-out reply does.
double HostReadingVolts(const std::string& reply);
// The volts field of an instrument sweep's point line; nullopt when it does not start with a
// finite number, and the line is dropped as garbled.
std::optional<double> PointLineVolts(const std::string& field);

// What one progress notification brought, for the window to show.
struct SweepProgress {
    int step = 0;                 // the "Step:" box: last point index (host), points received
                                  // (instrument)
    int pointsAcquired = 0;       // points of the sweep in progress to draw (series 0)
    bool sweepCompleted = false;  // an end-of-sweep pass ran: the average (series 1) is new
    int completedSweeps = 0;      // N
    bool rescale = false;         // fit the axes to the data: after a run's first completed
                                  // sweep, and after every instrument sweep
    bool runEnded = false;        // the run is over: controls enabled, button "Go!"
    std::string closingLine;      // instrument sweep: the unit's closing line, as sent
                                  // (without its LF); empty otherwise
};

// A copy of the spectrum, for drawing and saving.
struct SpectrumData {
    SweepPlan plan;
    std::vector<double> detuning;  // Hz from the centre, one per point
    std::vector<double> signal;    // mV, the sweep in progress
    std::vector<double> average;   // mV, over the completed sweeps
    int pointsAcquired = 0;
    int completedSweeps = 0;  // N
    int ntot = 1;
    bool running = false;
};

class CSpectrumAcquisition {
  public:
    // Both references must outlive this object; so must the polling thread's hooks that call it.
    CSpectrumAcquisition(CPollingShared& shared, CProgramSettings& settings);

    // ---- User-interface thread ----

    // The window opened in live mode: remembers PollingEnabled, sets ZeemanFrequency to its
    // default and, for a host sweep, queues a port reset and the opening word. The spectrum
    // becomes one point of 0.
    void Open(ESweepMode mode);
    // "Go!": plans the run from parameters and ZeemanFrequency, sizes the arrays, suspends
    // polling, queues a port reset (and "A05" with its argument for an instrument sweep) and
    // sets SweepActive. False (nothing changes) while a run is going.
    bool Start(const SweepParameters& parameters, int ntot);
    // "Abort!". Host sweep: the run ends at once (the step stops before its next point; the
    // points it renewed are still averaged in). Instrument sweep: queues "A05" "off"; the
    // unit's closing line ends the run.
    void Abort();
    // Ntot chosen during a run; counts at the next end-of-sweep pass.
    void SetNtot(int ntot);
    // "Set DDS": queues "A04" with the word of hz.
    void SetDds(double hz);
    // Stops any sweep (Ntot 0) without closing: the first step of closing, and all of it when
    // the user keeps the window open.
    void Halt();
    // The window closes: Halt(), then queues "A05" "off" (instrument sweep) or "A02" "0" (host
    // sweep: the unit reboots), and restores PollingEnabled as it was at Open().
    void Close();
    // A spectrum loaded from a file replaces the data: any sweep stops, the points count as
    // one completed sweep. detuning and signal must be the same length.
    void LoadPoints(const std::vector<double>& detuning, const std::vector<double>& signal);
    // The window's handling of kNotifySweepProgress.
    SweepProgress HandleProgress();

    SpectrumData Data() const;
    ESweepMode Mode() const;
    bool IsRunning() const;

    // Zeeman line spacing the next run's centre is computed with; user-interface thread only.
    double ZeemanFrequency = kDefaultZeemanFrequencyHz;

    // ---- Polling thread, exchange lock held ----

    // Writes the queued commands, oldest first. Send failures are not reported.
    void ServeCommands(PollContext& context);
    // One step of the running sweep: the queued commands, then a whole host sweep or the
    // instrument's waiting lines. Posts kNotifySweepProgress itself and clears SweepActive
    // itself when its sweep ended; always returns false.
    bool SweepStep(PollContext& context);

    // Makes the polling thread run ServeCommands and SweepStep.
    void InstallHooks(PollingHooks& hooks);
    // What Close sends, from Open until Close's commands have gone out: what a logging service
    // sends for this window when it goes away first.
    std::vector<RelayedCommand> ClosingCommands() const;

  private:
    struct QueuedCommand {
        enum class EKind { kResetPort, kSend } kind = EKind::kSend;
        std::string code;
        std::string data;
        char replyTerminator = 0;  // 0: no reply is read
        int replyLimit = 0;
        std::chrono::milliseconds pauseAfter{0};
    };

    // Both with the lock held.
    void QueueResetPort();
    void QueueSend(std::string code, std::string data, char replyTerminator = 0, int replyLimit = 0,
                   std::chrono::milliseconds pauseAfter = std::chrono::milliseconds(0));
    void ResizeLocked(int points);
    void HostSweep(PollContext& context, std::uint64_t run, const SweepPlan& plan);
    void InstrumentLines(PollContext& context, std::uint64_t run);
    // Files one line of the unit's sweep output; true for the closing line.
    bool AcceptLine(std::string line, std::uint64_t run);
    void EndOfHostSweepLocked(SweepProgress& progress);
    void EndOfInstrumentSweepLocked(SweepProgress& progress);

    CPollingShared& shared_;
    CProgramSettings& settings_;

    mutable std::mutex mutex_;
    std::deque<QueuedCommand> queue_;
    ESweepMode mode_ = ESweepMode::kHost;
    bool open_ = false;  // from Open until the commands Close queued have gone out
    bool closeQueued_ = false;
    bool savedPollingEnabled_ = true;
    std::uint64_t run_ = 0;    // number of the current run
    bool running_ = false;     // between "Go!" and the end of the run
    bool sweepEnded_ = false;  // the current run's sweep ended; the end pass has not run
    std::string closingLine_;  // instrument sweep
    SweepPlan plan_;
    std::vector<double> detuning_, signal_, sum_, average_;
    int pointsAcquired_ = 0;
    int completed_ = 0;  // N
    int ntot_ = 1;
};

}  // namespace corvane3
