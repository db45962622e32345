#pragma once
// "Tq9000 Time-Of-Day Clock": the DCC board's clock, fetched once a second while the dialog is
// open, set from the PC's clock ("B01", local time or UTC) or moved by whole hours and seconds
// ("B03"). One for the program's run. User-interface thread only.

#include <QDialog>
#include <cstdint>

class QComboBox;
class QLineEdit;
class QPushButton;
class QTimer;

namespace corvane3 {

class CPollingShared;
class CUnitState;

class CTimeOfDayDlg : public QDialog {
    Q_OBJECT
  public:
    // Both must outlive the dialog.
    CTimeOfDayDlg(CPollingShared& shared, const CUnitState& unit, QWidget* parent = nullptr);

    // Shows the DCC time plus the adjustment; "Send" may send again.
    void RefreshClock();
    // The PC's clock to the DCC board, once until the next refresh or change of time zone.
    void Send();

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void Adjust(std::int32_t seconds);
    void ResetSend();
    void Apply();

    CPollingShared& shared_;
    const CUnitState& unit_;
    std::int32_t adjustment_ = 0;
    bool sent_ = false;
    QLineEdit* clock_ = nullptr;
    QComboBox* zone_ = nullptr;
    QPushButton* send_ = nullptr;
    QPushButton* apply_ = nullptr;
    QTimer* timer_ = nullptr;
};

}  // namespace corvane3
