#include "gui/plot/CursorReadout.h"

#include <QDateTime>
#include <QTimeZone>
#include <algorithm>
#include <cmath>

#include "core/base/Mjd.h"

namespace corvane3 {

namespace {

constexpr int kValueDigits = 7;
// Beyond this many decimals a power of ten is no longer exact enough to round with.
constexpr int kMaxDecimals = 15;
// Six decimals of a day are 0.09 s: the recorded time stamps are whole seconds.
constexpr int kMjdDecimals = 6;
constexpr qint64 kSecondsPerHour = 3600;
constexpr qint64 kSecondsPerMinute = 60;
constexpr qint64 kSecondsPerWholeDay = 86400;
// The row headers, in the cursors' own colours (those of the cursor lines).
constexpr const char* kRowHeaders[3] = {"<span style='color:#c80000'>Cursor 1</span>",
                                        "<span style='color:#0000c8'>Cursor 2</span>",
                                        "2 &minus; 1"};

}  // namespace

QString ReadoutNumber(double value) {
    return QString::number(value, 'g', kValueDigits);
}

QString ReadoutUtc(double mjd) {
    // Rounded to the whole second it shows, as the MJD beside it is rounded to its decimals:
    // 56.995 s reads :57, never :56.
    const double seconds = std::round(SecondsSince1970(mjd));
    const QDateTime when =
        QDateTime::fromSecsSinceEpoch(static_cast<qint64>(seconds), QTimeZone::utc());
    return when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString ReadoutMjd(double mjd) {
    return QString::number(mjd, 'f', kMjdDecimals);
}

QString ReadoutSpan(double days) {
    qint64 seconds = std::llround(std::fabs(days) * kSecondsPerDay);
    const qint64 wholeDays = seconds / kSecondsPerWholeDay;
    seconds %= kSecondsPerWholeDay;
    QString text = QString::asprintf("%02lld:%02lld:%02lld", seconds / kSecondsPerHour,
                                     seconds % kSecondsPerHour / kSecondsPerMinute,
                                     seconds % kSecondsPerMinute);
    if (wholeDays > 0) {
        text = QStringLiteral("%1 d %2").arg(wholeDays).arg(text);
    }
    return days < 0.0 && seconds + wholeDays > 0 ? QLatin1Char('-') + text : text;
}

std::vector<ReadoutColumn> TimeColumns(double mjd1, double mjd2) {
    return {{QStringLiteral("UTC"), {ReadoutUtc(mjd1), ReadoutUtc(mjd2), ReadoutSpan(mjd2 - mjd1)}},
            {QStringLiteral("MJD"), {ReadoutMjd(mjd1), ReadoutMjd(mjd2), ReadoutMjd(mjd2 - mjd1)}}};
}

ReadoutColumn ValueColumn(const QString& title, double value1, double value2) {
    // The difference keeps the decimals the values are shown with, so that the rounding of
    // binary fractions (34.975 - 34.942) does not show as digits of its own.
    double difference = value2 - value1;
    const double larger = std::max(std::fabs(value1), std::fabs(value2));
    if (std::isfinite(difference) && larger > 0.0) {
        const int decimals = kValueDigits - 1 - static_cast<int>(std::floor(std::log10(larger)));
        const double scale = std::pow(10.0, std::clamp(decimals, -kMaxDecimals, kMaxDecimals));
        difference = std::round(difference * scale) / scale;
    }
    return {title, {ReadoutNumber(value1), ReadoutNumber(value2), ReadoutNumber(difference)}};
}

CCursorReadout::CCursorReadout(QWidget* parent) : QLabel(parent) {
    setObjectName(QStringLiteral("cursorReadout"));
    setTextFormat(Qt::RichText);
    setTextInteractionFlags(Qt::TextSelectableByMouse);
    setContentsMargins(6, 2, 6, 2);
    // As high as its lines: the panes take the rest of the window.
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
}

void CCursorReadout::Show(std::vector<ReadoutColumn> columns, const QString& footer) {
    columns_ = std::move(columns);
    footer_ = footer;
    QString html = QStringLiteral("<table cellspacing='0' cellpadding='1'><tr><td></td>");
    for (const ReadoutColumn& column : columns_) {
        html += QStringLiteral("<th align='right'>&nbsp;&nbsp;%1</th>")
                    .arg(column.title.toHtmlEscaped());
    }
    html += QStringLiteral("</tr>");
    for (std::size_t row = 0; row < 3; ++row) {
        html += QStringLiteral("<tr><td>%1</td>").arg(QString::fromLatin1(kRowHeaders[row]));
        for (const ReadoutColumn& column : columns_) {
            html += QStringLiteral("<td align='right'>&nbsp;&nbsp;%1</td>")
                        .arg(column.cells[row].toHtmlEscaped());
        }
        html += QStringLiteral("</tr>");
    }
    html += QStringLiteral("</table>");
    if (!footer_.isEmpty()) {
        html += footer_.toHtmlEscaped();
    }
    setText(html);
}

const ReadoutColumn* CCursorReadout::Column(const QString& title) const {
    for (const ReadoutColumn& column : columns_) {
        if (column.title == title) {
            return &column;
        }
    }
    return nullptr;
}

}  // namespace corvane3
