#pragma once
// "Synchronize 1 PPS to External Source": hands "W22" to the polling thread and closes; the
// main window tells the outcome when the reply arrives (notification 22). One for the
// program's run. User-interface thread only.

#include <QDialog>

namespace corvane3 {

class CPollingShared;

class CPpsSyncDlg : public QDialog {
    Q_OBJECT
  public:
    // shared must outlive the dialog.
    explicit CPpsSyncDlg(CPollingShared& shared, QWidget* parent = nullptr);

  private:
    void Sync();

    CPollingShared& shared_;
};

}  // namespace corvane3
