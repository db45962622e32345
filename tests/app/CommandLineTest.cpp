#include "app/CommandLine.h"

#include <gtest/gtest.h>

#include <tuple>

#include "app/HeadlessRun.h"

namespace corvane3 {
namespace {

TEST(CommandLineTest, TypeDecidesTheWindowWithoutRegardToCase) {
    using Kind = ECommandLineFileKind;
    const std::pair<std::string, CommandLineFile> cases[] = {
        {"", {Kind::kNone, "", ""}},
        {"\"/data/My Unit1234.CsD\"", {Kind::kPlotFile, "/data/My Unit1234.CsD", "CsD"}},
        {"/data/sweep.css", {Kind::kSpectrumFile, "/data/sweep.css", "css"}},
        {"notes.txt", {Kind::kUnrecognized, "notes.txt", "txt"}},
    };
    for (const auto& [line, expected] : cases) {
        const CommandLineFile file = ParseCommandLineFile(line);
        EXPECT_EQ(std::tie(file.kind, file.fileName, file.type),
                  std::tie(expected.kind, expected.fileName, expected.type))
            << line;
    }
}

TEST(CommandLineTest, HeadlessRunRepeatsAStatusLineOnceAMinuteWithItsCount) {
    struct Step {
        int second;
        std::string line, printed;  // line empty: a status record arrives
    };
    const Step steps[] = {
        {0, "RS232 Reset", "RS232 Reset"},
        {0, "RS232 open failed", "RS232 open failed"},
        {1, "RS232 open failed", ""},
        {59, "RS232 open failed", ""},
        {60, "RS232 open failed", "RS232 open failed (repeated 3 times)"},
        {61, "RS232 Reset", "RS232 Reset (repeated 1 time)"},
        {61, "RS232 Reset", ""},
        // A record: the link works, its lines are news again but for the latest straight again.
        {62, "", ""},
        {62, "RS232 Reset", ""},
        {62, "Ready", "Ready"},
        {63, "", ""},
        {63, "Ready: 2", "Ready: 2"},
        {64, "Ready", "Ready"},
    };
    CRepeatedLineFilter filter;
    for (const Step& step : steps) {
        if (step.line.empty()) {
            filter.Forget();
            continue;
        }
        const auto at =
            CRepeatedLineFilter::Clock::time_point() + std::chrono::seconds(step.second);
        EXPECT_EQ(filter.Filter(step.line, at).value_or(""), step.printed)
            << step.second << " " << step.line;
    }
}

}  // namespace
}  // namespace corvane3
