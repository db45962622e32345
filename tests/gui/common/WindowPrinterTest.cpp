#include "gui/common/WindowPrinter.h"
#include "gui/common/PrinterChoice.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPrinter>
#include <QVBoxLayout>
#include <QWidget>
#include <string>
#include <vector>

#include "support/TempDir.h"
#include "support/TimedPrint.h"
#include "support/WidgetTestApplication.h"

namespace corvane3 {
namespace {

// A window that the print flow widens, and a log of what the flow asks of it.
class PrintFlowTest : public testing::WidgetTest {
  protected:
    static constexpr int kNarrowWidth = 200;
    static constexpr int kWideWidth = kNarrowWidth + 315;

    PrintFlowTest() {
        auto* layout = new QVBoxLayout(&window_);
        pane_ = new QLabel("   ", &window_);
        layout->addWidget(pane_);
        window_.setWindowTitle("Corvane3");
        window_.resize(kNarrowWidth, 100);
        window_.show();

        hooks_.choosePrinter = [this](QWidget* window) -> std::unique_ptr<QPrinter> {
            log_.push_back(window == &window_ ? "choose" : "choose for another window");
            return printerFile_.empty() ? nullptr : testing::PdfPrinter(printerFile_);
        };
        hooks_.isWide = [this] { return window_.width() == kWideWidth; };
        hooks_.setWide = [this](bool wide) {
            log_.push_back(wide ? "widen" : "narrow");
            window_.resize(wide ? kWideWidth : kNarrowWidth, window_.height());
        };
        hooks_.showPrintTime = [this](const QString& text) {
            log_.push_back("time " + text.toStdString());
            pane_->setText(text);
        };
        // A refresh fills the pane as the main window's does.
        hooks_.refresh = [this] {
            log_.push_back("refresh");
            pane_->setText("Uptime: 0012:34:56");
        };
        hooks_.grab = [this](QWidget* window) {
            log_.push_back("grab " + pane_->text().toStdString());
            return GrabWindowImage(window);
        };
        hooks_.clearPrintTime = [this] {
            log_.push_back("clear");
            pane_->clear();
        };
        hooks_.now = [] { return QDateTime(QDate(2026, 12, 6), QTime(17, 5, 9)); };
    }

    testing::TempDir dir_;
    std::filesystem::path printerFile_;
    QWidget window_;
    QLabel* pane_ = nullptr;
    WindowPrintHooks hooks_;
    std::vector<std::string> log_;
};

TEST_F(PrintFlowTest, NarrowWindowIsPrintedWideWithTheTimeThenPutBackWhateverHappens) {
    // Cancelled: nothing changes.
    EXPECT_FALSE(PrintWindowImage(&window_, hooks_));
    EXPECT_EQ(log_, std::vector<std::string>{"choose"});
    log_.clear();

    printerFile_ = dir_.Path() / "main.pdf";
    ASSERT_TRUE(PrintWindowImage(&window_, hooks_));
    // The picture shows the print time, not what the refresh put there.
    EXPECT_EQ(log_, (std::vector<std::string>{
                        "choose", "widen", "refresh", "time Sun Dec  6 17:05:09 2026\n",
                        "grab Sun Dec  6 17:05:09 2026\n", "clear", "narrow"}));
    EXPECT_EQ(window_.width(), kNarrowWidth);
    EXPECT_TRUE(pane_->text().isEmpty());

    // The window is put back even when the page cannot be printed.
    printerFile_ = dir_.Path() / "missing" / "main.pdf";
    EXPECT_FALSE(PrintWindowImage(&window_, hooks_));
    EXPECT_EQ(log_.back(), "narrow");
    EXPECT_EQ(window_.width(), kNarrowWidth);
    EXPECT_TRUE(pane_->text().isEmpty());
}

// A print to a file is offered a new name (the window and the time of day) in the folder of the
// last print to a file; before any choice the document is named as that file would be.
TEST_F(PrintFlowTest, APrintSuggestsANewFileInTheFolderOfTheLastPrintToAFile) {
    const QString name =
        SuggestedPrintFileName("Spectrum", QDateTime(QDate(2026, 12, 7), QTime(9, 5, 3)));
    EXPECT_EQ(name.toStdString(), "Corvane3-Spectrum-2026-12-07-090503.pdf");
    QPrinter first, next, fresh;
    first.setOutputFileName(QString::fromStdString((dir_.Path() / "first print.pdf").string()));
    PreparePrinter(next, RememberPrinter(first), name);
    EXPECT_EQ(next.outputFileName().toStdString(), (dir_.Path() / name.toStdString()).string());
    PreparePrinter(fresh, {}, name);
    EXPECT_EQ(fresh.docName().toStdString(), "Corvane3-Spectrum-2026-12-07-090503");
}

// The picture goes a tenth of the page in, four fifths wide and half high; without a screen to
// grab, the window is drawn under a title strip as a window manager would frame it.
TEST_F(PrintFlowTest, ThePictureSitsOnThePageWithATitleStripAboveTheWindow) {
    EXPECT_EQ(PrintRectangle(4800, 6600), QRect(480, 660, 3840, 3300));
    EXPECT_EQ(PrintRectangle(1001, 999), QRect(100, 99, 801, 499));
    const QImage shot = GrabWindowImage(&window_);
    EXPECT_EQ(shot.width(), window_.width() + 2);
    EXPECT_GT(shot.height(), window_.height() + 2);
    EXPECT_EQ(shot.pixel(shot.width() - 3, 2),
              window_.palette().color(QPalette::Active, QPalette::Highlight).rgb());
}

}  // namespace
}  // namespace corvane3
