// The spectrum window without an instrument: the viewer, saving and reopening, and the
// frequencies typed into its dialogs.

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QRegularExpression>
#include <fstream>

#include "gui/plot/CursorReadout.h"
#include "gui/plot/TracePlot.h"
#include "gui/spectrum/SpectrumDlg.h"
#include "support/ModalDialogDriver.h"
#include "support/PlotWindows.h"
#include "support/TempDir.h"
#include "support/TimedPrint.h"
#include "support/WidgetTestApplication.h"

namespace corvane3 {
namespace {

using testing::ModalDialogDriver;

class SpectrumDlgTest : public testing::WidgetTest {
  protected:
    SpectrumWindowContext Context() { return {acquisition_, settings_, unit_}; }
    static std::vector<std::pair<double, double>> Drawn(const CSpectrumDlg& window, int series) {
        std::vector<std::pair<double, double>> points;
        const IPlotPoints& drawn = window.Plot()->Series(series)->Points();
        for (std::int64_t i = 0; i < drawn.Count(); ++i) {
            points.emplace_back(drawn.X(i), drawn.Y(i));
        }
        return points;
    }

    testing::TempDir dir_;
    CPollingShared shared_;
    CProgramSettings settings_;
    CUnitState unit_;
    CSpectrumAcquisition acquisition_{shared_, settings_};
};

TEST_F(SpectrumDlgTest, ViewerShowsTheFileAndSavesWhatReopensAlike) {
    const std::string path = (dir_.Path() / "a.css").string();
    std::ofstream(path) << "Detuning, Signal\n-500,1000.5\n0,4000.25\n500,12.3456789\n\n";
    CSpectrumDlg viewer(Context(), path);
    testing::ShowLoaded(viewer);
    EXPECT_EQ(viewer.windowTitle().toStdString(), "File: " + path);
    EXPECT_FALSE(viewer.GoButton()->isVisible());
    EXPECT_EQ(viewer.CommandAction(CSpectrumDlg::kCmdOptions), nullptr);
    const std::vector<std::pair<double, double>> expected = {
        {-500, 1000.5}, {0, 4000.25}, {500, 12.3456789}};
    EXPECT_EQ(Drawn(viewer, 0), expected);
    EXPECT_EQ(Drawn(viewer, 1), expected);
    // The cursors come on at the two ends of the spectrum, the readout with them: detuning and
    // signal at each cursor and their differences.
    viewer.CommandAction(CSpectrumDlg::kCmdCursors)->trigger();
    EXPECT_TRUE(viewer.Plot()->CursorsShown());
    using Row = std::array<QString, 3>;
    const auto cells = [&viewer](const QString& title) {
        const ReadoutColumn* column = viewer.Readout()->Column(title);
        return column != nullptr ? column->cells : Row{};
    };
    ASSERT_TRUE(viewer.Readout()->isVisible());
    EXPECT_EQ(cells("Detuning [Hz]"), (Row{"-500", "500", "1000"}));
    EXPECT_EQ(cells("Signal [mV]"), (Row{"1000.5", "12.34568", "-988.154"}));
    viewer.CommandAction(CSpectrumDlg::kCmdCursors)->trigger();
    EXPECT_FALSE(viewer.Readout()->isVisible());
    viewer.CommandAction(CSpectrumDlg::kCmdCursors)->trigger();

    testing::ExpectTimedLandscapePrint(viewer, dir_.Path() / "print.pdf");

    // Saved and opened again (the digits kept are the spectrum file test's).
    const std::string copy = (dir_.Path() / "b.css").string();
    ASSERT_TRUE(viewer.SaveTo(copy));
    CSpectrumDlg reopened(Context(), copy);
    ASSERT_TRUE(reopened.LoadFile(copy));
    EXPECT_EQ(Drawn(reopened, 1).front(), expected.front());

    // A file that cannot be read or written is said, and the spectrum shown stays.
    ModalDialogDriver driver;
    EXPECT_FALSE(reopened.LoadFile((dir_.Path() / "none.css").string()));
    EXPECT_FALSE(reopened.SaveTo((dir_.Path() / "no" / "c.css").string()));
    EXPECT_EQ(Drawn(reopened, 1).size(), 3u);
    ASSERT_EQ(driver.Messages().size(), 2u);
    EXPECT_EQ(driver.Messages()[0],
              (ModalDialogDriver::Message{
                  "Corvane3", QString::fromStdString(
                                  "Unable to open file:  " + dir_.Path().string() + "/none.css")}));
}

// The offset and the Zeeman frequency are read in the C form, whatever the locale; anything else
// is refused with a warning and the dialog stays open.
TEST_F(SpectrumDlgTest, TypedFrequenciesAreDecimalNumbersOrRefused) {
    ArbitraryDdsOffset offset;
    offset.hz = 5;
    CSpectrumDlg window(Context(), ESweepMode::kHost, QStringLiteral("Unit"), offset);
    ModalDialogDriver driver([](QDialog& dialog) {
        auto* edit =
            dialog.findChildren<QLineEdit*>(QRegularExpression("^(offset|zeeman)$")).value(0);
        ASSERT_NE(edit, nullptr);
        for (const char* junk : {"12,5", "12.5 Hz", "0x10", "nan", ""}) {
            edit->setText(QString::fromLatin1(junk));
            dialog.accept();
            EXPECT_TRUE(dialog.isVisible()) << junk;
        }
        edit->setText(QStringLiteral(" -12.5e1 "));
        dialog.accept();
    });
    window.CommandAction(CSpectrumDlg::kCmdFirstDds + 10)->trigger();
    EXPECT_EQ(offset.hz, -125.0);
    window.CommandAction(CSpectrumDlg::kCmdOptions)->trigger();
    EXPECT_EQ(acquisition_.ZeemanFrequency, -125.0);
    ASSERT_EQ(driver.Messages().size(), 10u);
    EXPECT_EQ(
        driver.Messages().front(),
        (ModalDialogDriver::Message{"Corvane3", "Offset must be a number of Hz, such as -12.5"}));
    EXPECT_EQ(driver.Messages().back(),
              (ModalDialogDriver::Message{
                  "Corvane3", "Zeeman Frequency must be a number of Hz, such as -12.5"}));
}

}  // namespace
}  // namespace corvane3
