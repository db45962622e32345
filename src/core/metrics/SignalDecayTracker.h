#pragma once
// The beam signal's decay over the telemetry file a run records in, kept up to date record by
// record: what the file held before the run's first record there is read once on a thread of
// its own, the records written since are added as they go, and the two fits are merged.
//
// One thread (the headless run's) calls every member; the reading thread only fills its own
// result, handed over under a lock.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "core/plot/Statistics.h"
#include "core/telemetry/SignalDecayScan.h"

namespace corvane3 {

struct SignalDecayEstimate {
    std::optional<double> slopePerDay;  // of ln(signal); absent without a fit
    std::optional<double> halvesMjd;    // absent unless the fit falls
    double spanDays = 0.0;              // from the first record fitted to the last
    bool fileRead = true;  // false (and no fit) while the file's earlier records are read
};

class CSignalDecayTracker {
  public:
    CSignalDecayTracker() = default;
    ~CSignalDecayTracker();
    CSignalDecayTracker(const CSignalDecayTracker&) = delete;
    CSignalDecayTracker& operator=(const CSignalDecayTracker&) = delete;

    // Records now go to path: unless it is the file already followed, the fit starts over with
    // the records path holds now, read in the background.
    void Follow(const std::string& path);
    // A record written to the followed file.
    void Add(const SignalPoint& point);
    SignalDecayEstimate Current();
    // What the fit left out of the file as damage, once: empty when nothing, or when said.
    std::string TakeDamageNote() { return std::exchange(damageNote_, {}); }

  private:
    void StopReading();

    std::string path_;
    CDecayFitSums live_;
    std::optional<double> lastLiveMjd_;
    std::thread reader_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> readDone_{false};
    std::mutex mutex_;
    SignalDecayScan scanned_;  // guarded by mutex_ until readDone_
    bool merged_ = true;
    std::string damageNote_;
};

}  // namespace corvane3
