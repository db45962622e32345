#include "gui/common/WindowPrinter.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPrinter>
#include <QVBoxLayout>
#include <QWidget>
#include <string>
#include <vector>

#include "gui/common/PrinterChoice.h"
#include "support/TempDir.h"
#include "support/WidgetTestApplication.h"

namespace corvane3 {
namespace {

constexpr QRgb kRed = 0xffff0000;
constexpr QRgb kBlue = 0xff0000ff;

std::unique_ptr<QPrinter> PdfPrinter(const std::filesystem::path& file) {
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(QString::fromStdString(file.string()));
    return printer;
}

class WindowPrinterTest : public testing::WidgetTest {};

TEST_F(WindowPrinterTest, ThePrintRectangleIsATenthInFourFifthsWideAndHalfThePageHigh) {
    EXPECT_EQ(PrintRectangle(4800, 6600), QRect(480, 660, 3840, 3300));
    EXPECT_EQ(PrintRectangle(1001, 999), QRect(100, 99, 801, 499));  // each division rounded down
}

TEST_F(WindowPrinterTest, WithoutAWindowSystemTheGrabShowsTheTitleAboveTheWindow) {
    QWidget window;
    window.setWindowTitle("Cesium Frequency Standard");
    window.setAutoFillBackground(true);
    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, QColor(kBlue));
    palette.setColor(QPalette::Highlight, QColor(kRed));
    window.setPalette(palette);
    window.resize(240, 120);
    window.show();

    const QImage image = GrabWindowImage(&window);
    ASSERT_FALSE(image.isNull());
    EXPECT_GE(image.width(), window.width());
    const int titleHeight = image.height() - window.height();
    ASSERT_GT(titleHeight, 0);

    // The window's own area lies at the bottom, the title strip above it.
    EXPECT_EQ(image.pixel(image.width() / 2, image.height() - window.height() / 2), kBlue);
    EXPECT_EQ(image.pixel(image.width() - 3, titleHeight / 2), kRed);
}

TEST_F(WindowPrinterTest, APrintSuggestsANewFileInTheFolderOfTheLastPrintOfTheRun) {
    const QDateTime time(QDate(2026, 12, 7), QTime(9, 5, 3));
    EXPECT_EQ(SuggestedPrintFileName("Plot", time), "Corvane3-Plot-2026-12-07-090503.pdf");

    // The first print of a run: the dialog offers the document's name for a file.
    QPrinter first;
    PreparePrinter(first, RememberedPrinter{}, SuggestedPrintFileName("Main", time));
    EXPECT_EQ(first.docName(), "Corvane3-Main-2026-12-07-090503");
    EXPECT_TRUE(first.outputFileName().isEmpty());

    // After a print to a file: the same folder, a new name.
    testing::TempDir dir;
    const std::unique_ptr<QPrinter> chosen = PdfPrinter(dir.Path() / "first print.pdf");
    const RememberedPrinter last = RememberPrinter(*chosen);
    QPrinter next;
    PreparePrinter(next, last, SuggestedPrintFileName("Spectrum", time.addSecs(60)));
    EXPECT_EQ(next.outputFormat(), QPrinter::PdfFormat);
    EXPECT_EQ(next.outputFileName().toStdString(),
              (dir.Path() / "Corvane3-Spectrum-2026-12-07-090603.pdf").string());
}

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
            return printerFile_.empty() ? nullptr : PdfPrinter(printerFile_);
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

}  // namespace
}  // namespace corvane3
