#pragma once
// The beam signal the unit's detector gives at a synthesizer (DDS) frequency: the clock line
// and the six Zeeman lines, each a narrow Ramsey fringe on a broad Rabi pedestal, over a small
// background.

#include <random>

namespace corvane3::sim {

// DDS frequency of the clock transition's Ramsey peak, Hz.
inline constexpr double kClockLineDdsHz = 12631771.872;
// Spacing of the Zeeman lines in DDS frequency per unit of mF, Hz.
inline constexpr double kZeemanSpacingHz = 46379.831;
// DDS word scaling: a 45 MHz clock and a 48-bit phase accumulator.
inline constexpr double kDdsHzPerWordUnit = 1.59872115546e-07;
inline constexpr double kDdsWordUnitsPerHz = 6254999.48246;

double DdsWordToHz(unsigned long long word);
unsigned long long HzToDdsWord(double hz);

class CCesiumSpectrum {
  public:
    explicit CCesiumSpectrum(unsigned seed) : noiseSource_(seed) {}

    // Signal in volts at the DDS frequency hz, for a beam at beamFraction of its full strength,
    // with a little detector noise.
    double SignalVolts(double hz, double beamFraction);
    // The same without noise.
    static double CleanSignalVolts(double hz, double beamFraction);

  private:
    std::mt19937 noiseSource_;
};

}  // namespace corvane3::sim
