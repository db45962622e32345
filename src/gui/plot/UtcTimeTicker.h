#pragma once
// Tick marks and labels for an X axis in MJD shown as UTC dates and times. The labels follow the
// visible span: seconds within minutes, hours within a day, day and hour within a week, dates
// beyond (with the year, as is every label of a span that crosses into another year).

#include "qcustomplot.h"

namespace corvane3 {

class CUtcTimeTicker : public QCPAxisTickerDateTime {
  public:
    CUtcTimeTicker();

    // The label layout for the visible span between these two MJDs.
    static QString FormatForSpan(double firstMjd, double lastMjd);

    void generate(const QCPRange& range, const QLocale& locale, QChar formatChar, int precision,
                  QVector<double>& ticks, QVector<double>* subTicks,
                  QVector<QString>* tickLabels) override;
};

}  // namespace corvane3
