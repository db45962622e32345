#include "mainwin/WindowPrinter.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QLabel>
#include <QPainter>
#include <QPrinter>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QVBoxLayout>
#include <QWidget>
#include <ctime>
#include <string>
#include <vector>

#include "support/TempDir.h"
#include "support/WidgetTestApplication.h"

namespace corvane3 {
namespace {

constexpr QRgb kWhite = 0xffffffff;
constexpr QRgb kRed = 0xffff0000;
constexpr QRgb kBlue = 0xff0000ff;

std::unique_ptr<QPrinter> PdfPrinter(const std::filesystem::path& file) {
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(QString::fromStdString(file.string()));
    return printer;
}

QByteArray ReadAll(const std::filesystem::path& file) {
    QFile in(QString::fromStdString(file.string()));
    return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
}

// What a PDF file says about itself, read from its uncompressed object dictionaries.
struct PdfSummary {
    bool isPdf = false;
    QString title;
    int pages = 0;
    std::vector<QSize> images;
};

PdfSummary Summarise(const QByteArray& pdf) {
    PdfSummary summary;
    summary.isPdf = pdf.startsWith("%PDF-");
    // The title is a UTF-16 text behind a byte-order mark, "(\xfe\xff...)".
    const qsizetype title = pdf.indexOf("/Title (\xfe\xff");
    if (title >= 0) {
        const qsizetype start = title + 10;
        const QByteArray utf16 = pdf.mid(start, pdf.indexOf(')', start) - start);
        summary.title = QStringDecoder(QStringDecoder::Utf16BE)(utf16);
    }
    const QString text = QString::fromLatin1(pdf);
    summary.pages = static_cast<int>(text.count(QRegularExpression("/Type\\s*/Page(?!s)")));
    QRegularExpression image("/Subtype\\s*/Image\\s*/Width\\s+(\\d+)\\s*/Height\\s+(\\d+)");
    for (auto it = image.globalMatch(text); it.hasNext();) {
        const auto match = it.next();
        summary.images.emplace_back(match.captured(1).toInt(), match.captured(2).toInt());
    }
    return summary;
}

// A picture whose left half is red and right half blue, so a mirrored or shifted copy shows.
QImage TwoColourImage(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(kRed);
    QPainter(&image).fillRect(width / 2, 0, width - width / 2, height, QColor(kBlue));
    return image;
}

class WindowPrinterTest : public testing::WidgetTest {};

TEST_F(WindowPrinterTest, PrintRectangleIsATenthInFourFifthsWideAndHalfThePageHigh) {
    struct Row {
        int width, height;
        QRect expected;
    };
    const std::vector<Row> rows = {
        {4800, 6600, QRect(480, 660, 3840, 3300)},
        {1001, 999, QRect(100, 99, 801, 499)},  // integer divisions, each rounded down
        {9, 9, QRect(0, 0, 8, 4)},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(PrintRectangle(row.width, row.height), row.expected)
            << row.width << " x " << row.height;
    }
}

TEST_F(WindowPrinterTest, ImageIsStretchedIntoThePrintRectangleWithoutKeepingItsAspect) {
    QImage page(100, 200, QImage::Format_RGB32);
    page.fill(kWhite);
    QPainter painter(&page);
    DrawImageOnPage(painter, TwoColourImage(10, 10), page.width(), page.height());
    painter.end();

    // Rectangle (10, 20) to (89, 119): red left half, blue right half, white around it.
    struct Probe {
        int x, y;
        QRgb colour;
    };
    const std::vector<Probe> probes = {{10, 20, kRed},   {49, 119, kRed}, {50, 20, kBlue},
                                       {89, 119, kBlue}, {9, 20, kWhite}, {90, 60, kWhite},
                                       {60, 120, kWhite}};
    for (const Probe& probe : probes) {
        EXPECT_EQ(page.pixel(probe.x, probe.y), probe.colour) << probe.x << ", " << probe.y;
    }
}

TEST_F(WindowPrinterTest, PrintingToPdfMakesOnePageWithTheWholeImage) {
    testing::TempDir dir;
    const auto file = dir.Path() / "window.pdf";
    auto printer = PdfPrinter(file);
    ASSERT_TRUE(PrintImage(TwoColourImage(64, 48), *printer));

    const PdfSummary pdf = Summarise(ReadAll(file));
    EXPECT_TRUE(pdf.isPdf);
    EXPECT_EQ(pdf.title, "Window Contents");
    EXPECT_EQ(pdf.pages, 1);
    EXPECT_EQ(pdf.images, std::vector<QSize>{QSize(64, 48)});
}

TEST_F(WindowPrinterTest, WithoutAWindowSystemTheGrabShowsTheTitleAboveTheWindow) {
    QWidget window;
    window.setWindowTitle("Cesium Frequency Standard");
    window.setAutoFillBackground(true);
    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, QColor(kBlue));
    palette.setColor(QPalette::Highlight, QColor(kRed));
    palette.setColor(QPalette::HighlightedText, QColor(kWhite));
    window.setPalette(palette);
    window.resize(240, 120);
    window.show();

