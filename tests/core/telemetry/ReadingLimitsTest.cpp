#include "core/telemetry/ReadingLimits.h"

#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <limits>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/TempDir.h"

namespace corvane3 {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Each reading's bands as one line of text, in the file's order: every bound, exactly.
std::vector<std::string> Bands(const ReadingLimits& limits) {
    std::vector<std::string> texts;
    for (const ReadingLimit& limit : limits.readings) {
        texts.push_back(limit.channel + ": " + LimitBandText(limit));
    }
    return texts;
}

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
    EXPECT_THAT(Bands(limits), ElementsAre("VEM: warning above 2400, critical above 2500",
                                           "Batt24: critical below 24", "IIP: critical above 40"));
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

TEST(ReadingLimitsTest, ContradictingBoundsRepeatsAndABomAreSaidWithTheirLines) {
    const ReadingLimits limits = ParseReadingLimits(
        "\xEF\xBB\xBF[VEM]\n"
        "WarningHigh = 2600\n"  // 2: above the critical bound: left out
        "CriticalHigh = 2500\n"
        "WarningLow = 900\n"  // 4: below the critical bound: left out
        "CriticalLow = 1000\n"
        "CriticalHigh = 2700\n"  // 6: again
        "[IIP]\n"
        "WarningLow = 30\n"
        "WarningHigh = 20\n"  // 9: under its low bound: the band goes
        "CriticalHigh = 40\n"
        "[VEM]\n"  // 11: again, with its keys
        "CriticalHigh = 1\n"
        "[Batt24]\n"
        "CriticalLow = 24\n"
        "WarningHigh = 20\n",  // 15: below the critical low bound
        "l.ini");
    EXPECT_THAT(Bands(limits), ElementsAre("VEM: critical below 1000 and above 2500",
                                           "IIP: critical above 40", "Batt24: critical below 24"));
    EXPECT_THAT(
        limits.problems,
        ElementsAre("l.ini:6: CriticalHigh again (first at line 3): left out",
                    "l.ini:4: WarningLow 900 is below CriticalLow 1000: a warning bound outside "
                    "its critical band is left out",
                    "l.ini:2: WarningHigh 2600 is above CriticalHigh 2500: a warning bound "
                    "outside its critical band is left out",
                    "l.ini:9: WarningLow 30 is above WarningHigh 20: the warning band is left out",
                    "l.ini:11: [VEM] again (first at line 1): left out",
                    "l.ini:15: WarningHigh 20 is below CriticalLow 24: a warning bound outside "
                    "its critical band is left out"));
}

TEST(ReadingLimitsTest, JunkAndFilesThatAreNoTextFileSayLittleAndNeverHang) {
    std::string junk(200000, 'x');
    for (std::size_t i = 100; i < junk.size(); i += 101) {
        junk[i] = i % 3 == 0 ? '\n' : '\x01';
    }
    const ReadingLimits parsed = ParseReadingLimits(junk, "j");
    ASSERT_EQ(parsed.problems.size(), 21u);
    EXPECT_EQ(parsed.problems[0], "j:1: expected KEY = VALUE: " + std::string(60, 'x') + "...");
    EXPECT_THAT(parsed.problems[20], ::testing::MatchesRegex("j: [0-9]+ more lines that cannot "
                                                             "be used"));
    const testing::TempDir dir;
    const std::filesystem::path folder = dir.Path();
    ASSERT_EQ(::mkfifo((folder / "fifo").c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", folder / "zero");
    std::ofstream(folder / "long") << std::string(300000, '#');
    for (const char* name : {"fifo", "zero", "long"}) {
        const ReadingLimits loaded = LoadReadingLimits(folder / name);
        EXPECT_THAT(loaded.readings, IsEmpty()) << name;
        ASSERT_EQ(loaded.problems.size(), 1u) << name;
        EXPECT_THAT(loaded.problems[0], ::testing::StartsWith((folder / name).string() + ": "));
    }
}

// Feeds the VEM values and gives the crossings' texts of each record.
std::vector<std::vector<std::string>> Watch(CReadingLimitWatch& watch,
                                            const std::vector<float>& values) {
    std::vector<std::vector<std::string>> said;
    for (const float vem : values) {
        UnitStateData data;
        data.d1.vem = vem;
        auto& texts = said.emplace_back();
        for (const LimitCrossing& crossing : watch.StatusRecord(data, kModelTq9000)) {
            texts.push_back(LimitCrossingText(crossing));
        }
    }
    return said;
}

TEST(ReadingLimitsTest, EachBandLeftIsOneCrossingAndOnlyAStayInsideReArmsIt) {
    ReadingLimit vem{"VEM", {std::nullopt, 2400.0}, {1000.0, 2500.0}};
    CReadingLimitWatch watch({vem});
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    // One row per record: the VEM it carries and the crossings it must give.
    const std::pair<float, std::vector<std::string>> steps[] = {
        {2300.0f, {}},
        {2400.0f, {}},  // on the limit is inside
        {2450.0f, {"VEM 2450 above its warning limit 2400"}},
        {2460.0f, {}},
        {2550.0f, {"VEM 2550 above its critical limit 2500"}},
        {2450.0f, {}},  // back under critical, still over warning: nothing new
        {2550.0f, {}},  // critical again: still the one critical crossing
        {inf, {}},      // no number is no reading: neither inside nor a crossing
        {nan, {}},
        {2350.0f, {}},  // inside, but not yet for long enough
    };
    for (const auto& [value, crossings] : steps) {
        EXPECT_EQ(Watch(watch, {value})[0], crossings) << "VEM " << value;
    }
    EXPECT_THAT(watch.Levels(), ElementsAre(ELimitLevel::kInside));
    const auto inside = Watch(watch, std::vector<float>(kLimitClearingRecords - 1, 2350.0f));
    EXPECT_EQ(inside.back(), std::vector<std::string>{"VEM back inside its limits (2350)"});
    EXPECT_EQ(std::count_if(inside.begin(), inside.end(), [](auto& t) { return !t.empty(); }), 1);
    EXPECT_EQ(Watch(watch, {2450.0f, 900.0f}),
              (std::vector<std::vector<std::string>>{{"VEM 2450 above its warning limit 2400"},
                                                     {"VEM 900 below its critical limit 1000"}}));
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
