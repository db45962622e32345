#pragma once
// "Ethernet": a Tq9000's Ethernet port as the Ethernet query last read it (port enabled, DHCP,
// IP address, netmask, gateway), sent back as B12. Addresses are typed as "a.b.c.d"; one that
// is not four numbers from 0 to 255 is refused before anything is sent. One instance lives as
// long as the main window. User-interface thread only.

#include <QDialog>

#include "core/poll/PollingShared.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace corvane3 {

class CEthernetDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CEthernetDlg(CPollingShared& shared, QWidget* parent = nullptr);

    // Sets the controls from the settings last fetched; "Apply Changes" is disabled. Runs at
    // every opening and when a fetch arrives meanwhile.
    void FillFromUnit();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void UpdateEnabling();
    void ApplyChanges();

    CPollingShared& shared_;
    QCheckBox* enablePort_;
    QCheckBox* useDhcp_;
    QLineEdit* ipAddress_;
    QLineEdit* netmask_;
    QLineEdit* gateway_;
    QPushButton* apply_;
};

}  // namespace corvane3
