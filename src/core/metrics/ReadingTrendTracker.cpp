#include "core/metrics/ReadingTrendTracker.h"

#include <sys/stat.h>

#include "core/telemetry/TelemetryColumns.h"

namespace corvane3 {

CReadingTrendTracker::~CReadingTrendTracker() {
    StopReading();
}

void CReadingTrendTracker::StopReading() {
    stop_ = true;
    if (reader_.joinable()) {
        reader_.join();
    }
    stop_ = false;
}

void CReadingTrendTracker::Follow(const std::string& path) {
    if (path == path_ || limits_.empty()) {
        return;
    }
    StopReading();
    path_ = path;
    live_.assign(limits_.size(), ReadingTrend());
    struct stat info {};
    const std::uint64_t size =
        ::stat(path.c_str(), &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
    scanned_.clear();
    merged_ = false;
    readDone_ = false;
    reader_ = std::thread([this, path, size] {
        std::vector<ReadingTrend> trends =
            ScanReadingTrends(path, limits_, size, stop_).value_or(std::vector<ReadingTrend>());
        std::lock_guard lock(mutex_);
        scanned_ = std::move(trends);
        readDone_ = true;
    });
}

void CReadingTrendTracker::Add(std::string_view line, std::int32_t model) {
    if (live_.size() != limits_.size()) {
        return;  // no file followed
    }
    const std::optional<double> mjd = TelemetryColumnValue(line, 0);
    for (std::size_t i = 0; i < limits_.size() && mjd; ++i) {
        const auto column = TelemetryColumnIndex(limits_[i].channel, model);
        if (const auto value = column ? TelemetryColumnValue(line, *column) : std::nullopt) {
            live_[i].fit.Add(*mjd, *value);
            live_[i].lastMjd = *mjd;
        }
    }
}

std::vector<std::optional<double>> CReadingTrendTracker::Projections() {
    std::vector<std::optional<double>> projections(limits_.size());
    if (live_.size() != limits_.size()) {
        return projections;
    }
    if (!merged_) {
        if (!readDone_) {
            return projections;  // a trend of the run's few records alone says little
        }
        reader_.join();
        merged_ = true;
        std::lock_guard lock(mutex_);
        for (std::size_t i = 0; i < scanned_.size() && i < live_.size(); ++i) {
            // The file's records came before the run's.
            ReadingTrend whole = scanned_[i];
            whole.fit.Merge(live_[i].fit);
            whole.lastMjd = live_[i].lastMjd ? live_[i].lastMjd : whole.lastMjd;
            live_[i] = std::move(whole);
        }
    }
    for (std::size_t i = 0; i < limits_.size(); ++i) {
        const LimitProjection projection = ProjectLimit(limits_[i], live_[i]);
        if (projection.outlook == ELimitOutlook::kDated ||
            projection.outlook == ELimitOutlook::kReached) {
            projections[i] = projection.mjd;
        }
    }
    return projections;
}

}  // namespace corvane3
