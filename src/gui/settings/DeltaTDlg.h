#pragma once
// "Slew Output Phase": starts a phase slew of up to 9999 ns ("W03", advance or retard) or aborts
// the one in progress ("W04", the dialog stays open). Created for one use. User-interface
// thread only.

#include <QDialog>

class QComboBox;
class QLineEdit;
class QPushButton;

namespace corvane3 {

class CPollingShared;
class CUnitState;

// The largest slew the unit takes, in ns.
inline constexpr long kMaxSlew = 9999;

class CDeltaTDlg : public QDialog {
    Q_OBJECT
  public:
    // Both must outlive the dialog.
    CDeltaTDlg(CPollingShared& shared, const CUnitState& unit, QWidget* parent = nullptr);

  private:
    void BeginSlew();
    void Abort();

    CPollingShared& shared_;
    const CUnitState& unit_;
    bool abortSent_ = false;
    QComboBox* direction_ = nullptr;
    QLineEdit* slew_ = nullptr;
    QPushButton* abort_ = nullptr;
    QPushButton* begin_ = nullptr;
};

}  // namespace corvane3
