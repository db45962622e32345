// Numbers from the unit, in telemetry and spectrum files and in the fixed texts read and write
// alike whatever the user's locale: each case runs once in the C locale and once in a locale
// whose decimal separator is a comma, and the two results must agree.

#include <gtest/gtest.h>

#include <clocale>
#include <sstream>

#include "app/FileCommands.h"
#include "core/link/StatusRecords.h"
#include "core/plot/Statistics.h"
#include "core/settings/SettingsText.h"
#include "core/spectrum/SpectrumFile.h"
#include "core/telemetry/TelemetryFormat.h"
#include "sim/StatusRecords.h"
#include "support/CommaLocale.h"
#include "support/TelemetryTestData.h"
#include "support/TempDir.h"

namespace corvane3 {
namespace {

// Each comma locale's scope gives the locale back; the test program itself runs in "C".
using LocaleIndependenceTest = ::testing::TestWithParam<const char*>;

TEST_P(LocaleIndependenceTest, RecordsSpectrumFilesAndFixedTextsKeepTheirDecimalPoints) {
    // The replies are what the unit sends: built in the C locale.
    std::setlocale(LC_ALL, "C");
    const std::string d1Reply = sim::BuildD1Record({.pos21V = 21.5, .electronMultiplier = 44.4});
    const std::string b20Reply = sim::BuildB20Record({.system24 = 24.5});
    testing::TempDir dir;
    const std::string path = (dir.Path() / "s.css").string();
    const auto produce = [&] {
        UnitStateData data;
        EXPECT_TRUE(ParseD1Record(d1Reply, data.d1));
        EXPECT_TRUE(ParseB20Record(b20Reply, data.b20));
        data.mjd = 61381.494086;
        std::string message;
        EXPECT_TRUE(WriteSpectrumFile(path, {-4999.5, 0.25}, {1234.5, -3.125}, 2, message));
        SpectrumPoints points;
        EXPECT_EQ(ReadSpectrumFile(path, points).status, ESpectrumFileRead::kRead);
        EXPECT_EQ(points.detuning, (std::vector<double>{-4999.5, 0.25}));
        EXPECT_EQ(points.signal, (std::vector<double>{1234.5, -3.125}));
        std::ostringstream summary, errors;
        EXPECT_EQ(RunSummary(path, summary, errors), 0) << errors.str();
        // The record line as the recorder writes it holds every value read.
        return TelemetryRecordLine(data, kModelTq9000) + "\n" + testing::FileText(path) +
               summary.str() + AscTimeText(0) + " | " + DecayText(-0.0125);
    };
    const std::string inC = produce();
    const testing::ScopedCommaLocale comma(GetParam());
    const std::string inComma = produce();
    EXPECT_EQ(inComma, inC);
    EXPECT_NE(inC.find("61381.494086,"), std::string::npos) << inC;
    EXPECT_NE(inC.find(",21.500,"), std::string::npos) << inC;
    EXPECT_NE(inC.find("\n-4999.5,1234.5\n0.25,-3.125\n"), std::string::npos) << inC;
    EXPECT_TRUE(inC.ends_with("\nThu Jan  1 00:00:00 1970 | Decay = -1.25 %/day")) << inC;
}

INSTANTIATE_TEST_SUITE_P(CommaLocales, LocaleIndependenceTest,
                         ::testing::Values("de_DE.UTF-8", "fr_FR.UTF-8"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param).substr(0, 2);
                         });

// A typed number keeps its decimal point under a comma locale.
TEST_P(LocaleIndependenceTest, ATypedNumberReadsItsDecimalPoint) {
    const testing::ScopedCommaLocale comma(GetParam());
    EXPECT_EQ(LeadingNumber("0.05 s"), 0.05);
}

}  // namespace
}  // namespace corvane3
