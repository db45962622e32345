#include "sim/CesiumSpectrum.h"

#include <array>
#include <cmath>
#include <numbers>

namespace corvane3::sim {

namespace {
// Half width of the Rabi pedestal, Hz: the "Rabi left/right" points lie 5 kHz from a peak.
constexpr double kRabiHalfWidthHz = 5000.0;
// Period of the Ramsey fringes, Hz: the half-height points of the central fringe lie 250 Hz
// from the peak.
constexpr double kRamseyPeriodHz = 1000.0;
// Beyond a few fringes the velocity spread of the beam washes them out.
constexpr double kRamseyFadeHz = 1500.0;
// Line strengths in volts for mF = -3 ... +3; the clock line (mF = 0) is the strongest.
constexpr std::array<double, 7> kLineVolts = {1.3, 1.7, 2.1, 3.9, 2.1, 1.7, 1.3};
constexpr int kLowestMf = -3;
constexpr double kBackgroundVolts = 0.35;
constexpr double kNoiseVolts = 0.004;

double LineShape(double detuningHz) {
    const double rabi = 1.0 / (1.0 + std::pow(detuningHz / kRabiHalfWidthHz, 2));
    const double fringe = 0.5 *
                          (1.0 + std::cos(2.0 * std::numbers::pi * detuningHz / kRamseyPeriodHz)) *
                          std::exp(-std::pow(detuningHz / kRamseyFadeHz, 2));
    return rabi * (0.5 + 0.5 * fringe);
}
}  // namespace

double DdsWordToHz(unsigned long long word) {
    return static_cast<double>(word) * kDdsHzPerWordUnit;
}

unsigned long long HzToDdsWord(double hz) {
    return static_cast<unsigned long long>(hz * kDdsWordUnitsPerHz + 0.5);
}

double CCesiumSpectrum::CleanSignalVolts(double hz, double beamFraction) {
    double volts = kBackgroundVolts;
    for (std::size_t i = 0; i < kLineVolts.size(); ++i) {
        const double lineHz =
            kClockLineDdsHz + (kLowestMf + static_cast<int>(i)) * kZeemanSpacingHz;
        volts += beamFraction * kLineVolts[i] * LineShape(hz - lineHz);
    }
    return volts;
}

double CCesiumSpectrum::SignalVolts(double hz, double beamFraction) {
    std::normal_distribution<double> noise(0.0, kNoiseVolts);
    return CleanSignalVolts(hz, beamFraction) + noise(noiseSource_);
}

}  // namespace corvane3::sim
