#include "core/spectrum/SweepParameters.h"

#include <cstdio>
#include <cstdlib>

#include "core/spectrum/DdsWord.h"

namespace corvane3 {

namespace {
// The Ramsey fringe's half-height points lie 250 Hz, the Rabi pedestal's 5 kHz from a peak.
constexpr double kRamseyOffsetHz = 250.0;
constexpr double kRabiOffsetHz = 5000.0;
}  // namespace

SweepPlan PlanSweep(const SweepParameters& parameters, double zeemanHz) {
    SweepPlan plan;
    plan.pointCount = parameters.pointCount < 2 ? 2 : parameters.pointCount;
    plan.centre = parameters.centerMf * zeemanHz + kClockRamseyPeakHz;
    plan.start = plan.centre - parameters.widthHz / 2.0;
    plan.step = static_cast<double>(parameters.widthHz) / (plan.pointCount - 1);
    return plan;
}

std::string InstrumentSweepArgument(const SweepPlan& plan) {
    char count[16];
    std::snprintf(count, sizeof count, "%05d", plan.pointCount);
    return FormatDdsWord(HzToDdsWord(plan.start)) + "," + FormatDdsWord(HzToDdsWord(plan.step)) +
           "," + count;
}

double DdsSettingHz(EDdsSetting setting, double zeemanHz, double arbitraryOffsetHz) {
    const double zeemanPeak = kClockRamseyPeakHz + zeemanHz;
    switch (setting) {
        case EDdsSetting::kClkRamseyTop:
            return kClockRamseyPeakHz;
        case EDdsSetting::kClkRamseyLeft:
            return kClockRamseyPeakHz - kRamseyOffsetHz;
        case EDdsSetting::kClkRamseyRight:
            return kClockRamseyPeakHz + kRamseyOffsetHz;
        case EDdsSetting::kClkRabiLeft:
            return kClockRamseyPeakHz - kRabiOffsetHz;
        case EDdsSetting::kClkRabiRight:
            return kClockRamseyPeakHz + kRabiOffsetHz;
        case EDdsSetting::kZeemanRamseyLeft:
            return zeemanPeak - kRamseyOffsetHz;
        case EDdsSetting::kZeemanRamseyRight:
            return zeemanPeak + kRamseyOffsetHz;
        case EDdsSetting::kZeemanRabiLeft:
            return zeemanPeak - kRabiOffsetHz;
        case EDdsSetting::kZeemanRabiRight:
            return zeemanPeak + kRabiOffsetHz;
        case EDdsSetting::kBackground:
            return kClockRamseyPeakHz + zeemanHz / 2.0;
        case EDdsSetting::kArbitrary:
            return kClockRamseyPeakHz + arbitraryOffsetHz;
    }
    return kClockRamseyPeakHz;
}

std::string SuggestedSpectrumFileName(std::uint32_t serialNumber, int centerMf) {
    char name[64];
    const char* sign = centerMf > 0 ? "p" : centerMf < 0 ? "n" : "";
    std::snprintf(name, sizeof name, "SN%05lu_mF%s%d.css", static_cast<unsigned long>(serialNumber),
                  sign, std::abs(centerMf));
    return name;
}

}  // namespace corvane3
