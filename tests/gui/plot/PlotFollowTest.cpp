// The plot window following a file that another program appends to, offscreen.

#include <gtest/gtest.h>

#include <QAction>
#include <chrono>
#include <filesystem>

#include "gui/plot/CursorReadout.h"
#include "gui/plot/PlotMenus.h"
#include "gui/plot/TracePlot.h"
#include "support/CacheHome.h"
#include "support/PlotWindows.h"
#include "support/TelemetryTestData.h"
#include "support/TempDir.h"

namespace corvane3 {
namespace {

using testing::ProcessEventsUntil;

constexpr double kStartMjd = 60200.0;
// Records one minute apart.
constexpr double kRecordDays = 1.0 / 1440.0;
// The file holds MJDs to six decimals.
constexpr double kMjdPrinted = 1e-6;

constexpr auto RecordMjd = [](int i) { return kStartMjd + i * kRecordDays; };

void AppendRecords(const std::filesystem::path& path, int first, int end,
                   std::uint32_t serial = 1234) {
    testing::AppendCsdRecords(path, first, end, [serial](int i) {
        UnitStateData data = testing::SampleRecord();
        data.d1.serialNumber = serial;
        data.mjd = RecordMjd(i);
        data.d1.cRamErr = i % 9;
        return data;
    });
}

struct FollowedWindow : testing::PlotWindow {
    int reads = 0;

    void Open(const std::filesystem::path& file, bool fileMode) {
        settings.Xunits = 0;  // MJD: the X range ends at the last record's time
        PlotWindow::Open(file.string(), fileMode, [this](CPlotDlg& plot) {
            plot.SetFollowInterval(std::chrono::milliseconds(20));
            QObject::connect(&plot, &CPlotDlg::FollowedFileRead, [this] { ++reads; });
        });
    }
    // Waits for the window to have read the file again with count points.
    bool ReadsPoints(std::int64_t count) {
        const bool shown =
            ProcessEventsUntil([&] { return reads > 0 && dialog->Store().PointCount() == count; });
        reads = 0;
        return shown;
    }
    double ShownRight() const { return dialog->Pane(0)->xAxis->range().upper; }
    // Waits until the window says something containing part about the followed file.
    bool Says(const QString& part) const {
        return ProcessEventsUntil([&] { return dialog->FollowNoticeText().contains(part); });
    }
    QAction* Follow() const { return dialog->Command(kPlotCmdFollowFile); }
};

// Each test's file, its first records written, with a plot cache of its own.
class PlotFollowTest : public testing::WidgetTest {
  protected:
    PlotFollowTest() { AppendRecords(path_, 0, 10); }

