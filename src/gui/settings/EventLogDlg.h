#pragma once
// "Event Log": the instrument's event log as the polling thread last fetched it, one list line
// per event, with the count of events, the unit's clock, and a button that sets that clock from
// the PC's. One for the program's run; the polling thread fetches the log on request and the
// main window refreshes the dialog when it has arrived. User-interface thread only.

#include <QDialog>
#include <cstdint>
#include <optional>
#include <string>

#include "core/poll/PollingShared.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTimer;
class QVBoxLayout;

namespace corvane3 {

class CUnitState;

class CEventLogDlg : public QDialog {
    Q_OBJECT
  public:
    // The ChronoBeam's event log (fetched with "D*3"). Both must outlive the dialog.
    CEventLogDlg(CPollingShared& shared, CUnitState& unit, QWidget* parent = nullptr);

    // Shows the unit's clock, and, when the log's event count differs from the count shown
    // last, the count and the list rebuilt from the log.
    void RefreshView();
    // A fresh log has arrived: the next refresh rebuilds the list whatever its count.
    void ForgetShownCount() { lastCount_ = -1; }
    // Sets the unit's clock from the PC's: time ("A07"), then date ("A06"), authorised as a
    // write of this dialog.
    void SetFromPcClock();

  protected:
    CEventLogDlg(CPollingShared& shared, CUnitState& unit, ERequest request,
                 std::string QueryResults::*log, QWidget* parent);
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

    // Empties the list, says the log is being fetched and asks the polling thread for it.
    void RequestLog();
    // The parameter of a write: Factory access for a ChronoBeam, the password when the unit's
    // security is on (nullopt when the prompt is cancelled), else 0.
    std::optional<std::uint32_t> WriteParameter();
    // Where subclasses add buttons of their own, under the others.
    QVBoxLayout* ButtonColumn() const { return buttonColumn_; }

    CPollingShared& shared_;
    CUnitState& unit_;

  private:
    void ShowWaitLines();

    ERequest request_;
    std::string QueryResults::*log_;
    int lastCount_ = -1;
    QListWidget* list_ = nullptr;
    QLineEdit* count_ = nullptr;
    QLabel* clock_ = nullptr;
    QPushButton* setClock_ = nullptr;
    QVBoxLayout* buttonColumn_ = nullptr;
    QTimer* clockTimer_ = nullptr;
};

// The event log of other models ("Event Log", fetched with "D*3") and the ChronoBeam's factory
// event log ("FactoryEvent Log", "D*6"), with a button that erases it on the unit.
class CFactoryEventLogDlg : public CEventLogDlg {
    Q_OBJECT
  public:
    CFactoryEventLogDlg(CPollingShared& shared, CUnitState& unit, QWidget* parent = nullptr);

    // After a confirmation, "W18" erases the unit's log, which is then fetched again.
    void ClearInstrument();

  protected:
    void showEvent(QShowEvent* event) override;
};

}  // namespace corvane3
