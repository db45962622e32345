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

}  // namespace
}  // namespace corvane3
