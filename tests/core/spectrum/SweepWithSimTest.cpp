// Spectrum runs through the polling thread against the simulated instrument: both ways of
// sweeping, averaging, stopping a run half-way, and closing. The test thread plays the
// spectrum window: it handles each progress notification as the window does.

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <fstream>

#include "core/link/TrafficLog.h"
#include "core/spectrum/SpectrumAcquisition.h"
#include "support/CommaLocale.h"
#include "support/PollingRig.h"
#include "support/SimFrames.h"

namespace corvane3 {
namespace {

using namespace std::chrono_literals;

class SweepWithSimTest : public testing::PollingRig {
  protected:
    void Start(bool instrumentSweep) {
        sim::SimulatorOptions options;
        options.instrument.warmup = 0ms;
        options.instrument.instrumentSweep = instrumentSweep;
        options.instrument.rebootSilence = 500ms;
        options.log = dir_.Path() / "sim.log";
        PollingHooks hooks;
        spectrum_.InstallHooks(hooks);
        StartPolling(options, hooks);
        spectrum_.Open(instrumentSweep ? ESweepMode::kInstrument : ESweepMode::kHost);
    }

    // Handles progress notifications as the window does until done(progress) or the bound.
    SweepProgress HandleUntil(const std::function<bool(const SweepProgress&)>& done) {
        SweepProgress last;
        const auto until = std::chrono::steady_clock::now() + kEventBound;
        while (std::chrono::steady_clock::now() < until) {
            sink_.WaitForCount(kNotifySweepProgress, handled_ + 1, 1s);
            const auto codes = sink_.Codes();
            const auto posted = static_cast<std::size_t>(
                std::count(codes.begin(), codes.end(), kNotifySweepProgress));
            for (; handled_ < posted; ++handled_) {
                last = spectrum_.HandleProgress();
                if (done(last)) {
                    return last;
                }
            }
        }
        ADD_FAILURE() << "no such progress";
        return last;
    }
    SweepProgress HandleUntilRunEnds() {
        return HandleUntil([](const SweepProgress& p) { return p.runEnded; });
    }

    // The run's spectrum has every point where the plan puts it, and its peak at the clock
    // line.
    static void ExpectWholeSpectrum(const SpectrumData& data, int points) {
        ASSERT_EQ(data.pointsAcquired, points);
        ASSERT_EQ(data.detuning.size(), static_cast<std::size_t>(points));
        for (int i = 0; i < points; ++i) {
            EXPECT_NEAR(data.detuning[i], data.plan.PointHz(i) - data.plan.centre, 0.01) << i;
            EXPECT_GT(data.signal[i], 0.0) << i;
        }
        const auto peak = std::max_element(data.average.begin(), data.average.end());
        EXPECT_NEAR(data.detuning[peak - data.average.begin()], 0.0, 100.0);
    }

    CSpectrumAcquisition spectrum_{shared_, settings_};
    std::size_t handled_ = 0;
};

// The detector readings the simulated unit sent, in volts, oldest first.
std::vector<double> VoltsSent(const std::filesystem::path& log) {
    std::vector<double> volts;
    std::ifstream file(log);
    for (std::string line; std::getline(file, line);) {
        const auto entry = ParseTrafficLine(line);
        // Five characters of volts and ETX, without STX.
        if (entry && entry->direction == ETrafficDirection::kSent && entry->bytes.size() == 6 &&
            entry->bytes.front() != kStx && entry->bytes.back() == kEtx) {
            double value = 0;
            std::from_chars(entry->bytes.data(), entry->bytes.data() + 5, value);
            volts.push_back(value);
        }
    }
    return volts;
}

// Closing the window, which reboots the unit and resumes polling, is run by the spectrum
// window's test against the simulator.
TEST_F(SweepWithSimTest, HostSweepsAverageEveryPointOfTheReadingsTheUnitSent) {
    // A user whose language writes decimal commas: the unit's readings still have points.
    const testing::ScopedCommaLocale comma;
    Start(false);
    ASSERT_TRUE(spectrum_.Start(SweepParameters{}, 2));
    HandleUntil([](const SweepProgress& p) { return p.sweepCompleted; });
    const std::vector<double> firstSweep = spectrum_.Data().average;
    HandleUntilRunEnds();
    const SpectrumData data = spectrum_.Data();
    ExpectWholeSpectrum(data, 21);
    for (std::size_t i = 0; i < 21; ++i) {
        EXPECT_DOUBLE_EQ(data.average[i], (firstSweep[i] + data.signal[i]) / 2) << i;
    }
    // Each point: the word, then the reading; the first reading of a sweep is thrown away.
    const std::vector<std::string> a04 = testing::SentFields(*sim_, "A04");
    ASSERT_EQ(a04.size(), 1 + 2 * (2 + 2 * 21u));
    EXPECT_EQ(a04[1], "47D511C1DF94");
    // The last sweep's points are the last readings the unit sent, in millivolts.
    const std::vector<double> volts = VoltsSent(dir_.Path() / "sim.log");
    ASSERT_EQ(volts.size(), 2 * 22u);
    for (std::size_t i = 0; i < 21; ++i) {
        EXPECT_NEAR(data.signal[i], volts[23 + i] * 1000, 1e-9) << i;
    }
}

// Stopping half-way, in either mode, leaves the port working and the next run untouched by
// the one stopped; in host mode the next run starts while the stopped sweep is still finishing
// its point. An instrument sweep ends on the unit's closing line, which resumes polling.
class AbortTest : public SweepWithSimTest, public ::testing::WithParamInterface<bool> {};

TEST_P(AbortTest, AbortHalfWayLeavesTheNextRunClean) {
    const bool instrumentSweep = GetParam();
    Start(instrumentSweep);
    ASSERT_TRUE(spectrum_.Start({.widthHz = 20000, .pointCount = 101}, kNtotForever));
    HandleUntil([](const SweepProgress& p) { return p.pointsAcquired >= 3; });
    spectrum_.Abort();
    if (instrumentSweep) {
        EXPECT_EQ(HandleUntilRunEnds().closingLine, "Sweep Off");
    }
    ASSERT_TRUE(spectrum_.Start(SweepParameters{}, 1));
    const SweepProgress end = HandleUntilRunEnds();
    EXPECT_EQ(end.completedSweeps, instrumentSweep ? 0 : 1);
    const SpectrumData data = spectrum_.Data();
    ExpectWholeSpectrum(data, 21);
    EXPECT_EQ(data.average, data.signal);
    EXPECT_FALSE(shared_.SweepActive);
    // Polling resumes on an instrument sweep's closing line, after a host sweep only on closing.
    EXPECT_EQ(settings_.PollingEnabled, instrumentSweep);
}

INSTANTIATE_TEST_SUITE_P(BothModes, AbortTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "InstrumentSweep" : "HostSweep";
                         });

}  // namespace
}  // namespace corvane3
