// What a pane paints for a long series, against the same points drawn one by one.

#include "gui/plot/TracePlot.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QLocale>
#include <QPainter>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>
#include <random>

#include "gui/plot/CursorReadout.h"
#include "support/VectorPoints.h"
#include "support/WidgetTestApplication.h"

namespace corvane3 {
namespace {

using TracePlotTest = testing::WidgetTest;

// Pixels of area painted in colour in one image that the other leaves unpainted there and at the
// eight neighbours (where a line crosses columns is the rasteriser's choice to a pixel).
std::vector<QPoint> PaintedOnlyIn(const QImage& image, const QImage& other, const QRect& area,
                                  QRgb colour) {
    std::vector<QPoint> alone;
    for (int x = area.left(); x <= area.right(); ++x) {
        for (int y = area.top(); y <= area.bottom(); ++y) {
            if (image.pixel(x, y) != colour) {
                continue;
            }
            bool near = false;
            for (int dx = -1; dx <= 1 && !near; ++dx) {
                for (int dy = -1; dy <= 1 && !near; ++dy) {
                    const QPoint neighbour(x + dx, y + dy);
                    near = area.contains(neighbour) && other.pixel(neighbour) == colour;
                }
            }
            if (!near) {
                alone.emplace_back(x, y);
            }
        }
    }
    return alone;
}

// A user whose language writes decimal commas sees the axes' numbers as the rest of the program
// shows them, with a point.
TEST_F(TracePlotTest, AxisNumbersKeepTheDecimalPointInAnyLanguage) {
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    TracePlot plot;
    plot.resize(400, 300);
    plot.xAxis->setRange(60000.25, 60000.75);
    plot.yAxis->setRange(-1.5, 1.5);
    plot.replot();
    QLocale::setDefault(previous);
    for (QCPAxis* axis : {plot.xAxis, plot.yAxis}) {
        const QString labels = QStringList(axis->tickVectorLabels()).join(' ');
        EXPECT_TRUE(labels.contains('.')) << labels.toStdString();
        EXPECT_FALSE(labels.contains(',')) << labels.toStdString();
    }
}

// The UTC axis labels carry the year where the span would leave it unclear: beyond a week, and
// across a new year at any span. The readout rounds a time to the second it shows, as the MJD
// beside it is rounded to its decimals.
TEST_F(TracePlotTest, UtcLabelsShowTheYearWhenItIsUnclearAndTheReadoutRoundsToTheSecond) {
    constexpr double kNewYear2024 = 60310.0;
    const struct {
        double first, last;
        const char* label;
    } spans[] = {
        {60000.0, 60010.0, R"(\d{4}-\d\d-\d\d)"},  // ten days
        {60000.0, 60003.0, R"(\d\d-\d\d \d\d:\d\d)"},
        {kNewYear2024 - 2.0, kNewYear2024 + 1.0, R"(\d{4}-\d\d-\d\d \d\d:\d\d)"},
        {60000.25, 60000.5, R"(\d\d:\d\d)"},
        {kNewYear2024 - 0.1, kNewYear2024 + 0.1, R"(\d{4}-\d\d-\d\d \d\d:\d\d)"},
        {60000.5, 60000.5 + 5.0 / 1440, R"(\d\d:\d\d:\d\d)"},
        {kNewYear2024 - 2.0 / 1440, kNewYear2024 + 2.0 / 1440, R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)"},
    };
    TracePlot plot;
    plot.resize(1200, 300);
    plot.SetUtcTimeAxis(true);
    for (const auto& span : spans) {
        plot.xAxis->setRange(span.first, span.last);
        plot.replot();
        const QVector<QString> labels = plot.xAxis->tickVectorLabels();
        ASSERT_FALSE(labels.isEmpty()) << span.first;
        const QRegularExpression shape(QRegularExpression::anchoredPattern(span.label));
        for (const QString& label : labels) {
            EXPECT_TRUE(shape.match(label).hasMatch()) << span.first << " " << label.toStdString();
        }
    }
    EXPECT_TRUE(plot.xAxis->tickVectorLabels().contains("2024-01-01 00:00:00"));

    const std::array<QString, 3> times = TimeColumns(61383.015243, 61383.0)[0].cells;
    EXPECT_EQ(times[0], "2026-12-09 00:21:57");  // 00:21:56.995
    EXPECT_EQ(ReadoutUtc(61383.0 - 0.4 / 86400), "2026-12-09 00:00:00");
    EXPECT_EQ(ReadoutUtc(61383.0 - 0.6 / 86400), "2026-12-08 23:59:59");
    EXPECT_EQ(times[2], "-00:21:57");
}

TEST_F(TracePlotTest, ALongSeriesPaintsWhatALineThroughEveryPointPaints) {
    // About 500 columns: 30,000 points of noise on a slow wave with lone spikes and absent
    // values; a gap in time several columns wide; then 2,000 points that jump far at every
    // step, eight to a column, so that the line between columns matters.
    auto points = std::make_shared<testing::VectorPoints>();
    std::mt19937 random(11);
    std::normal_distribution<double> noise(0.0, 3.0);
    std::uniform_real_distribution<double> jump(-40.0, 40.0);
    for (int i = 0; i < 30000; ++i) {
        const bool spike = i % 7919 == 0;
        points->x.push_back(i);
        points->y.push_back(i % 10007 == 5 ? std::nan("")
                                           : 40.0 * std::sin(i / 4000.0) + noise(random) +
                                                 (spike ? 60.0 : 0.0));
    }
    for (int i = 0; i < 2000; ++i) {
        points->x.push_back(32000.0 + 15.0 * i);
        points->y.push_back(std::clamp(points->y.back() + jump(random), -70.0, 110.0));
    }
    TracePlot plot;
    plot.resize(620, 320);
    CTraceSeries* series = plot.AddSeries(QStringLiteral("reduced"), points);
    // All of it, and a part that starts in the gap, with points beyond both sides.
    for (const auto& [left, right] : {std::pair{-500.0, 62500.0}, std::pair{31000.0, 50000.0}}) {
        plot.SetViewport(left, right, 120.0, -80.0);
        plot.ApplyViewport();
        const QImage reduced = plot.toPixmap(620, 320).toImage();

        // The same points joined one by one (absent ones left out) with the same pen, on the same
        // pixel grid.
        const QRect area = plot.axisRect()->rect();
        QImage everyPoint(reduced.size(), QImage::Format_ARGB32);
        everyPoint.fill(Qt::white);
        QPainter painter(&everyPoint);
        painter.setClipRect(area);
        painter.setPen(series->pen());
        QPolygonF line;
        for (std::size_t i = 0; i < points->x.size(); ++i) {
            if (!std::isnan(points->y[i])) {
                line << QPointF(plot.xAxis->coordToPixel(points->x[i]),
                                plot.yAxis->coordToPixel(points->y[i]));
            }
        }
        painter.drawPolyline(line);
        painter.end();

        const QRgb colour = series->pen().color().rgb();
        const std::vector<QPoint> onlyDrawn = PaintedOnlyIn(reduced, everyPoint, area, colour);
        const std::vector<QPoint> onlyExpected = PaintedOnlyIn(everyPoint, reduced, area, colour);
        EXPECT_TRUE(onlyDrawn.empty())
            << onlyDrawn.size() << " pixels painted only by columns, " << left;
        EXPECT_TRUE(onlyExpected.empty())
            << onlyExpected.size() << " pixels painted only by a line, " << left;
    }
}

// Points of a recording: a gap in it leaves the line open.
struct RecordedPoints : testing::VectorPoints {
    bool OpenAtGaps() const override { return true; }
};

TEST_F(TracePlotTest, RecordedPointsLeaveTheLineOpenAcrossARecordingGap) {
    // Two stretches of recording at different levels with a long gap between them, as few
    // points (drawn one by one) and as many (drawn by columns).
    for (const int perStretch : {50, 5000}) {
        const double step = 100.0 / perStretch;
        for (const bool recorded : {false, true}) {
            auto points = recorded ? std::make_shared<RecordedPoints>()
                                   : std::make_shared<testing::VectorPoints>();
            for (int stretch = 0; stretch < 2; ++stretch) {
                for (int i = 0; i < perStretch; ++i) {
                    points->x.push_back(stretch * 1000.0 + i * step);
                    points->y.push_back(stretch * 100.0);
                }
            }
            TracePlot plot;
            plot.resize(620, 320);
            CTraceSeries* series = plot.AddSeries(QStringLiteral("recorded"), points);
            plot.SetViewport(-10.0, 1110.0, 110.0, -10.0);
            plot.ApplyViewport();
            const QImage image = plot.toPixmap(620, 320).toImage();
            QImage blank(image.size(), QImage::Format_ARGB32);
            blank.fill(Qt::white);
            // Whether pixels are painted within a pixel of the points (x1, y1) to (x2, y2).
            const auto paintedAround = [&](double x1, double y1, double x2, double y2) {
                const QPoint from(plot.xAxis->coordToPixel(x1), plot.yAxis->coordToPixel(y1));
                const QPoint to(plot.xAxis->coordToPixel(x2), plot.yAxis->coordToPixel(y2));
                const QRect around = QRect(from, to).normalized().adjusted(-1, -1, 1, 1);
                return !PaintedOnlyIn(image, blank, around, series->pen().color().rgb()).empty();
            };
            // The gap's middle, between the two levels.
            EXPECT_EQ(paintedAround(550.0, 90.0, 550.0, 10.0), !recorded)
                << perStretch << (recorded ? " recorded" : "");
            // Both stretches are drawn.
            EXPECT_TRUE(paintedAround(50.0, 0.0, 50.0, 0.0));
            EXPECT_TRUE(paintedAround(1050.0, 100.0, 1050.0, 100.0));
        }
    }
}

}  // namespace
}  // namespace corvane3
