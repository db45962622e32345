#pragma once
// "Adjust Output Frequency": the unit's user frequency offset in parts in 1e-15, sent as "W01"
// once it is within +/- 999999. Created for one use. User-interface thread only.

#include <QDialog>

class QLineEdit;
class QPushButton;

namespace corvane3 {

class CPollingShared;
class CUnitState;

// The largest offset the unit takes, either way, in parts in 1e-15.
inline constexpr long kMaxFrequencyOffset = 999999;

class CDeltaFDlg : public QDialog {
    Q_OBJECT
  public:
    // Both must outlive the dialog. The edit starts with the unit's current offset.
    CDeltaFDlg(CPollingShared& shared, const CUnitState& unit, QWidget* parent = nullptr);

  private:
    void Apply();

    CPollingShared& shared_;
    const CUnitState& unit_;
    QLineEdit* offset_ = nullptr;
    QPushButton* apply_ = nullptr;
};

}  // namespace corvane3
