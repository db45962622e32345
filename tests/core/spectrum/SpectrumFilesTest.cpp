// DDS words and the sweep a run plans, spectrum files, and the lines a unit sends during its
// own sweep as the polling thread files them.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <tuple>

#include "core/link/TolvexLink.h"
#include "core/spectrum/DdsWord.h"
#include "core/spectrum/SpectrumAcquisition.h"
#include "core/spectrum/SpectrumFile.h"
#include "core/spectrum/SweepParameters.h"
#include "support/PortFixture.h"
#include "support/TelemetryTestData.h"
#include "support/TempDir.h"

namespace corvane3 {
namespace {

TEST(DdsWords, InitialSettingsGiveTheSweepAndWordsTheUnitExpects) {
    EXPECT_EQ(InstrumentSweepArgument(PlanSweep(SweepParameters{}, kDefaultZeemanFrequencyHz)),
              "47D511C1DF94,0000BA69DBDD,00021");
    EXPECT_EQ(HzToDdsWord(-5.0), 0u);
    EXPECT_EQ(HzToDdsWord(1e12), kDdsWordMask);
    // The mF sign and digits of the suggested file names.
    EXPECT_EQ(SuggestedSpectrumFileName(1234, 0), "SN01234_mF0.css");
    EXPECT_EQ(SuggestedSpectrumFileName(1234, 2), "SN01234_mFp2.css");
    EXPECT_EQ(SuggestedSpectrumFileName(1234, -3), "SN01234_mFn3.css");
}

class SpectrumFileTest : public ::testing::Test {
  protected:
    std::string Write(const std::string& name, const std::string& text) {
        const std::string path = (dir_.Path() / name).string();
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

    testing::TempDir dir_;
};

TEST_F(SpectrumFileTest, SavedPointsReadBackAtSixSignificantDigits) {
    const std::string path = (dir_.Path() / "SN01234_mF0.css").string();
    std::string message;
    ASSERT_TRUE(WriteSpectrumFile(path, {-5000, 12.3456789, 4500}, {1234.5, 1240.25, 0.000123456},
                                  3, message));
    EXPECT_EQ(testing::FileText(path),
              "Detuning, Signal\n-5000,1234.5\n12.3457,1240.25\n4500,0.000123456\n");
    SpectrumPoints points;
    const SpectrumFileResult result = ReadSpectrumFile(path, points);
    EXPECT_EQ(result.status, ESpectrumFileRead::kRead);
    EXPECT_EQ(points.detuning, (std::vector<double>{-5000, 12.3457, 4500}));
    EXPECT_EQ(points.signal, (std::vector<double>{1234.5, 1240.25, 0.000123456}));
    EXPECT_FALSE(WriteSpectrumFile((dir_.Path() / "no" / "x.css").string(), {}, {}, 0, message));
    EXPECT_EQ(message, "Unable to open file:  " + (dir_.Path() / "no" / "x.css").string());
}

TEST_F(SpectrumFileTest, ReadingStopsAtTheFirstLineThatIsNoPoint) {
    const std::tuple<const char*, ESpectrumFileRead, std::size_t, int> cases[] = {
        {"Detuning, Signal\n", ESpectrumFileRead::kRead, 0, 0},
        {"", ESpectrumFileRead::kRead, 0, 0},
        {"anything\n1,2\n3,4", ESpectrumFileRead::kRead, 2, 0},  // heading not compared
        {"Detuning, Signal\r\n1,2\r\n3,4\r\n\r\n", ESpectrumFileRead::kRead, 2, 0},
        {"Detuning, Signal\n1,2\n3,4\n\n  \n", ESpectrumFileRead::kRead, 2, 0},
        {"Detuning, Signal\n1,2\n\n3,4\n", ESpectrumFileRead::kInvalidData, 1, 3},
        {"Detuning, Signal\n1,2\n3;4\n5,6\n", ESpectrumFileRead::kInvalidData, 1, 3},
        {"Detuning, Signal\n1\n", ESpectrumFileRead::kInvalidData, 0, 2},
    };
    for (const auto& [text, status, count, badLine] : cases) {
        SpectrumPoints points;
        const SpectrumFileResult result = ReadSpectrumFile(Write("f.css", text), points);
        EXPECT_EQ(result.status, status) << text;
        EXPECT_EQ(points.detuning.size(), count) << text;
        EXPECT_EQ(result.badLine, badLine) << text;
        EXPECT_EQ(result.message, badLine ? "Invalid data in file" : "") << text;
    }
}

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
    const SweepParameters three{.pointCount = 3};
    ASSERT_TRUE(spectrum.Start(three, 1));
    spectrum.ServeCommands(context);  // the port reset and "A05"

    const SweepPlan plan = PlanSweep(three, kDefaultZeemanFrequencyHz);
    const std::string peak = FormatDdsWord(HzToDdsWord(kClockRamseyPeakHz));
    ASSERT_TRUE(pty_.Write("\002A05 00000 " + InstrumentSweepArgument(plan) + "\003\n\003\n" +
                           peak + ",1.5000\nSweep started\n" + peak + ",nan\n" + peak + ",9e999\n" +
                           peak + ",-inf\n" + peak.substr(1) + "X,2.0000\n" + peak + ",volts!\n" +
                           peak + ",2.5000\n" + peak + ",3.5000\n" + peak +
                           ",4.5000\nSweep End of 3\n"));
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
    EXPECT_THAT(data.detuning, ::testing::Each(::testing::DoubleNear(0.0, 1e-6)));
}

TEST(HostReadingTest, ANonFiniteReadingCountsAsNoSignalLikeAnUnreadableOne) {
    // Octal escapes: a hex escape would swallow the digits after STX.
    const std::pair<std::string, double> cases[] = {
        {"\0021.2345\003", 1.2345}, {"0.5", 0.5},   {"", 0.0},     {"\002volts", 0.0},
        {"\002nan", 0.0},           {"9e999", 0.0}, {"-inf", 0.0},
    };
    for (const auto& [reply, volts] : cases) {
        EXPECT_EQ(HostReadingVolts(reply), volts) << reply;
    }
}

}  // namespace
}  // namespace corvane3
