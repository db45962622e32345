#pragma once
// "Serial Communications Setup": the PC side of the link, which port and line settings the
// serial port uses. "Detect" has the polling thread search for an instrument while "Scanning ..."
// is shown; the settings it finds are shown in the lists and take effect only on "Apply
// Changes". One instance lives for the program's life; every opening builds its lists afresh
// for the connected model and the ports present. User-interface thread only.

#include <QDialog>

#include "core/link/SerialPort.h"
#include "core/link/UnitState.h"
#include "core/poll/PollingShared.h"
#include "core/poll/QuerySteps.h"

class QComboBox;
class QPushButton;

namespace corvane3 {

class CLineSettingsWidget;
class CScanningDlg;

class CSerialSetupDlg : public QDialog {
    Q_OBJECT
  public:
    // listPorts gives the ports offered; by default the machine's serial ports. The port in use
    // is always offered too, marked "(not present)" when no such device exists, so that Apply
    // never moves the link to another port unasked.
    CSerialSetupDlg(CSerialPort& port, CPollingShared& shared, const CUnitState& unit,
                    PortLister listPorts = {}, QWidget* parent = nullptr);

    // Selects the entries for the port's current name and line settings.
    void LoadFromPort();
    // Shows the settings the search is trying in "Scanning ...".
    void ShowSearchProgress();
    // Closes "Scanning ..." if it is open (the search has ended).
    void EndScanning();
    bool IsScanning() const { return scanningOpen_; }
    // The search dialog, for tests.
    CScanningDlg& Scanning() { return *scanning_; }
    // True when the user cancelled the latest search.
    bool SearchCancelled() const;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void Detect();
    void ApplyChanges();
    void RestoreAfterSearch(const SerialLineSettings& saved);
    void FillPortList();
    // Selects the entry of a port name, adding one when the list lacks it.
    void SelectPort(const std::string& name);

    CSerialPort& port_;
    CPollingShared& shared_;
    const CUnitState& unit_;
    PortLister listPorts_;
    QComboBox* portList_;
    CLineSettingsWidget* line_;
    QPushButton* detect_;
    QPushButton* apply_;
    CScanningDlg* scanning_;
    bool scanningOpen_ = false;
};

}  // namespace corvane3
