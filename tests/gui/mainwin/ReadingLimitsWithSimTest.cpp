// A reading stepped past its warning limit by the simulated unit, and back: the main window, the
// desktop, the unit watch and the plot each show the crossing once. A recorded history heading
// for its limit within a month is an event too.

#include <gtest/gtest.h>

#include <QLabel>
#include <algorithm>
#include <cmath>
#include <ctime>
#include <fstream>
#include <map>

#include "core/alerts/UnitWatch.h"
#include "core/base/Mjd.h"
#include "core/telemetry/TelemetryColumns.h"
#include "core/telemetry/TelemetryFormat.h"
#include "gui/plot/PlotDlg.h"
#include "gui/plot/TracePlot.h"
#include "sim/Faults.h"
#include "support/SimWindowRig.h"
#include "support/TelemetryTestData.h"

namespace corvane3 {
namespace {

using testing::ProcessEventsUntil;
using ReadingLimitsWithSimTest = testing::WidgetTest;

// Where a D*1 record carries VEM: four characters at this column.
constexpr std::size_t kD1VemColumn = 229;
constexpr int kVemPlotChannel = 17;

class RecordedAlerts : public IDesktopAlertSink {
  public:
    void Raise(const DesktopAlert& alert) override { alerts.push_back(alert); }
    std::vector<DesktopAlert> alerts;
};

// The most frequent colour of the widget as drawn.
QRgb BackgroundOf(QWidget* widget) {
    const QImage image = widget->grab().toImage();
    std::map<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            ++counts[image.pixel(x, y)];
        }
    }
    return std::ranges::max_element(counts, {}, &std::map<QRgb, int>::value_type::second)->first;
}

TEST_F(ReadingLimitsWithSimTest, ACrossingColoursNotifiesTellsTheWatchDrawsTheLimitAndProjects) {
    sim::SimulatorOptions options = testing::ModelOptions(kModelTq9000);
    options.faults.d1Patch = sim::ColumnPatch{kD1VemColumn, "2300"};
    testing::SimWindowRig rig(options);
    ASSERT_TRUE(rig.online);
    const std::vector<ReadingLimit> limits{{"VEM", {std::nullopt, 2400.0}, {std::nullopt, 2500.0}}};
    std::vector<std::string> said;
    CUnitWatch watch(limits,
                     [&said](const UnitEvent& e) { said.push_back(e.name + " " + e.value); });
    RecordedAlerts alerts;
    rig.window->SetUnitWatch(watch);
    rig.window->SetDesktopAlertSink(alerts);
    auto* vem = rig.window->findChild<QLabel*>(QStringLiteral("valueVEM"));
    ASSERT_NE(vem, nullptr);
    const auto levelIs = [&](const char* level) {
        return ProcessEventsUntil([&] { return vem->property("limitLevel").toString() == level; });
    };
    ASSERT_TRUE(levelIs("inside"));
    const QRgb inside = BackgroundOf(vem);

    const auto step = [&](const char* text) {
        rig.Sim().UpdateFaults([text](sim::SimFaults& f) { f.d1Patch->text = text; });
    };
    step("2450");
    ASSERT_TRUE(levelIs("warning"));
    EXPECT_EQ(BackgroundOf(vem), qRgb(0xff, 0xc0, 0x00));
    EXPECT_EQ(vem->toolTip(), "VEM: warning above 2400, critical above 2500");
    ASSERT_EQ(alerts.alerts.size(), 1u);
    EXPECT_EQ(alerts.alerts[0].kind, EAlertKind::kReadingLimit);
    EXPECT_EQ(alerts.alerts[0].urgency, EAlertUrgency::kNormal);
    EXPECT_EQ(alerts.alerts[0].body, "VEM 2450 above its warning limit 2400.");

    // The plot window shows the limits on the pane that shows VEM, and on no other, with where
    // its trend heads (seconds of records: too short to say).
    CPlotDlg plot({rig.app.settings, rig.app.unitState.InstrumentModel, "", limits}, "", false);
    plot.show();
    ASSERT_TRUE(ProcessEventsUntil([&] { return plot.IsLive(); }));
    UnitStateData record = rig.app.unitState.Snapshot();
    for (int view = 0; view < static_cast<int>(kPlotViewCount); ++view) {
        plot.SetPlotView(view);
        for (int point = 0; point < 2; ++point) {  // a pane draws from two points on
            record.mjd += 1.0 / 86400.0;
            plot.OnNewRecord(record);
        }
        ASSERT_TRUE(ProcessEventsUntil([&] { return plot.PlotsBuilt(); }));
        for (int pane = 0; pane < CPlotDlg::kDataPanes; ++pane) {
            const bool vemPane = plot.PaneChannel(pane) == kVemPlotChannel;
            const std::vector<double> lines =
                vemPane ? std::vector<double>{2400.0, 2500.0} : std::vector<double>{};
            EXPECT_EQ(plot.Pane(pane)->LimitLineValues(), lines)
                << "view " << view << " pane " << pane;
            EXPECT_EQ(plot.Pane(pane)->AnnotationCount() == 1 &&
                          plot.Pane(pane)->Annotation(0)->text() ==
                              "VEM: fit over 0.0 hours: too short to project",
                      vemPane)
                << "view " << view << " pane " << pane;
        }
    }

    // Back inside: plain again, nothing raised, cleared once it has stayed inside; over again:
    // raised again.
    step("2300");
    ASSERT_TRUE(levelIs("inside"));
    EXPECT_EQ(BackgroundOf(vem), inside);
    ASSERT_TRUE(ProcessEventsUntil([&] { return said.size() == 2; }));
    step("2450");
    ASSERT_TRUE(levelIs("warning"));
    EXPECT_EQ(alerts.alerts.size(), 2u);
    EXPECT_EQ(said, (std::vector<std::string>{"limit-crossed 2450", "limit-cleared 2300",
                                              "limit-crossed 2450"}));

    // The window follows the trend of a limited reading over the file it records in: a file whose
    // VEM has risen for months towards its critical limit gives one limit-projected event, with
    // the date the history's line reaches the limit.
    const double now = ModifiedJulianDate(static_cast<double>(std::time(nullptr)));
    constexpr int kHours = 2400;
    constexpr double kVoltsPerHour = 0.1875;  // 2000 V to 2450 V in 100 days: 2500 V in 11 days
    testing::AppendCsdRecords(rig.data.Path() / "Unit1234.csd", 0, kHours + 1, [&](int hour) {
        UnitStateData data = testing::SampleRecord();
        data.mjd = now - (kHours - hour) / 24.0;
        data.d1.vem = static_cast<float>(2000.0 + kVoltsPerHour * hour);
        return data;
    });
    std::vector<UnitEvent> events;
    CUnitWatch trend(limits, [&events](const UnitEvent& event) { events.push_back(event); });
    rig.window->SetUnitWatch(trend);
    rig.app.settings.RecordDataFile = true;
    const std::string projected = "limit-projected";
    ASSERT_TRUE(ProcessEventsUntil(
        [&] { return std::ranges::count(events, projected, &UnitEvent::name) == 1; }));
    EXPECT_EQ(std::ranges::find(events, projected, &UnitEvent::name)->channel, "VEM");
}

