#include "core/metrics/SignalDecayTracker.h"

#include <sys/stat.h>

#include "core/telemetry/TelemetryChunks.h"

namespace corvane3 {

CSignalDecayTracker::~CSignalDecayTracker() {
    StopReading();
}

void CSignalDecayTracker::StopReading() {
    stop_ = true;
    if (reader_.joinable()) {
        reader_.join();
    }
    stop_ = false;
}

void CSignalDecayTracker::Follow(const std::string& path) {
    if (path == path_) {
        return;
    }
    StopReading();
    path_ = path;
    live_ = CDecayFitSums();
    lastLiveMjd_.reset();
    struct stat info {};
    const std::uint64_t size =
        ::stat(path.c_str(), &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
    scanned_ = SignalDecayScan();
    merged_ = false;
    readDone_ = false;
    reader_ = std::thread([this, path, size] {
        SignalDecayScan scan = ScanSignalDecay(path, size, stop_);
        std::lock_guard lock(mutex_);
        scanned_ = std::move(scan);
        readDone_ = true;
    });
}

void CSignalDecayTracker::Add(const SignalPoint& point) {
    live_.Add(point.mjd, point.signal);
    lastLiveMjd_ = point.mjd;
}

SignalDecayEstimate CSignalDecayTracker::Current() {
    SignalDecayEstimate estimate;
    CDecayFitSums fit = live_;
    std::optional<double> lastMjd = lastLiveMjd_;
    if (!merged_) {
        if (!readDone_) {
            // A fit of the run's few records alone would say little about a tube of years.
            estimate.fileRead = false;
            return estimate;
        }
        {
            reader_.join();
            merged_ = true;
            std::lock_guard lock(mutex_);
            // The file's records came before the run's: the run's stay the latest.
            CDecayFitSums whole = scanned_.fit;
            whole.Merge(live_);
            live_ = whole;
            fit = whole;
            if (!lastMjd) {
                lastMjd = lastLiveMjd_ = scanned_.lastMjd;
            }
            if (scanned_.damagedLines > 0) {
                damageNote_ =
                    DamagedLinesText(path_, scanned_.damagedLines, scanned_.firstDamagedLine);
            }
        }
    }
    const DecayFit result = fit.Result();
    estimate.spanDays = fit.Span();
    if (result.valid && lastMjd) {
        estimate.slopePerDay = result.slope;
        estimate.halvesMjd = HalfLifeMjd(result, *lastMjd);
    }
    return estimate;
}

}  // namespace corvane3
