// The lines a unit sends during its own sweep, as the polling thread files them.

#include <gtest/gtest.h>

#include "core/link/TolvexLink.h"
#include "core/spectrum/DdsWord.h"
#include "core/spectrum/SpectrumAcquisition.h"
#include "support/PortFixture.h"

namespace corvane3 {
namespace {

class SweepLinesTest : public testing::PortFixture {};

TEST_F(SweepLinesTest, EchoesGarbledLinesNonFiniteVoltsAndPointsBeyondTheCountAreDropped) {
    CPollingShared shared;
    CProgramSettings settings;
    CUnitState unit;
    testing::RecordingSink sink;
    CTolvexLink link(port_, unit.InstrumentModel);
    PollContext context{port_, link, unit, status_, shared, sink, {}, {}};
    CSpectrumAcquisition spectrum(shared, settings);
    spectrum.Open(ESweepMode::kInstrument);
    SweepParameters three;
    three.pointCount = 3;
    ASSERT_TRUE(spectrum.Start(three, 1));
    spectrum.ServeCommands(context);  // the port reset and "A05"

    const SweepPlan plan = PlanSweep(three, kDefaultZeemanFrequencyHz);
    const std::string peak = FormatDdsWord(HzToDdsWord(kClockRamseyPeakHz));
    ASSERT_TRUE(
        pty_.Write("\x02"
                   "A05 00000 " +
                   InstrumentSweepArgument(plan) + "\x03\n" + "\x03\n" + peak + ",1.5000\n" +
                   "Sweep started\n" + peak + ",nan\n" + peak + ",9e999\n" + peak + ",-inf\n" +
                   peak.substr(1) + "X,2.0000\n" + peak + ",volts!\n" + peak + ",2.5000\n" + peak +
                   ",3.5000\n" + peak + ",4.5000\n" + "Sweep End of 3\n"));
    for (int step = 0; step < 10 && shared.SweepActive; ++step) {
        spectrum.SweepStep(context);
    }
    const SweepProgress end = spectrum.HandleProgress();
    EXPECT_TRUE(end.runEnded);
    EXPECT_EQ(end.closingLine, "Sweep End of 3");
    EXPECT_EQ(end.step, 3);
    const SpectrumData data = spectrum.Data();
    EXPECT_EQ(data.signal, (std::vector<double>{1500, 2500, 3500}));
    EXPECT_EQ(data.average, data.signal);
    for (double detuning : data.detuning) {
        EXPECT_NEAR(detuning, 0.0, 1e-6);
    }
}

TEST(HostReadingTest, ANonFiniteReadingCountsAsNoSignalLikeAnUnreadableOne) {
    const std::pair<std::string, double> cases[] = {
        {"\x02"
         "1.2345\x03",
         1.2345},
        {"0.5", 0.5},
        {"", 0.0},
        {"\x02"
         "volts",
         0.0},
        {"\x02"
         "nan",
         0.0},
        {"9e999", 0.0},
        {"-inf", 0.0},
    };
    for (const auto& [reply, volts] : cases) {
        EXPECT_EQ(HostReadingVolts(reply), volts) << reply;
    }
}

}  // namespace
}  // namespace corvane3
