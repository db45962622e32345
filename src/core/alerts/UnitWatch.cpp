#include "core/alerts/UnitWatch.h"

namespace corvane3 {

void CUnitWatch::Run(const UnitEvent& event) {
    if (onEvent_) {
        onEvent_(event);
    }
}

void CUnitWatch::LinkState(bool online, const AlertUnit& unit) {
    if (const auto event = events_.LinkState(online, unit)) {
        Run(*event);
    }
}

std::vector<LimitCrossing> CUnitWatch::StatusRecord(const UnitStateData& data,
                                                    std::int32_t model, const AlertUnit& unit) {
    const D1Record& d1 = data.d1;
    // Another unit on the port: the first one's crossings are not its own.
    if (limitsOf_ != d1.serialNumber) {
        if (limitsOf_) {
            limits_ = CReadingLimitWatch(std::vector<ReadingLimit>(limits_.Limits()));
            projectedSoon_.clear();
        }
        limitsOf_ = d1.serialNumber;
    }
    for (const UnitEvent& event :
         events_.StatusRecord({d1.alarm1, d1.alarm2, d1.alarm3, d1.alarm4, d1.alarm5}, unit)) {
        Run(event);
    }
    std::vector<LimitCrossing> crossings = limits_.StatusRecord(data, model);
    for (const LimitCrossing& crossing : crossings) {
        Run(CUnitEvents::Limit(crossing, unit));
    }
    return crossings;
}

void CUnitWatch::Recording(bool written, const std::string& reason, const AlertUnit& unit) {
    if (written) {
        events_.RecordingFine();
    } else if (const auto event = events_.RecordingFailed(reason, unit)) {
        Run(*event);
    }
}

void CUnitWatch::Projections(const std::vector<std::optional<double>>& reachedMjd, double nowMjd,
                             const AlertUnit& unit) {
    const std::vector<ReadingLimit>& limits = limits_.Limits();
    projectedSoon_.resize(limits.size(), false);
    for (std::size_t i = 0; i < limits.size() && i < reachedMjd.size(); ++i) {
        const bool soon = reachedMjd[i] && *reachedMjd[i] - nowMjd <= kProjectionWarningDays;
        if (soon && !projectedSoon_[i]) {
            Run(CUnitEvents::Projected(limits[i], *reachedMjd[i], unit));
        }
        projectedSoon_[i] = soon;
    }
}

}  // namespace corvane3
