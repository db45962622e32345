#pragma once
// The values under a plot's two cursors, as a small table under the plot: one column per
// quantity (time, a pane's channel, ...), with its value at cursor 1, at cursor 2 and their
// difference, and an optional line below it. Numbers keep the decimal point whatever the
// user's language.

#include <QLabel>
#include <QString>
#include <array>
#include <vector>

namespace corvane3 {

struct ReadoutColumn {
    QString title;
    // At cursor 1, at cursor 2, cursor 2 less cursor 1.
    std::array<QString, 3> cells;
};

// A value as the readout shows it: seven significant digits, no exponent for common sizes.
QString ReadoutNumber(double value);
// An MJD as a UTC date and time: "2024-03-05 12:34:56".
QString ReadoutUtc(double mjd);
// An MJD with the decimals that tell seconds apart.
QString ReadoutMjd(double mjd);
// A span of days as "[-][N d ]hh:mm:ss".
QString ReadoutSpan(double days);

// The columns for a time given as MJD at both cursors: its UTC date and time, and the MJD.
std::vector<ReadoutColumn> TimeColumns(double mjd1, double mjd2);
// The column of a value at both cursors.
ReadoutColumn ValueColumn(const QString& title, double value1, double value2);

class CCursorReadout : public QLabel {
    Q_OBJECT

  public:
    explicit CCursorReadout(QWidget* parent = nullptr);

    void Show(std::vector<ReadoutColumn> columns, const QString& footer = QString());
    const std::vector<ReadoutColumn>& Columns() const { return columns_; }
    QString Footer() const { return footer_; }
    // The column titled title, or null.
    const ReadoutColumn* Column(const QString& title) const;

  private:
    std::vector<ReadoutColumn> columns_;
    QString footer_;
};

}  // namespace corvane3
