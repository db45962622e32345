#include "gui/plot/UtcTimeTicker.h"

#include <QDateTime>
#include <QTimeZone>

#include "core/base/Mjd.h"

namespace corvane3 {

namespace {

// The spans (days) up to which each label layout is used.
constexpr double kSecondsLayoutUpTo = 10.0 / (24.0 * 60.0);  // ten minutes
constexpr double kHoursLayoutUpTo = 1.0;
constexpr double kDayAndHourLayoutUpTo = 7.0;

}  // namespace

CUtcTimeTicker::CUtcTimeTicker() {
    setTimeZone(QTimeZone::utc());
}

QString CUtcTimeTicker::FormatForSpan(double firstMjd, double lastMjd) {
    const double days = lastMjd - firstMjd;
    if (days > kDayAndHourLayoutUpTo) {
        return QStringLiteral("yyyy-MM-dd");
    }
    // Labels without a year would read as the same dates a year apart.
    const auto year = [](double mjd) {
        return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(SecondsSince1970(mjd)),
                                             QTimeZone::utc())
            .date()
            .year();
    };
    const bool newYear = year(firstMjd) != year(lastMjd);
    if (days <= kSecondsLayoutUpTo) {
        return newYear ? QStringLiteral("yyyy-MM-dd HH:mm:ss") : QStringLiteral("HH:mm:ss");
    }
    if (days <= kHoursLayoutUpTo && !newYear) {
        return QStringLiteral("HH:mm");
    }
    return newYear ? QStringLiteral("yyyy-MM-dd HH:mm") : QStringLiteral("MM-dd HH:mm");
}

void CUtcTimeTicker::generate(const QCPRange& range, const QLocale& locale, QChar formatChar,
                              int precision, QVector<double>& ticks, QVector<double>* subTicks,
                              QVector<QString>* tickLabels) {
    setDateTimeFormat(FormatForSpan(range.lower, range.upper));
    // The base ticker counts in seconds since 1970; the axis in MJD.
    const QCPRange seconds(SecondsSince1970(range.lower), SecondsSince1970(range.upper));
    QCPAxisTickerDateTime::generate(seconds, locale, formatChar, precision, ticks, subTicks,
                                    tickLabels);
    for (double& tick : ticks) {
        tick = ModifiedJulianDate(tick);
    }
    if (subTicks != nullptr) {
        for (double& tick : *subTicks) {
            tick = ModifiedJulianDate(tick);
        }
    }
}

}  // namespace corvane3
