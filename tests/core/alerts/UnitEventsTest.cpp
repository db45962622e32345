#include "core/alerts/UnitWatch.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace corvane3 {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const AlertUnit kUnit{kModelTq9000, 1234, "/dev/ttyUSB0"};

std::vector<std::string> Names(const std::vector<UnitEvent>& events) {
    std::vector<std::string> names;
    for (const UnitEvent& event : events) {
        names.push_back(event.name + " " + event.channel);
    }
    return names;
}

TEST(UnitEventsTest, LinkAndAlarmsGiveAnEventWhenTheirConditionStartsAndWhenItEnds) {
    CUnitEvents events;
    // Started silent, then answering: nothing was lost, nothing is back.
    EXPECT_FALSE(events.LinkState(false, kUnit));
    EXPECT_THAT(Names(events.StatusRecord({0x21, 0, 0, 0, 0}, kUnit)), ElementsAre("alarm 21"));
    EXPECT_THAT(events.StatusRecord({0x21, 0, 0, 0, 0}, kUnit), IsEmpty());
    const auto lost = events.LinkState(false, kUnit);
    ASSERT_TRUE(lost);
    EXPECT_EQ(lost->severity, "critical");
    EXPECT_FALSE(events.LinkState(false, kUnit));
    // The record after the silence brings the link back; the alarm stayed pending.
    EXPECT_THAT(Names(events.StatusRecord({0, 0x21, 0x33, 0, 0}, kUnit)),
                ElementsAre("link-back ", "alarm 33"));
    EXPECT_THAT(Names(events.StatusRecord({0, 0, 0, 0, 0}, kUnit)),
                ElementsAre("alarm-cleared 21", "alarm-cleared 33"));
    EXPECT_TRUE(events.RecordingFailed("disk full", kUnit));
    EXPECT_FALSE(events.RecordingFailed("disk full", kUnit));
    events.RecordingFine();
    EXPECT_TRUE(events.RecordingFailed("disk full", kUnit));
}

TEST(UnitEventsTest, AProjectedCrossingIsSaidOnceWhenItComesWithinAMonth) {
    std::vector<UnitEvent> said;
    CUnitWatch watch({ReadingLimit{"VEM", {}, {std::nullopt, 2500.0}}},
                     [&](const UnitEvent& event) { said.push_back(event); });
    constexpr double kNow = 60000.0;  // 2023-02-25
    // One row per look: the projected crossing (none: 0) and whether it is said then.
    const std::pair<double, bool> looks[] = {
        {kNow + 45, false}, {kNow + 30, true}, {kNow + 20, false}, {0, false},
        {kNow + 10, true},  {kNow + 31, false}, {kNow + 29, true},
    };
    for (const auto& [mjd, expected] : looks) {
        const std::size_t before = said.size();
        watch.Projections({mjd == 0 ? std::nullopt : std::optional(mjd)}, kNow, kUnit);
        EXPECT_EQ(said.size() - before, expected ? 1u : 0u) << mjd - kNow;
    }
    ASSERT_FALSE(said.empty());
    EXPECT_EQ(said[0].name, "limit-projected");
    EXPECT_EQ(said[0].value, "2023-03-27");
    EXPECT_EQ(said[0].text,
              "Model Tq9000 SN 1234: VEM is projected to reach its critical limit by 2023-03-27.");
}

}  // namespace
}  // namespace corvane3
