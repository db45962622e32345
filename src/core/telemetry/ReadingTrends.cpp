#include "core/telemetry/ReadingTrends.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "core/base/CLocale.h"
#include "core/base/LineReader.h"
#include "core/base/Mjd.h"
#include "core/plot/Statistics.h"
#include "core/telemetry/TelemetryChunks.h"
#include "core/telemetry/TelemetryColumns.h"

namespace corvane3 {

namespace {

// A record is under 2 KB; a longer line is damage and ends the scan.
constexpr std::size_t kMaxLineBytes = std::size_t{64} << 10;
// A current-format file's header starts with this column name.
constexpr std::string_view kCurrentHeaderStart = "MJD";
constexpr double kLongestDatedDays = 100.0 * 365.25;
constexpr double kHoursPerDay = 24.0;

std::string NumberText(double value) {
    char text[32];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value);
    return error == std::errc() ? std::string(text, end) : std::string("?");
}

std::string DateText(double mjd) {
    using namespace std::chrono;
    const auto day = static_cast<long>(std::floor(mjd - kMjdOfUnixEpoch));
    const year_month_day date{sys_days{std::chrono::days{day}}};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
    return text;
}

std::string FitSpanText(double days) {
    const CScopedCLocale numbers;
    char text[48];
    if (days < kShortestProjectionDays) {
        std::snprintf(text, sizeof text, "fit over %.1f hours", days * kHoursPerDay);
    } else {
        std::snprintf(text, sizeof text, "fit over %ld days", std::lround(days));
    }
    return text;
}

}  // namespace

std::optional<std::vector<ReadingTrend>> ScanReadingTrends(const std::string& path,
                                                           const std::vector<ReadingLimit>& limits,
                                                           std::uint64_t end,
                                                           const std::atomic<bool>& stop) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    CLineReader reader(fd, kMaxLineBytes);
    std::vector<ReadingTrend> trends(limits.size());
    std::vector<std::optional<std::size_t>> columns(limits.size());
    std::uint64_t consumed = 0;
    std::string line;
    bool header = true;
    std::size_t headerFields = 0;
    bool failed = false;
    while (!stop.load(std::memory_order_relaxed)) {
        const CLineReader::ENext next = reader.Next(line);
        if (next != CLineReader::ENext::kLine) {
            failed = next == CLineReader::ENext::kError;
            break;
        }
        // Lines end in CR LF; a line that reaches past end is not there yet.
        consumed += line.size() + 2;
        if (consumed > end) {
            break;
        }
        if (header) {
            header = false;
            if (!line.starts_with(kCurrentHeaderStart)) {
                failed = true;
                break;
            }
            std::vector<std::string> names;
            for (std::size_t start = 0;;) {
                const std::size_t comma = line.find(',', start);
                std::string name = line.substr(start, comma == std::string::npos ? comma
                                                                                  : comma - start);
                name.erase(0, name.find_first_not_of(' '));
                name.erase(name.find_last_not_of(' ') + 1);
                names.push_back(name);
                if (comma == std::string::npos) {
                    break;
                }
                start = comma + 1;
            }
            headerFields = names.size();
            for (std::size_t i = 0; i < limits.size(); ++i) {
                const auto found = std::find(names.begin(), names.end(), limits[i].channel);
                if (found != names.end()) {
                    columns[i] = static_cast<std::size_t>(found - names.begin());
                }
            }
            continue;
        }
        // A line with more fields than the header is two records run together (one torn by
        // another program): its columns are shifted, and no value of it is taken.
        const std::optional<double> mjd = TelemetryColumnValue(line, 0);
        if (!mjd || HasMoreFieldsThanHeader(line, headerFields)) {
            continue;
        }
        for (std::size_t i = 0; i < limits.size(); ++i) {
            if (const auto value = columns[i] ? TelemetryColumnValue(line, *columns[i])
                                              : std::nullopt) {
                trends[i].fit.Add(*mjd, *value);
                trends[i].lastMjd = *mjd;
            }
        }
    }
    ::close(fd);
    if (failed) {
        return std::nullopt;
    }
    return trends;
}

LimitProjection ProjectLimit(const ReadingLimit& limit, const ReadingTrend& trend) {
    LimitProjection projection;
    if (!limit.critical.low && !limit.critical.high) {
        projection.outlook = ELimitOutlook::kNoCriticalLimit;
        return projection;
    }
    const LineFit fit = trend.fit.Result();
    projection.spanDays = fit.spanDays;
    if (!fit.valid || !trend.lastMjd) {
        projection.outlook = ELimitOutlook::kNoFit;
        return projection;
    }
    if (fit.spanDays < kShortestProjectionDays) {
        projection.outlook = ELimitOutlook::kTooShort;
        return projection;
    }
    const std::optional<double> bound = fit.slope > 0.0   ? limit.critical.high
                                        : fit.slope < 0.0 ? limit.critical.low
                                                          : std::nullopt;
    if (!bound) {
        projection.outlook = ELimitOutlook::kMovingAway;
        return projection;
    }
    projection.limit = *bound;
    const double when = (*bound - fit.intercept) / fit.slope;
    const double daysAhead = when - *trend.lastMjd;
    if (daysAhead > kLongestDatedDays) {
        projection.outlook = ELimitOutlook::kBeyondCentury;
        return projection;
    }
    projection.outlook = daysAhead <= 0.0 ? ELimitOutlook::kReached : ELimitOutlook::kDated;
    projection.mjd = when;
    return projection;
}

std::string LimitProjectionText(const ReadingLimit& limit, const LimitProjection& projection,
                                const std::string& unit) {
    const std::string level = NumberText(projection.limit) + (unit.empty() ? "" : " " + unit);
    const std::string span = " (" + FitSpanText(projection.spanDays) + ")";
    switch (projection.outlook) {
        case ELimitOutlook::kNoCriticalLimit:
            return {};
        case ELimitOutlook::kNoFit:
            return limit.channel + ": no trend to project";
        case ELimitOutlook::kTooShort:
            return limit.channel + ": " + FitSpanText(projection.spanDays) +
                   ": too short to project";
        case ELimitOutlook::kMovingAway:
            return limit.channel + " moving away from its critical limit: no crossing in sight";
        case ELimitOutlook::kBeyondCentury:
            return limit.channel + " reaches " + level + " in more than 100 years";
        case ELimitOutlook::kReached:
            return limit.channel + " is past " + level + " already" + span;
        case ELimitOutlook::kDated:
            return limit.channel + " reaches " + level + " by " + DateText(*projection.mjd) + span;
    }
    return {};
}

}  // namespace corvane3
