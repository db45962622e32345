#pragma once
// "Configure Tq9000 Telecomunications Outputs": the E1 and T1 framing of a Tq9000's DCC board as
// the telecom query last read it, sent back as B11 (E1) and B10 (T1). An interface the unit
// reports absent is greyed and its command is not sent. One instance lives as long as the main
// window. User-interface thread only.

#include <QDialog>

#include "core/poll/PollingShared.h"

class QComboBox;
class QPushButton;

namespace corvane3 {

class CTq9000TelecomDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CTq9000TelecomDlg(CPollingShared& shared, QWidget* parent = nullptr);

    // Sets the lists from the telecom settings last fetched and greys an absent interface;
    // "Apply Changes" is disabled. Runs at every opening and when a fetch arrives meanwhile.
    void FillFromUnit();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void ApplyChanges();

    CPollingShared& shared_;
    QComboBox* e1Format_;
    QComboBox* e1SaChannel_;
    QComboBox* e1Fault_;
    QComboBox* t1Format_;
    QComboBox* t1Fault_;
    QPushButton* apply_;
    bool e1Present_ = false;
    bool t1Present_ = false;
};

}  // namespace corvane3
