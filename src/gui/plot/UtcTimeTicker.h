#pragma once
// Tick marks and labels for an X axis in MJD shown as UTC dates and times. The labels follow the
// visible span: seconds within minutes, hours within a day, day and hour within a week, dates
// beyond.

#include "qcustomplot.h"

namespace corvane3 {

class CUtcTimeTicker : public QCPAxisTickerDateTime {
  public:
    CUtcTimeTicker();

    // The label layout for a visible span of this many days.
    static QString FormatForSpan(double days);

    void generate(const QCPRange& range, const QLocale& locale, QChar formatChar, int precision,
                  QVector<double>& ticks, QVector<double>* subTicks,
                  QVector<QString>* tickLabels) override;
};

}  // namespace corvane3