    const QImage image = GrabWindowImage(&window);
    ASSERT_FALSE(image.isNull());
    EXPECT_GE(image.width(), window.width());
    const int titleHeight = image.height() - window.height();
    ASSERT_GT(titleHeight, 0);

    // The window's own area lies at the bottom; the title strip above it carries text.
    const int middleX = image.width() / 2;
    EXPECT_EQ(image.pixel(middleX, image.height() - window.height() / 2), kBlue);
    EXPECT_EQ(image.pixel(image.width() - 3, titleHeight / 2), kRed);
    int textPixels = 0;
    for (int x = 0; x < image.width() / 2; ++x) {
        for (int y = 0; y < titleHeight; ++y) {
            textPixels += image.pixel(x, y) == kWhite ? 1 : 0;
        }
    }
    EXPECT_GT(textPixels, 0) << "no title text drawn";

    EXPECT_TRUE(GrabWindowImage(nullptr).isNull());
}

TEST_F(WindowPrinterTest, AsctimeTextMatchesTheCLibraryAsctime) {
    EXPECT_EQ(AsctimeText(QDateTime(QDate(2026, 12, 6), QTime(17, 5, 9))),
              "Sun Dec  6 17:05:09 2026\n");
    EXPECT_EQ(AsctimeText(QDateTime(QDate(2024, 2, 29), QTime(0, 0, 0))),
              "Thu Feb 29 00:00:00 2024\n");

    for (const std::time_t seconds : {0LL, 951782400LL, 1700000000LL, 1767225599LL}) {
        std::tm local{};
        ASSERT_NE(localtime_r(&seconds, &local), nullptr);
        char expected[32] = {};
        ASSERT_NE(asctime_r(&local, expected), nullptr);
        const QDateTime time = QDateTime::fromSecsSinceEpoch(seconds);
        EXPECT_EQ(AsctimeText(time).toStdString(), expected) << seconds;
    }
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

TEST_F(PrintFlowTest, NarrowWindowIsPrintedWideWithTheTimeThenPutBack) {
    printerFile_ = dir_.Path() / "main.pdf";
    ASSERT_TRUE(PrintWindowImage(&window_, hooks_));
    // The picture shows the print time, not what the refresh put there.
    EXPECT_EQ(log_, (std::vector<std::string>{
                        "choose", "widen", "refresh", "time Sun Dec  6 17:05:09 2026\n",
                        "grab Sun Dec  6 17:05:09 2026\n", "clear", "narrow"}));
    EXPECT_EQ(window_.width(), kNarrowWidth);
    EXPECT_TRUE(pane_->text().isEmpty());

    // The page holds the wide window's picture.
    const PdfSummary pdf = Summarise(ReadAll(printerFile_));
    EXPECT_EQ(pdf.pages, 1);
    ASSERT_EQ(pdf.images.size(), 1u);
    EXPECT_GE(pdf.images[0].width(), kWideWidth);
}

TEST_F(PrintFlowTest, WindowIsPutBackEvenWhenThePageCannotBePrinted) {
    printerFile_ = dir_.Path() / "missing" / "main.pdf";
    EXPECT_FALSE(PrintWindowImage(&window_, hooks_));
    ASSERT_FALSE(log_.empty());
    EXPECT_EQ(log_.back(), "narrow");
    EXPECT_EQ(window_.width(), kNarrowWidth);
    EXPECT_TRUE(pane_->text().isEmpty());
}

}  // namespace
}  // namespace corvane3
