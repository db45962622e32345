// The plot window on a file read through its plot cache, and on a live series that moved into
// one, offscreen: what it shows is what the window shows of the same points held in memory.

#include <gtest/gtest.h>

#include <QMessageBox>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>

#include "core/plot/PlotCache.h"
#include "gui/plot/PlotMenus.h"
#include "gui/plot/TracePlot.h"
#include "support/CacheHome.h"
#include "support/PlotWindows.h"
#include "support/TelemetryTestData.h"
#include "support/TempDir.h"

namespace corvane3 {
namespace {

using testing::DecayingRecord;

// Opened with the file read through its plot cache whatever its size, or into memory.
struct Window : testing::PlotWindow {
    void Open(const std::string& file, bool fileMode, bool cached) {
        PlotWindow::Open(file, fileMode, [cached](CPlotDlg& plot) {
            plot.SetCacheFilesFrom(cached ? 0 : std::numeric_limits<std::uint64_t>::max());
        });
    }
};

// Each test's folder, its own plot caches in it, and the path of its long file.
class PlotDlgCacheTest : public testing::WidgetTest {
  protected:
    testing::TempDir dir_;
    const std::filesystem::path caches_ = dir_.Path() / "cache";
    const testing::ScopedCacheHome home_{caches_};
    const std::filesystem::path path_ = dir_.Path() / "Unit1234.csd";
};

// A file shows the same scales, fit and projections from memory and from its cache (a cache
// brought up to date gives what a fresh one gives: the cache test's).
TEST_F(PlotDlgCacheTest, AFileShowsTheSameFromMemoryAndFromItsCache) {
    // VEM rising 1.25 V a day from 2000 V: 2500 V some 400 days after the first record.
    testing::AppendCsdRecords(path_, 0, 40000, [](int i) {
        UnitStateData data = DecayingRecord(i);
        data.d1.vem = static_cast<float>(2000.0 + 1.25 * (data.mjd - 60000.0));
        return data;
    });
    Window memory;
    memory.Open(path_.string(), true, false);
    Window cached;
    cached.limits = {{"VEM", {}, {std::nullopt, 2500.0}}};
    cached.Open(path_.string(), true, true);
    ASSERT_EQ(memory.dialog->Store().Cache(), nullptr);
    ASSERT_NE(cached.dialog->Store().Cache(), nullptr);
    EXPECT_EQ(cached.dialog->Store().PointCount(), 40000);
    EXPECT_FALSE(cached.dialog->Pane(0)->Series(0)->VisibleColumns().empty());
    // The VEM pane's projection is read from the cache over the whole file (the same date as
    // a pass over every record is the cache trend test's).
    cached.dialog->Command(kPlotCmdCbtSupplies)->trigger();
    ASSERT_EQ(cached.dialog->Pane(2)->AnnotationCount(), 1);
    const QString vem = cached.dialog->Pane(2)->Annotation(0)->text();
    EXPECT_TRUE(vem.startsWith("VEM reaches 2500 V by ")) << vem.toStdString();
    EXPECT_TRUE(vem.endsWith(" (fit over 278 days)")) << vem.toStdString();
    cached.dialog->Command(kPlotCmdClockServo)->trigger();
    // The Y ranges of the data panes for every Y scale and two X scales, and the decay display's
    // fit and projection, of the two windows, compared to their printed digits.
    const auto printed = [](double value) { return QString::number(value, 'g', 9).toStdString(); };
    for (const int xScale : {kXScaleAll, kXScaleLastWeek}) {
        for (int yScale = kYScaleAll; yScale <= kYScaleSixSigma; ++yScale) {
            for (Window* w : {&memory, &cached}) {
                w->dialog->SetXScale(xScale);
                w->dialog->SetYScale(yScale);
            }
            for (int p = 0; p < CPlotDlg::kDataPanes; ++p) {
                const QCPRange a = memory.dialog->Pane(p)->yAxis->range();
                const QCPRange b = cached.dialog->Pane(p)->yAxis->range();
                EXPECT_EQ(printed(a.lower), printed(b.lower)) << xScale << yScale << " pane " << p;
                EXPECT_EQ(printed(a.upper), printed(b.upper)) << xScale << yScale << " pane " << p;
                EXPECT_EQ(memory.dialog->Pane(p)->xAxis->range(),
                          cached.dialog->Pane(p)->xAxis->range());
            }
        }
    }
    memory.dialog->EnterDecayDisplay();
    cached.dialog->EnterDecayDisplay();
    EXPECT_TRUE(memory.dialog->Fit().valid);
    EXPECT_EQ(cached.dialog->Fit().text, memory.dialog->Fit().text);
    EXPECT_EQ(printed(cached.dialog->Fit().slope), printed(memory.dialog->Fit().slope));
    EXPECT_EQ(cached.dialog->ProjectionText(), memory.dialog->ProjectionText());
    EXPECT_FALSE(cached.dialog->ProjectionText().isEmpty());
}

// A cache damaged after the window opened it: the query that meets the damage reads absent
// values; the window says so and reads the file again, whose rebuilt cache gives them back.
TEST_F(PlotDlgCacheTest, ACacheDamagedAfterOpenIsSaidAndRebuiltFromTheFile) {
    testing::AppendCsdRecords(path_, 0, 40000, DecayingRecord);
    // The values the whole cache holds, and what a window's cache gives of them.
    const auto present = [](const Window& window) {
        const CPlotCache& cache = *window.dialog->Store().Cache();
        std::vector<double> values(static_cast<std::size_t>(cache.RecordCount()));
        std::size_t count = 0;
        for (std::size_t c = 0; c < cache.Channels().size(); ++c) {
            cache.Values(static_cast<int>(c), 0, cache.RecordCount(), values.data());
            count += static_cast<std::size_t>(std::count_if(
                values.begin(), values.end(), [](double v) { return !std::isnan(v); }));
        }
        return count;
    };
    std::size_t whole = 0;
    {
        Window first;  // writes the cache
        first.Open(path_.string(), true, true);
        ASSERT_TRUE(testing::ProcessEventsUntil([&] { return !first.dialog->ReadingWholeFile(); }));
        whole = present(first);
    }
    Window w;
    w.Open(path_.string(), true, true);
    ASSERT_TRUE(testing::ProcessEventsUntil([&] { return !w.dialog->ReadingWholeFile(); }));
    for (const auto& entry : std::filesystem::recursive_directory_iterator(caches_)) {
        if (entry.is_regular_file()) {
            std::fstream file(entry.path(), std::ios::in | std::ios::out | std::ios::binary);
            for (std::uintmax_t at = sizeof(PlotCacheHeader); at < entry.file_size() / 2;
                 at += 997) {
                file.seekp(static_cast<std::streamoff>(at));
                file.put('\x5a');
            }
        }
    }
    EXPECT_LT(present(w), whole);  // the blocks not drawn yet read as absent
    ASSERT_TRUE(w.dialog->Store().Cache()->Damaged());
    ASSERT_TRUE(testing::ProcessEventsUntil([&] {
        return w.dialog->findChild<QMessageBox*>("plotCacheDamage") != nullptr &&
               !w.dialog->ReadingWholeFile() && !w.dialog->Store().Cache()->Damaged();
    }));
    const QString said = w.dialog->findChild<QMessageBox*>("plotCacheDamage")->text();
    EXPECT_TRUE(said.contains(QString::fromStdString(path_.string()) + " is damaged (") &&
                said.endsWith("It is rebuilt from the file."))
        << said.toStdString();
    EXPECT_EQ(present(w), whole);
}

TEST_F(PlotDlgCacheTest, ALiveSeriesKeepsOnePointPerRecordInACacheThatGrowsLittle) {
    Window w;
    w.Open("", false, true);
    CPlotDlg& plot = *w.dialog;
    plot.SetLivePointsBeforeCache(2000);
    plot.OnNewRecord(DecayingRecord(0));
    plot.OnNewRecord(DecayingRecord(1));
    plot.SetLivePaused(true);  // taken without a redraw each, as a paused window does
    const auto feed = [&](int first, int end) {
        for (int i = first; i < end; ++i) {
            plot.OnNewRecord(DecayingRecord(i));
        }
    };
    feed(2, 20000);
    ASSERT_NE(plot.Store().Cache(), nullptr);
    const std::size_t early = plot.Store().MemoryBytes();
    feed(20000, 80000);
    EXPECT_EQ(plot.Store().PointCount(), 80000);
    // Held in memory, 60,000 records of 38 channels would take about 10 MB more.
    const std::size_t late = plot.Store().MemoryBytes();
    EXPECT_LT(late, early + 60000 * 24) << early << " -> " << late;

    plot.SetLivePaused(false);
    plot.UpdateLivePlots();
    for (int p = 0; p < CPlotDlg::kDataPanes; ++p) {
        EXPECT_EQ(w.dialog->Pane(p)->Series(0)->Trace().Size(), 80000);
    }
    // Every record is there, in order, the last one included.
    const CPlotSeries mjd = plot.Store().TimeAxis(0);
    EXPECT_EQ(mjd[0], DecayingRecord(0).mjd);
    EXPECT_EQ(mjd[54321], DecayingRecord(54321).mjd);
    EXPECT_EQ(mjd[79999], DecayingRecord(79999).mjd);
    EXPECT_NEAR(w.dialog->Pane(0)->xAxis->range().upper, DecayingRecord(79999).mjd, 1e-9);
}

}  // namespace
}  // namespace corvane3