    testing::TempDir dir_;
    const testing::ScopedCacheHome home_{dir_.Path() / "cache"};
    const std::filesystem::path path_ = dir_.Path() / "Unit1234.csd";
};

TEST_F(PlotFollowTest, OnlyARecentFileIsFollowedAtOnceAndTheMenuItemTurnsItOnAndOff) {
    std::filesystem::last_write_time(
        path_, std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
    FollowedWindow window;
    window.Open(path_, true);
    EXPECT_FALSE(window.dialog->FollowingFile());
    EXPECT_FALSE(window.Follow()->isChecked());
    EXPECT_TRUE(window.Follow()->isEnabled());

    // Turned on after the file grew: it is read at once.
    AppendRecords(path_, 10, 12);
    window.Follow()->trigger();
    EXPECT_TRUE(window.dialog->FollowingFile());
    ASSERT_TRUE(window.ReadsPoints(12));

    // Turned off: the file is no longer looked at (only the follower's timer reads it).
    window.Follow()->trigger();
    EXPECT_FALSE(window.dialog->FollowingFile());
}

TEST_F(PlotFollowTest, ALiveWindowTakesItsRecordsFromTheUnitNotFromTheFile) {
    FollowedWindow window;
    window.Open(path_, false);
    ASSERT_TRUE(window.dialog->IsLive());
    EXPECT_FALSE(window.dialog->FollowingFile());
    EXPECT_FALSE(window.Follow()->isEnabled());

    // Opening another file leaves live mode: that file is followed.
    const auto other = dir_.Path() / "Unit5678.csd";
    AppendRecords(other, 0, 4, 5678);
    window.dialog->OpenFile(other.string());
    EXPECT_FALSE(window.dialog->IsLive());
    EXPECT_TRUE(window.dialog->FollowingFile());
    AppendRecords(other, 4, 6, 5678);
    ASSERT_TRUE(window.ReadsPoints(6));

    // Back to live: following ends.
    window.dialog->StartLive();
    EXPECT_FALSE(window.dialog->FollowingFile());
    EXPECT_FALSE(window.Follow()->isEnabled());
}

// Records appended while the user looks at part of the file: the cursors stay on their records,
// a zoom stays where it is, and a zoom that showed the newest record moves on with it.
TEST_F(PlotFollowTest, AppendedRecordsKeepTheCursorsAndTheZoomAndAViewOnTheNewestRolls) {
    FollowedWindow window;
    window.Open(path_, true);
    CPlotDlg& plot = *window.dialog;
    plot.Command(kPlotCmdCursors)->trigger();
    testing::SetCursors(plot.Pane(2), 3, 6);
    const auto range = [&] { return plot.Pane(0)->xAxis->range(); };
    const struct {
        double left, right;  // the zoom, in records
        double shownLeft;    // where it starts after three more records
    } zooms[] = {{2, 7, 2}, {8, 12.5, 11}, {12.5, 17, 15.5}};
    int records = 10;
    for (const auto& zoom : zooms) {
        plot.Pane(4)->xAxis->setRange(RecordMjd(0) + zoom.left * kRecordDays,
                                      RecordMjd(0) + zoom.right * kRecordDays);
        AppendRecords(path_, records, records + 3);
        records += 3;
        ASSERT_TRUE(window.ReadsPoints(records));
        EXPECT_EQ(plot.Pane(0)->Series(0)->Points().Count(), records);
        EXPECT_NEAR(range().lower, RecordMjd(0) + zoom.shownLeft * kRecordDays, kMjdPrinted);
        EXPECT_NEAR(range().size(), (zoom.right - zoom.left) * kRecordDays, kMjdPrinted);
        for (int p = 0; p < CPlotDlg::kDataPanes; ++p) {
            EXPECT_EQ(plot.Pane(p)->CursorIndex(0), 3) << p;
            EXPECT_EQ(plot.Pane(p)->CursorIndex(1), 6) << p;
            EXPECT_EQ(plot.Pane(p)->xAxis->range(), range()) << p;
        }
    }
    EXPECT_EQ(plot.Readout()->Columns()[1].cells[0], "60200.002083");

    // The decay display: a fit up to the newest record takes in the new ones; another stays.
    plot.Command(kPlotCmdSignalDecay)->trigger();
    TracePlot* signal = plot.Pane(CPlotDlg::kSignalPane);
    AppendRecords(path_, records, records + 2);
    records += 2;
    ASSERT_TRUE(window.ReadsPoints(records));
    EXPECT_EQ(plot.FitLast(), records - 1);
    signal->SelectCursor(1);
    signal->SetCursorIndex(9);
    AppendRecords(path_, records, records + 2);
    ASSERT_TRUE(window.ReadsPoints(records + 2));
    EXPECT_EQ(plot.FitFirst(), 0);
    EXPECT_EQ(plot.FitLast(), 9);
    EXPECT_EQ(signal->CursorIndex(1), 9);
}

// A followed file that goes, cannot be read, comes back, is cut short or replaced: the window
// says each, keeps "Follow File" on, and says when it follows the file again.
TEST_F(PlotFollowTest, WhatHappensToTheFollowedFileIsSaidInTheWindow) {
    FollowedWindow window;
    window.Open(path_, true);
    EXPECT_FALSE(window.dialog->findChild<QWidget*>("followNotice")->isVisible());
    const auto aside = dir_.Path() / "aside.csd";
    std::filesystem::rename(path_, aside);
    ASSERT_TRUE(window.Says("Unit1234.csd is gone: the plot keeps its last records"));
    // Something that cannot be read in its place (as a file whose mode a rotation changed).
    std::filesystem::create_directory(path_);
    ASSERT_TRUE(window.Says("Unit1234.csd cannot be read (Is a directory)"))
        << window.dialog->FollowNoticeText().toStdString();
    EXPECT_TRUE(window.dialog->findChild<QWidget*>("followNotice")->isVisible());
    EXPECT_TRUE(window.Follow()->isChecked());
    EXPECT_EQ(window.dialog->Store().PointCount(), 10);
    std::filesystem::remove(path_);
    std::filesystem::rename(aside, path_);
    AppendRecords(path_, 10, 12);
    ASSERT_TRUE(window.ReadsPoints(12));
    EXPECT_NEAR(window.ShownRight(), RecordMjd(11), kMjdPrinted);
    EXPECT_TRUE(window.Says("can be read again: following resumes"));

    std::filesystem::resize_file(path_, 0);
    AppendRecords(path_, 0, 5);
    ASSERT_TRUE(window.ReadsPoints(5));
    EXPECT_TRUE(window.Says("was cut short: the plot shows it again from its first record"));
    const auto next = dir_.Path() / "next.csd";
    AppendRecords(next, 0, 7, 4321);  // a new recording renamed into place, of another unit
    std::filesystem::rename(next, path_);
    ASSERT_TRUE(window.ReadsPoints(7));
    EXPECT_TRUE(window.Says("was replaced by another file"));
    EXPECT_EQ(window.dialog->Store().SerialNumber(), 4321);

    // Gone and back unchanged (moved away and back) is following again too.
    std::filesystem::rename(path_, aside);
    ASSERT_TRUE(window.Says("is gone"));
    std::filesystem::rename(aside, path_);
    EXPECT_TRUE(window.Says("following resumes"));
    // Emptied down to its header: nothing left to show.
    std::filesystem::resize_file(path_, 0);
    AppendRecords(path_, 0, 0);
    ASSERT_TRUE(window.ReadsPoints(0));
    // Following turned off: nothing is said any more.
    window.Follow()->trigger();
    EXPECT_EQ(window.dialog->FollowNoticeText(), "");
}

}  // namespace
}  // namespace corvane3
