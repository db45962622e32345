#include "core/telemetry/ReadingLimits.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/telemetry/TelemetryFormat.h"

namespace corvane3 {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(ReadingLimitsTest, AFileSetsBandsPerReadingAndReportsEachBadLineWithItsNumber) {
    const ReadingLimits limits = ParseReadingLimits(
        "# example\n"
        "[VEM]\n"
        "WarningHigh = 2400\r\n"
        "CriticalHigh=2.5e3\n"
        "WarningLow =\n"
        "\n"
        "[Batt24]\n"
        "WarningLow = 25,5\n"  // 5: a decimal comma is no number here
        "CriticalLow = +24\n"
        "[Nothing]\n"        // 10: no such column
        "WarningHigh = 1\n"  // its keys go with it, unreported
        "[Alarm1]\n"         // 12: a code, not a reading
        "[IIP]\n"
        "Warninghigh = 3\n"  // 14: keys are exact
        "just text\n"        // 15
        "CriticalHigh = 40\n"
        "[VEM\n",  // 17
        "lim.ini");
    ASSERT_EQ(limits.readings.size(), 3u);
    const ReadingLimit& vem = limits.readings[0];
    EXPECT_EQ(vem.channel, "VEM");
    EXPECT_EQ(vem.warning.high, 2400.0);
    EXPECT_EQ(vem.critical.high, 2500.0);
    EXPECT_FALSE(vem.warning.low);
    EXPECT_EQ(limits.readings[1].critical.low, 24.0);
    EXPECT_FALSE(limits.readings[1].warning.low);
    EXPECT_EQ(limits.readings[2].critical.high, 40.0);
    EXPECT_THAT(limits.problems,
                ElementsAre("lim.ini:8: not a number: 25,5", "lim.ini:10: no reading named Nothing",
                            "lim.ini:12: no reading named Alarm1",
                            "lim.ini:14: unknown key Warninghigh (WarningLow, WarningHigh, "
                            "CriticalLow or CriticalHigh)",
                            "lim.ini:15: expected KEY = VALUE: just text",
                            "lim.ini:17: not a section line: [VEM"));
}

TEST(ReadingLimitsTest, AMissingFileAndThePackagedExampleSetNothingAndAreNoProblem) {
    for (const char* path :
         {"/nonexistent/Corvane3-limits.ini", CORVANE3_PACKAGING "/Corvane3-limits.ini"}) {
        const ReadingLimits limits = LoadReadingLimits(path);
        EXPECT_THAT(limits.readings, IsEmpty()) << path;
        EXPECT_THAT(limits.problems, IsEmpty()) << path;
    }
    EXPECT_EQ(LimitsPathFor("/etc/corvane3/Corvane3.ini"), "/etc/corvane3/Corvane3-limits.ini");
}

// One row per record: the VEM it carries and the crossings it must give.
struct WatchStep {
    float vem;
    std::vector<std::string> crossings;
};

TEST(ReadingLimitsTest, EachBandLeftIsOneCrossingAndOnlyAComebackInsideReArmsIt) {
    ReadingLimit vem{"VEM", {std::nullopt, 2400.0}, {1000.0, 2500.0}};
    CReadingLimitWatch watch({vem});
    const WatchStep steps[] = {
        {2300.0f, {}},
        {2400.0f, {}},  // on the limit is inside
        {2450.0f, {"VEM 2450 above its warning limit 2400"}},
        {2460.0f, {}},
        {2550.0f, {"VEM 2550 above its critical limit 2500"}},
        {2450.0f, {}},  // back under critical, still over warning: nothing new
        {2550.0f, {"VEM 2550 above its critical limit 2500"}},
        {2350.0f, {"VEM back inside its limits (2350)"}},
        {2350.0f, {}},
        {2450.0f, {"VEM 2450 above its warning limit 2400"}},
        {900.0f, {"VEM 900 below its critical limit 1000"}},
    };
    for (const WatchStep& step : steps) {
        UnitStateData data;
        data.d1.vem = step.vem;
        std::vector<std::string> texts;
        for (const LimitCrossing& crossing : watch.StatusRecord(data, kModelTq9000)) {
            texts.push_back(LimitCrossingText(crossing));
        }
        EXPECT_EQ(texts, step.crossings) << "VEM " << step.vem;
    }
    EXPECT_THAT(watch.Levels(), ElementsAre(ELimitLevel::kCritical));
    EXPECT_EQ(LimitBandText(vem), "warning above 2400, critical below 1000 and above 2500");
}

TEST(ReadingLimitsTest, AReadingTheRecordLacksKeepsItsState) {
    CReadingLimitWatch watch({ReadingLimit{"Batt24", {25.0, std::nullopt}, {}}});
    UnitStateData data;
    data.b20.batt24 = 24.0f;
    EXPECT_EQ(watch.StatusRecord(data, kModelTq9000).size(), 1u);
    EXPECT_THAT(watch.StatusRecord(data, kModel7730A), IsEmpty());
    EXPECT_THAT(watch.Levels(), ElementsAre(ELimitLevel::kWarning));
}

}  // namespace
}  // namespace corvane3
