#pragma once
// "Scanning ...": shown while the polling thread searches for an instrument. Cancel (or closing
// the window) clears the auto-detect flag, so the search stops after its current attempt.

#include <QDialog>

#include "poll/PollingShared.h"

namespace corvane3 {

class CScanningDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CScanningDlg(CPollingShared& shared, QWidget* parent = nullptr);

    // The search has ended: close without touching the flag.
    void End() { done(Accepted); }

    void reject() override;

  private:
    CPollingShared& shared_;
};

}  // namespace corvane3
