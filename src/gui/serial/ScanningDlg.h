#pragma once
// "Scanning ...": shown while the polling thread searches for an instrument, saying which port
// and line settings it is trying. It opens beside the dialog that started the search, so the
// settings shown there stay in view. Cancel (or closing the window) clears the auto-detect
// flag, so the search stops after its current attempt.

#include <QDialog>

#include "core/link/SerialPort.h"
#include "core/poll/PollingShared.h"

class QLabel;

namespace corvane3 {

// "Trying /dev/ttyUSB0 at 9600 baud, 7 data bits, Odd parity, 2 stop bits".
QString SearchAttemptText(const SerialLineSettings& line);

class CScanningDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CScanningDlg(CPollingShared& shared, QWidget* parent = nullptr);

    // Shows the settings being tried.
    void ShowAttempt(const SerialLineSettings& line);
    QString AttemptText() const;
    // The search has ended: close without touching the flag.
    void End() { done(Accepted); }
    // True when the user stopped the latest search (Cancel or closing the window).
    bool Cancelled() const { return cancelled_; }

    void reject() override;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    CPollingShared& shared_;
    QLabel* attempt_;
    bool cancelled_ = false;
};

}  // namespace corvane3
