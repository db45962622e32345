// Desktop alerts and the events an --on-event program gets, from a unit's records and link.

#include "core/alerts/DesktopAlerts.h"
#include "core/alerts/UnitWatch.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ranges>
#include <tuple>

#include "support/TelemetryTestData.h"

namespace corvane3 {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const AlertUnit kTq9000{403, 1234, "/dev/ttyUSB0"};
// Unit-status codes of a status record.
constexpr std::uint32_t kOperating = 0;
constexpr std::uint32_t kWarmingUp = 1;
constexpr std::uint32_t kMinorFault = 10;
constexpr std::uint32_t kMajorFault = 11;

std::vector<std::string> Summaries(const std::vector<DesktopAlert>& alerts) {
    const auto summaries = alerts | std::views::transform(&DesktopAlert::summary);
    return {summaries.begin(), summaries.end()};
}

TEST(DesktopAlertsTest, LinkDownOnlyOnEachChangeFromAnsweringToSilent) {
    CDesktopAlerts alerts;
    // Started with the unit silent: nothing was lost.
    EXPECT_FALSE(alerts.LinkState(false, kTq9000));
    EXPECT_FALSE(alerts.LinkState(true, kTq9000));
    const auto down = alerts.LinkState(false, kTq9000);
    // Its texts, once per silence and again after a record, as the window raises them:
    // MainStatusDlgTest.DesktopAlertsOncePerEvent...
    ASSERT_TRUE(down);
    EXPECT_EQ(down->kind, EAlertKind::kLinkDown);
    EXPECT_EQ(down->urgency, EAlertUrgency::kCritical);
}

TEST(DesktopAlertsTest, EachAlarmOnceWhenItAppearsAndAgainOnlyAfterItCleared) {
    CDesktopAlerts alerts;
    // Alarms pending in the first record are news; an empty slot, a repeated code are not.
    const auto first = alerts.StatusRecord({0x26, 0, 0x26, 0x19, 0}, kOperating, kTq9000);
    EXPECT_THAT(Summaries(first),
                ElementsAre("Model Tq9000 SN 1234: Fuse A open", "Model Tq9000 SN 1234: Alarm 19"));
    ASSERT_EQ(first.size(), 2u);
    EXPECT_NE(first[0].replaceKey, first[1].replaceKey);
    // Poll after poll, in whatever slot, across a link that dropped and came back: no repeat.
    EXPECT_THAT(alerts.StatusRecord({0x26, 0x19, 0, 0, 0}, kOperating, kTq9000), IsEmpty());
    EXPECT_THAT(alerts.StatusRecord({0, 0, 0, 0x19, 0x26}, kOperating, kTq9000), IsEmpty());
    EXPECT_TRUE(alerts.LinkState(false, kTq9000));
    EXPECT_THAT(alerts.StatusRecord({0x19, 0x26, 0, 0, 0}, kOperating, kTq9000), IsEmpty());
    // A new one beside them; one that cleared and came back.
    EXPECT_THAT(Summaries(alerts.StatusRecord({0x19, 0x26, 0xf1, 0, 0}, kOperating, kTq9000)),
                ElementsAre("Model Tq9000 SN 1234: Cesium Oven Warm-up"));
    EXPECT_THAT(alerts.StatusRecord({0x19, 0xf1, 0, 0, 0}, kOperating, kTq9000), IsEmpty());
    EXPECT_THAT(Summaries(alerts.StatusRecord({0x19, 0xf1, 0x26, 0, 0}, kOperating, kTq9000)),
                ElementsAre("Model Tq9000 SN 1234: Fuse A open"));
    // Another unit on the port: its pending alarms are its own news.
    const AlertUnit other{404, 77, "/dev/ttyUSB0"};
    EXPECT_THAT(Summaries(alerts.StatusRecord({0x26, 0, 0, 0, 0}, kOperating, other)),
                ElementsAre("Model 7730A SN 77: Fuse A open"));
}

// An alarm is as urgent as the unit's state makes it: a warm-up after a power-up is normal, a
// major fault needs a person now.
TEST(DesktopAlertsTest, AlarmUrgencyFollowsTheUnitState) {
    const std::tuple<std::uint32_t, std::uint32_t, EAlertUrgency, const char*> cases[] = {
        {0xf1, kWarmingUp, EAlertUrgency::kLow, "dialog-information"},
        {0xf2, kOperating, EAlertUrgency::kLow, "dialog-information"},
        {0x16, kWarmingUp, EAlertUrgency::kNormal, "dialog-warning"},
        {0x09, kMinorFault, EAlertUrgency::kNormal, "dialog-warning"},
        {0x04, kMajorFault, EAlertUrgency::kCritical, "dialog-error"},
        {0xf1, kMajorFault, EAlertUrgency::kCritical, "dialog-error"},
    };
    for (const auto& [code, unitStatus, urgency, icon] : cases) {
        SCOPED_TRACE(::testing::Message()
                     << std::hex << code << " in state " << std::dec << unitStatus);
        CDesktopAlerts alerts;
        const auto raised = alerts.StatusRecord({code, 0, 0, 0, 0}, unitStatus, kTq9000);
        ASSERT_EQ(raised.size(), 1u);
        EXPECT_EQ(std::tie(raised[0].urgency, raised[0].icon), std::tuple(urgency, icon));
    }
}

TEST(DesktopAlertsTest, RecordingFailingOncePerRunOfFailuresNamedAsTheTitleNamesTheUnit) {
    CDesktopAlerts alerts;
    const auto first = alerts.RecordingFailed("Output data directory not set.", kTq9000);
    ASSERT_TRUE(first);
    EXPECT_EQ(std::tie(first->kind, first->urgency, first->icon, first->summary, first->body),
              std::make_tuple(EAlertKind::kRecordingFailed, EAlertUrgency::kCritical,
                              "dialog-error", "Model Tq9000 SN 1234: Save data record error",
                              "Output data directory not set."));
    // Still failing, for another reason: the user already knows. A run ends with a good write:
    // MainStatusDlgTest.DesktopAlertsOncePerEventAndNoneWhileSwitchedOff.
    EXPECT_FALSE(
        alerts.RecordingFailed("File Open Failure while writing telemetry record", kTq9000));
    // Unit names follow the title's model texts.
    EXPECT_EQ(AlertUnitName({401, 4321, ""}), "Model ChronoBeam/QRT-60 SN 4321");
    EXPECT_EQ(AlertUnitName({12, 5, ""}), "SN 5");
}

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
    EXPECT_FALSE(events.LinkState(false, kTq9000));
    EXPECT_THAT(Names(events.StatusRecord({0x21, 0, 0, 0, 0}, kTq9000)), ElementsAre("alarm 21"));
    EXPECT_THAT(events.StatusRecord({0x21, 0, 0, 0, 0}, kTq9000), IsEmpty());
    const auto lost = events.LinkState(false, kTq9000);
    ASSERT_TRUE(lost);
    EXPECT_EQ(lost->severity, "critical");
    EXPECT_FALSE(events.LinkState(false, kTq9000));
    // The record after the silence brings the link back; the alarm stayed pending.
    EXPECT_THAT(Names(events.StatusRecord({0, 0x21, 0x33, 0, 0}, kTq9000)),
                ElementsAre("link-back ", "alarm 33"));
    EXPECT_THAT(Names(events.StatusRecord({0, 0, 0, 0, 0}, kTq9000)),
                ElementsAre("alarm-cleared 21", "alarm-cleared 33"));
    EXPECT_TRUE(events.RecordingFailed("disk full", kTq9000));
    EXPECT_FALSE(events.RecordingFailed("disk full", kTq9000));
    events.RecordingFine();
    EXPECT_TRUE(events.RecordingFailed("disk full", kTq9000));
}

