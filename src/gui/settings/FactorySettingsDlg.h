#pragma once
// "Factory Settings": the unit's ID, loop time constant, manufacturing date, power-on hours and
// Zeeman Rabi tilt, checked and sent with the Factory access option as C01, W10, A17, A13 and
// (when the unit sweeps by itself) C07, one after another; and "Memorize Nominals" (C02). A new
// instance is made for each opening. User-interface thread only.

#include <QDialog>

#include "core/link/UnitState.h"
#include "core/poll/PollingShared.h"

class QLineEdit;
class QPushButton;

namespace corvane3 {

class CFactorySettingsDlg : public QDialog {
    Q_OBJECT
  public:
    // The edits show the unit's values as the last status records gave them.
    CFactorySettingsDlg(CPollingShared& shared, const CUnitState& unit, QWidget* parent = nullptr);

  private:
    void MemorizeNominals();
    void ApplyChanges();
    void RangeError(const QString& text, QLineEdit* edit);

    CPollingShared& shared_;
    QLineEdit* unitId_;
    QLineEdit* loopTau_;
    QLineEdit* manufacturingDate_;
    QLineEdit* powerOnHours_;
    QLineEdit* zeemanRabiTilt_;
    QPushButton* memorize_;
    QPushButton* apply_;
};

}  // namespace corvane3
