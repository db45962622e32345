#pragma once
// "Alarms": the instrument's pending alarms by code and name, following every new status
// record while open; resets them ("W00") and sets whether the "Unit Restart" alarm is critical
// at power-up ("A18"). One for the program's run. User-interface thread only.

#include <QDialog>

class QComboBox;
class QListWidget;
class QPushButton;

namespace corvane3 {

class CPollingShared;
class CUnitState;

class CAlarmsDlg : public QDialog {
    Q_OBJECT
  public:
    // Both must outlive the dialog.
    CAlarmsDlg(CPollingShared& shared, const CUnitState& unit, QWidget* parent = nullptr);

    // The alarm list and the restart strategy from the unit's last status record; a strategy
    // the user has chosen and not yet applied is kept.
    void RefreshView();
    // Hands "W00" to the unit once; "Done" until a refresh finds an alarm again.
    void ResetAlarms();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void Apply();

    CPollingShared& shared_;
    const CUnitState& unit_;
    bool resetSent_ = false;
    bool strategyChosen_ = false;  // the user chose a strategy not yet applied
    QListWidget* alarms_ = nullptr;
    QPushButton* reset_ = nullptr;
    QComboBox* strategy_ = nullptr;
    QPushButton* apply_ = nullptr;
};

}  // namespace corvane3