TEST(UnitEventsTest, AProjectedCrossingIsSaidOnceWhenItComesWithinAMonth) {
    std::vector<UnitEvent> said;
    CUnitWatch watch({ReadingLimit{"VEM", {}, {std::nullopt, 2500.0}}},
                     [&](const UnitEvent& event) { said.push_back(event); });
    constexpr double kNow = 60000.0;  // 2023-02-25
    // One row per look: the projected crossing (none: 0) and whether it is said then.
    const std::pair<double, bool> looks[] = {
        {kNow + 45, false}, {kNow + 30, true},  {kNow + 20, false}, {0, false},
        {kNow + 10, true},  {kNow + 31, false}, {kNow + 29, true},
    };
    for (const auto& [mjd, expected] : looks) {
        const std::size_t before = said.size();
        watch.Projections({mjd == 0 ? std::nullopt : std::optional(mjd)}, kNow, kTq9000);
        EXPECT_EQ(said.size() - before, expected ? 1u : 0u) << mjd - kNow;
    }
    ASSERT_FALSE(said.empty());
    EXPECT_EQ(said[0].name, "limit-projected");
    EXPECT_EQ(said[0].value, "2023-03-27");
    EXPECT_EQ(said[0].text,
              "Model Tq9000 SN 1234: VEM is projected to reach its critical limit by 2023-03-27.");
}

// Another unit on the port starts with no limit state: its reading outside is news, and the
// first unit's crossing is not carried over to it.
TEST(UnitEventsTest, AnotherUnitOnThePortStartsWithItsOwnLimitState) {
    std::vector<std::string> said;
    CUnitWatch watch({ReadingLimit{"VEM", {}, {std::nullopt, 2500.0}}},
                     [&](const UnitEvent& event) {
                         if (event.name.starts_with("limit")) {
                             said.push_back(event.name + " " + event.unit);
                         }
                     });
    const auto record = [&](std::uint32_t serial, float vem) {
        UnitStateData data = corvane3::testing::SampleRecord();
        data.d1.serialNumber = serial;
        data.d1.vem = vem;
        watch.StatusRecord(data, 403, AlertUnit{403, serial, "COM1"});
    };
    record(1234, 2600);
    record(1234, 2600);
    record(5678, 2600);
    for (int inside = 0; inside < kLimitClearingRecords; ++inside) {
        record(5678, 2400);
    }
    EXPECT_EQ(said, (std::vector<std::string>{"limit-crossed Model Tq9000 SN 1234",
                                              "limit-crossed Model Tq9000 SN 5678",
                                              "limit-cleared Model Tq9000 SN 5678"}));
}

}  // namespace
}  // namespace corvane3