// The packaged example with its settings uncommented, as a user starts from it: accepted whole,
// and every reading it limits is, on the simulated unit, inside its bands and of the size of its
// bounds (a bound a hundred times the reading would never be reached).
TEST_F(ReadingLimitsWithSimTest, ThePackagedExampleUncommentedFitsTheReadingsTheUnitReports) {
    std::ifstream example(CORVANE3_PACKAGING "/Corvane3-limits.ini");
    std::string text;
    for (std::string line; std::getline(example, line);) {
        const bool setting = line.size() > 1 && line[0] == '#' && line[1] != ' ';
        text += (setting ? line.substr(1) : line) + '\n';
    }
    const ReadingLimits limits = ParseReadingLimits(text, "example");
    EXPECT_TRUE(limits.problems.empty()) << limits.problems.front();
    ASSERT_EQ(limits.readings.size(), 3u);

    testing::SimWindowRig rig(testing::ModelOptions(kModelTq9000), [](const Corvane3App& app) {
        return app.unitState.Snapshot().b20.batt24 > 0.0f;  // the supply board's record is in
    });
    ASSERT_TRUE(rig.online);
    const std::string line = TelemetryRecordLine(rig.app.unitState.Snapshot(), kModelTq9000);
    constexpr double kSameSize = 4.0;  // a bound within this factor of the reading
    for (const ReadingLimit& limit : limits.readings) {
        const auto column = TelemetryColumnIndex(limit.channel, kModelTq9000);
        const std::optional<double> value =
            column ? TelemetryColumnValue(line, *column) : std::nullopt;
        ASSERT_TRUE(value) << limit.channel;
        EXPECT_EQ(StandingOf(limit, *value).level, ELimitLevel::kInside) << limit.channel;
        for (const LimitBand& band : {limit.warning, limit.critical}) {
            for (const std::optional<double>& bound : {band.low, band.high}) {
                if (bound) {
                    EXPECT_LT(std::fabs(*bound / *value), kSameSize) << limit.channel;
                    EXPECT_GT(std::fabs(*bound / *value), 1.0 / kSameSize) << limit.channel;
                }
            }
        }
    }
}

}  // namespace
}  // namespace corvane3
