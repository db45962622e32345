#pragma once
// The limited readings' trends over the telemetry file a run records in, kept up to date record
// by record as CSignalDecayTracker keeps the beam signal's: the file's earlier records are read
// once on a thread of their own, the run's records are added as they are written, and the two
// fits are merged.
//
// One thread (the headless run's) calls every member; the reading thread only fills its own
// result, handed over under a lock.

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/telemetry/ReadingTrends.h"

namespace corvane3 {

class CReadingTrendTracker {
  public:
    explicit CReadingTrendTracker(std::vector<ReadingLimit> limits) : limits_(std::move(limits)) {}
    ~CReadingTrendTracker();
    CReadingTrendTracker(const CReadingTrendTracker&) = delete;
    CReadingTrendTracker& operator=(const CReadingTrendTracker&) = delete;

    // Records now go to path: unless it is the file already followed, the trends start over
    // with the records path holds now, read in the background.
    void Follow(const std::string& path);
    // A record line (without its line end) written to the followed file by a unit of model.
    void Add(std::string_view line, std::int32_t model);
    // When each limit's reading is projected to reach its critical limit (MJD), in the order of
    // the limits; all absent while the file's earlier records are still being read.
    std::vector<std::optional<double>> Projections();

  private:
    void StopReading();

    std::vector<ReadingLimit> limits_;
    std::string path_;
    std::vector<ReadingTrend> live_;
    std::thread reader_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> readDone_{false};
    std::mutex mutex_;
    std::vector<ReadingTrend> scanned_;  // guarded by mutex_ until readDone_
    bool merged_ = true;
};

}  // namespace corvane3
