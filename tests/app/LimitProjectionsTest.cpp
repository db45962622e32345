#include "app/LimitProjections.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <limits>
#include <sstream>

#include "core/base/Mjd.h"
#include "core/telemetry/TelemetryFormat.h"
#include "support/TelemetryTestData.h"
#include "support/TempDir.h"

namespace corvane3 {
namespace {

constexpr double kStartMjd = 60000.0;  // 2023-02-25

struct ProjectionCase {
    const char* name;
    double days, recordHours, voltsPerDay;
    LimitBand critical;
    const char* line;          // for a dated line: its start, the date checked against crossingDay
    double crossingDay = 0.0;  // the generator's, from the start
    // Records holding "inf" and "nan" for VEM, and two records run together (the first torn,
    // VEM of the second in a later column), follow the others.
    bool noNumbers = false;
};

// The MJD of a "YYYY-MM-DD" date.
double MjdOfDate(const std::string& text) {
    using namespace std::chrono;
    const year_month_day date{year{std::stoi(text.substr(0, 4))},
                              month{static_cast<unsigned>(std::stoi(text.substr(5, 2)))},
                              day{static_cast<unsigned>(std::stoi(text.substr(8, 2)))}};
    return sys_days{date}.time_since_epoch().count() + kMjdOfUnixEpoch;
}

TEST(LimitProjectionsTest, EachLimitedReadingGetsItsCrossingDateOrWhyThereIsNone) {
    const LimitBand high{std::nullopt, 2500.0};
    const LimitBand both{1600.0, 2500.0};
    const ProjectionCase cases[] = {
        {"rising", 300, 6, 1.25, high, "VEM reaches 2500 V by ", 400.0},
        {"rising, then no numbers", 300, 6, 1.25, high, "VEM reaches 2500 V by ", 400.0, true},
        {"falling to a low limit", 300, 6, -1.25, both, "VEM reaches 1600 V by ", 320.0},
        {"two days", 2, 1, 1.25, high, "VEM: fit over 47.0 hours: too short to project"},
        {"falling, high limit only", 300, 6, -1.25, high,
         "VEM moving away from its critical limit: no crossing in sight"},
        {"past it", 300, 6, 2.0, high, "VEM is past 2500 V already (fit over 300 days)"},
        {"a century away", 300, 6, 0.001, high, "VEM reaches 2500 V in more than 100 years"},
        {"no critical limit", 300, 6, 1.25, {}, ""},
    };
    for (const ProjectionCase& c : cases) {
        testing::TempDir dir;
        const auto path = dir.Path() / "Unit1234.csd";
        testing::WriteVemFile(path, c.days, c.recordHours * 3600.0, c.voltsPerDay);
        for (const float vem : {std::numeric_limits<float>::infinity(), std::nanf("")}) {
            UnitStateData data = testing::SampleRecord();
            data.mjd = kStartMjd + c.days;
            data.d1.vem = vem;
            std::ofstream(path, std::ios::app)
                << (c.noNumbers ? TelemetryRecordLine(data, kModelTq9000) + kTelemetryLineEnd : "");
        }
        UnitStateData torn = testing::SampleRecord();
        torn.mjd = kStartMjd + c.days;
        const std::string record = TelemetryRecordLine(torn, kModelTq9000);
        std::ofstream(path, std::ios::app)
            << (c.noNumbers ? record.substr(0, record.size() / 3) + record + kTelemetryLineEnd : "");
        std::ostringstream out;
        std::ostringstream err;
        // The limits file's problems go to standard error and the rest of the file counts.
        PrintLimitProjections(path.string(),
                              {{ReadingLimit{"VEM", {std::nullopt, 9000.0}, c.critical}},
                               {"l.ini:3: a problem", "l.ini:6: another"}},
                              out, err);
        EXPECT_EQ(err.str(), "corvane3: l.ini:3: a problem\ncorvane3: l.ini:6: another\n");
        const std::string line = out.str();
        if (c.crossingDay == 0.0) {
            EXPECT_EQ(line, c.line[0] == 0 ? "" : std::string(c.line) + "\n") << c.name;
            continue;
        }
        const std::string start(c.line);
        ASSERT_TRUE(line.starts_with(start)) << c.name << ": " << line;
        EXPECT_NEAR(MjdOfDate(line.substr(start.size(), 10)), kStartMjd + c.crossingDay, 1.0)
            << line;
        EXPECT_EQ(line.substr(start.size() + 10), " (fit over 300 days)\n");
    }
}

}  // namespace
}  // namespace corvane3
