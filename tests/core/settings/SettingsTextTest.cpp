// What the instrument settings dialogs send and show, from typed or fetched text, and the
// strict parsers of their entries.

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <tuple>

#include "core/settings/SettingsEntries.h"
#include "core/settings/SettingsText.h"

namespace corvane3 {
namespace {

TEST(SettingsTextTest, ArgumentsKeepTheirFieldWidthsAndSignsAtTheLimits) {
    EXPECT_EQ(DeltaFArgument(LeadingInteger("")), "+000000  ");
    EXPECT_EQ(DeltaFArgument(LeadingInteger(" 123abc")), "+000123  ");
    EXPECT_EQ(DeltaTArgument(0), "+0000  ");
    EXPECT_EQ(TimeUpdatingArgument(LeadingInteger("+0020")), "+00020f");
    EXPECT_EQ(DccAdjustArgument(-3601), "-03601  ");
    // A number too large for a long stays out of range instead of wrapping into it.
    EXPECT_GT(LeadingInteger("99999999999999999999999"), 999999);
    std::tm before2000{};
    ASSERT_NE(strptime("1999-12-31 23:05:09", "%Y-%m-%d %H:%M:%S", &before2000), nullptr);
    EXPECT_EQ(UnitDateArgument(before2000), "12/31/99");
    EXPECT_EQ(UnitTimeArgument(before2000), "23:05:09");
    std::tm in2026 = before2000;
    in2026.tm_year = 126;
    EXPECT_EQ(UnitDateArgument(in2026), "12/31/26");
}

// How the list shows a unit's lines (the heading left out, tabs widened, the count read):
// EventLogWithSimTest. A unit's lines are short; a longer one is not cut either.
TEST(SettingsTextTest, EventLogLinesAreNeverCut) {
    const std::string longText(120, 'x');
    EXPECT_EQ(EventLogLines("\002D*3 00000 Event Count:1\n002\t" + longText + "\r\n\003"),
              std::vector<std::string>{"002      " + longText});
    EXPECT_EQ(EventCount("short"), 0);
    EXPECT_TRUE(EventLogLines("no line feed").empty());
}

TEST(SettingsTextTest, AlarmLinesIndentSlotsFourAndFiveOneBlankLessAndPadTheirNames) {
    EXPECT_EQ(AlarmLine(1, 0x16), "16:    Unit Restarted               ");
    EXPECT_EQ(AlarmLine(4, 0x09), "09:   Case Temperature             ");
    // Names are padded to the longest, which fills its column exactly; 00 has none.
    EXPECT_EQ(AlarmLine(3, 0x08) + AlarmLine(5, 0), "08:    VCXO Control Voltage at limit00:   ");
}

TEST(SettingsTextTest, ClockTextsAndDiagnosticValues) {
    EXPECT_EQ(AscTimeText(1796169600), "Wed Dec  2 00:00:00 2026");
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    const std::time_t winter = 1767225600;  // 2026-01-01 00:00:00 UTC, one hour east
    const std::time_t summer = 1782864000;  // 2026-07-01 00:00:00 UTC, two hours east
    EXPECT_EQ(DccTimeArgument(winter, false), "1767225600");
    EXPECT_EQ(DccTimeArgument(winter, true), "1767229200");
    EXPECT_EQ(DccTimeArgument(summer, true), "1782871200");
    unsetenv("TZ");
    tzset();
    for (const auto& [item, value] : std::vector<std::pair<const char*, int>>{
             {"01h", 1}, {"80h", 128}, {"AlignGainPot", 183}, {"End Test", 0}}) {
        EXPECT_EQ(GainDacValue(item), value) << item;
    }
}

TEST(SettingsEntriesTest, WholeNumberIsTheWholeTextOrNothing) {
    const std::pair<std::string, std::optional<long>> cases[] = {
        {" +42 ", 42},
        {"-99999", -99999},
        {"12ab", std::nullopt},
        {"", std::nullopt},
        {"+ 5", std::nullopt},
        {"99999999999999999999", std::nullopt},
        // A NUL inside the text is junk after the number, not its end.
        {std::string("47385\0.46", 9), std::nullopt},
        {std::string("7\0", 2), std::nullopt},
    };
    for (const auto& [text, value] : cases) {
        EXPECT_EQ(ParseWholeNumber(text), value) << text;
    }
}

TEST(SettingsEntriesTest, LoopTimeConstantOutsideTheUnitsRangeIsCorrectedToTheNearerLimit) {
    using ECorrection = LoopTimeConstant::ECorrection;
    const std::tuple<std::string, double, ECorrection> cases[] = {
        {"10.5 sec", 10.5, ECorrection::kNone},
        {" 0.1", 0.1, ECorrection::kNone},
        {"99.99", 99.99, ECorrection::kNone},
        {"0.09", 0.1, ECorrection::kRaised},
        {"-5", 0.1, ECorrection::kRaised},
        {"", 0.1, ECorrection::kRaised},
        {"nan", 0.1, ECorrection::kRaised},
        {"100", 99.99, ECorrection::kLowered},
        {"9e999", 99.99, ECorrection::kLowered},
        {"inf", 99.99, ECorrection::kLowered},
        // A decimal comma ends the number, whatever the locale.
        {"2,5", 2.0, ECorrection::kNone},
    };
    for (const auto& [text, seconds, correction] : cases) {
        const LoopTimeConstant tau = ReadLoopTimeConstant(text);
        EXPECT_EQ(tau.seconds, seconds) << text;
        EXPECT_EQ(tau.correction, correction) << text;
    }
    EXPECT_EQ(ShowLoopTimeConstant(0.1), "0.10");
    EXPECT_EQ(LoopTimeConstantArgument(7.125), "1 7.12");
}

}  // namespace
}  // namespace corvane3
