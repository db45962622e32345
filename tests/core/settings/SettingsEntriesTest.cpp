// The strict parsers of the installation and factory settings dialogs' entries.

#include "core/settings/SettingsEntries.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace corvane3 {
namespace {

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
    const struct {
        std::string text;
        double seconds;
        ECorrection correction;
    } cases[] = {
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
    for (const auto& c : cases) {
        const LoopTimeConstant tau = ReadLoopTimeConstant(c.text);
        EXPECT_EQ(tau.seconds, c.seconds) << c.text;
        EXPECT_EQ(tau.correction, c.correction) << c.text;
    }
    EXPECT_EQ(ShowLoopTimeConstant(0.1), "0.10");
    EXPECT_EQ(LoopTimeConstantArgument(99.99), "1 99.99");
    EXPECT_EQ(LoopTimeConstantArgument(7.125), "1 7.12");
}

}  // namespace
}  // namespace corvane3
