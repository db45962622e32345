#pragma once
// "Program TTL Output": the TTL output's frequency, 100 kHz to 10 MHz, sent as "W07" with the
// choice 1 to 4. The unit does not report it: the dialog, one for the program's run, remembers
// the last choice applied. User-interface thread only.

#include <QDialog>
#include <array>

class QPushButton;
class QRadioButton;

namespace corvane3 {

class CPollingShared;
class CUnitState;

class CTtlOutputDlg : public QDialog {
    Q_OBJECT
  public:
    // Both must outlive the dialog.
    CTtlOutputDlg(CPollingShared& shared, const CUnitState& unit, QWidget* parent = nullptr);

    // The frequency last applied, in MHz; 0 before the first.
    float Frequency() const { return frequency_; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void Apply();

    CPollingShared& shared_;
    const CUnitState& unit_;
    float frequency_ = 0;
    std::array<QRadioButton*, 4> choices_{};
    QPushButton* apply_ = nullptr;
};

}  // namespace corvane3
