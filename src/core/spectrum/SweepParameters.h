#pragma once
// What a spectrum run sweeps: the choices the spectrum window offers, the frequencies a run
// derives from them, the instrument's sweep command argument, the fixed synthesizer settings
// of the "Set DDS" menu and the file name a saved spectrum is offered under.

#include <array>
#include <cstdint>
#include <string>

namespace corvane3 {

// Spacing of the Zeeman lines in DDS frequency per unit of mF, Hz; the value the spectrum
// window starts with each time it opens.
inline constexpr double kDefaultZeemanFrequencyHz = 46379.831;
// Ntot for sweeps repeated until the run is stopped.
inline constexpr int kNtotForever = -1;

struct SpectrumChoice {
    const char* label;
    int value;
};

// The spectrum window's lists, in their order. Steps give the number of steps: a run has one
// point more.
inline constexpr std::array<SpectrumChoice, 7> kCenterChoices = {{{"mf = -3", -3},
                                                                  {"mf = -2", -2},
                                                                  {"mf = -1", -1},
                                                                  {"mf = 0", 0},
                                                                  {"mf = +1", 1},
                                                                  {"mf = +2", 2},
                                                                  {"mf = +3", 3}}};
inline constexpr std::array<SpectrumChoice, 12> kWidthChoices = {{{"100 Hz", 100},
                                                                  {"200 Hz", 200},
                                                                  {"500 Hz", 500},
                                                                  {"1 kHz", 1000},
                                                                  {"2 kHz", 2000},
                                                                  {"5 kHz", 5000},
                                                                  {"10 k Hz", 10000},
                                                                  {"20 kHz", 20000},
                                                                  {"50 kHz", 50000},
                                                                  {"100 kHz", 100000},
                                                                  {"200 kHz", 200000},
                                                                  {"500 kHz", 500000}}};
inline constexpr std::array<SpectrumChoice, 15> kStepsChoices = {{{"2", 2},
                                                                  {"5", 5},
                                                                  {"10", 10},
                                                                  {"20", 20},
                                                                  {"50", 50},
                                                                  {"100", 100},
                                                                  {"200", 200},
                                                                  {"500", 500},
                                                                  {"1000", 1000},
                                                                  {"2000", 2000},
                                                                  {"5000", 5000},
                                                                  {"10000", 10000},
                                                                  {"20000", 20000},
                                                                  {"50000", 50000},
                                                                  {"100000", 100000}}};
inline constexpr std::array<SpectrumChoice, 8> kNtotChoices = {{{"1", 1},
                                                                {"2", 2},
                                                                {"5", 5},
                                                                {"10", 10},
                                                                {"20", 20},
                                                                {"50", 50},
                                                                {"100", 100},
                                                                {"Forever", kNtotForever}}};
// The items selected when the window opens: mf = 0, 10 k Hz, 20 steps, 1 sweep.
inline constexpr std::size_t kInitialCenterChoice = 3;
inline constexpr std::size_t kInitialWidthChoice = 6;
inline constexpr std::size_t kInitialStepsChoice = 3;
inline constexpr std::size_t kInitialNtotChoice = 0;

// A run's settings as the window's lists give them.
struct SweepParameters {
    int centerMf = kCenterChoices[kInitialCenterChoice].value;
    int widthHz = kWidthChoices[kInitialWidthChoice].value;
    int pointCount = kStepsChoices[kInitialStepsChoice].value + 1;
};

// The frequencies of a run, DDS Hz.
struct SweepPlan {
    double centre = 0;
    double start = 0;
    double step = 0;
    int pointCount = 0;

    // DDS frequency of point i.
    double PointHz(int i) const { return start + i * step; }
};

// centre = mF x zeeman + clock peak; the run spans width around it in pointCount points. A
// point count below 2 is taken as 2.
SweepPlan PlanSweep(const SweepParameters& parameters, double zeemanHz);

// The argument of the instrument's own sweep command: start word, step word, point count
// ("47D511C1DF94,0000BA69DBDD,00021"). The count takes five digits, more when it needs them.
std::string InstrumentSweepArgument(const SweepPlan& plan);

// The synthesizer settings of the "Set DDS" menu, in menu order.
enum class EDdsSetting {
    kClkRamseyTop,
    kClkRamseyLeft,
    kClkRamseyRight,
    kClkRabiLeft,
    kClkRabiRight,
    kZeemanRamseyLeft,
    kZeemanRamseyRight,
    kZeemanRabiLeft,
    kZeemanRabiRight,
    kBackground,
    kArbitrary,
};
inline constexpr std::array<const char*, 11> kDdsSettingLabels = {
    "Clk Ramsey Top",    "Clk Ramsey Left",    "Clk Ramsey Right",    "Clk Rabi Left",
    "Clk Rabi Right",    "Zeeman Ramsey Left", "Zeeman Ramsey Right", "Zeeman Rabi Left",
    "Zeeman Rabi Right", "BackGround",         "Arbitrary..."};

// DDS frequency of a menu setting, Hz; arbitraryOffsetHz is the offset from the clock peak the
// "Arbitrary DDS Setting" dialog keeps.
double DdsSettingHz(EDdsSetting setting, double zeemanHz, double arbitraryOffsetHz);

// "SN01234_mF0.css", "SN01234_mFp2.css", "SN01234_mFn3.css".
std::string SuggestedSpectrumFileName(std::uint32_t serialNumber, int centerMf);

}  // namespace corvane3
