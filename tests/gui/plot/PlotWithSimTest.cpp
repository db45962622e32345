// "Plot..." against the simulated instrument: the window starts from the recorder's file and
// gains one point per status record, as the file gains one line.

#include <gtest/gtest.h>

#include <fstream>

#include "core/telemetry/TelemetryFormat.h"
#include "gui/plot/PlotDlg.h"
#include "gui/plot/TracePlot.h"
#include "support/ModalDialogDriver.h"
#include "support/SimWindowRig.h"
#include "support/TelemetryTestData.h"

namespace corvane3 {
namespace {

using namespace std::chrono_literals;
using testing::ProcessEventsUntil;
using PlotWithSimTest = testing::WidgetTest;

TEST_F(PlotWithSimTest, TheLiveWindowGainsAPointPerRecord) {
    sim::SimulatorOptions options = testing::ModelOptions(kModelTq9000);
    options.instrument.serial = 2468;
    testing::SimWindowRig rig(options);
    ASSERT_TRUE(rig.online);
    CMainStatusDlg& window = *rig.window;
    // The unit's file holds another model's columns, so the recorder writes this model's
    // records to a file of their own; the window must follow them there.
    std::ofstream(rig.data.Path() / "Unit2468.csd", std::ios::binary)
        << TelemetryHeaderLine(kModel7730B) << kTelemetryLineEnd;
    rig.app.settings.RecordDataFile = true;
    testing::ModalDialogDriver driver;
    const auto file = rig.data.Path() / "Unit2468-403.csd";
    // Lines of the file, header not counted.
    const auto records = [&] {
        return static_cast<std::int64_t>(testing::CsdLines(file).size()) - 1;
    };
    std::vector<std::pair<std::int64_t, std::int64_t>> seen;  // (points, file records)
    std::int64_t history = -1;
    window.show();
    // Some history in the file before the plot window opens.
    ASSERT_TRUE(
        ProcessEventsUntil([&] { return std::filesystem::exists(file) && records() >= 2; }, 60000));
    QMetaObject::invokeMethod(
        &window,
        [&] {
            CPlotDlg* plot = window.OpenPlotWindow();
            ASSERT_NE(plot, nullptr);
            ProcessEventsUntil([&] { return plot->PlotsBuilt(); });
            history = plot->Store().PointCount();
            // Each record reaches the window before the file: after it, both agree.
            for (std::int64_t points = history; points < history + 3;) {
                ProcessEventsUntil([&] { return plot->Store().PointCount() > points; });
                points = plot->Store().PointCount();
                seen.emplace_back(points, records());
                seen.emplace_back(plot->Pane(0)->Series(0)->Trace().Size(), records());
            }
            plot->accept();
        },
        Qt::QueuedConnection);
    window.RunCommand(kCmdPlot);
    EXPECT_EQ(window.OpenPlotWindow(), nullptr);
    EXPECT_GE(history, 2);
    ASSERT_EQ(seen.size(), 6u);
    for (std::size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i].first, history + 1 + static_cast<std::int64_t>(i / 2)) << i;
        EXPECT_EQ(seen[i].first, seen[i].second) << i;
    }
    EXPECT_TRUE(driver.Messages().empty());
}

}  // namespace
}  // namespace corvane3
