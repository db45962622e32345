#pragma once
// The program's main window: the last status record of the connected instrument in read-only
// value boxes, a three-pane status bar and a title naming the unit. It has no timer of its own:
// it redraws when the polling thread posts a notification.

#include <QDialog>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "core/alerts/DesktopAlerts.h"
#include "core/alerts/UnitWatch.h"
#include "core/metrics/ReadingTrendTracker.h"
#include "core/program/Corvane3App.h"
#include "gui/mainwin/MainMenus.h"
#include "gui/spectrum/SpectrumDlg.h"

class QStatusBar;
class QGroupBox;
class QPrinter;

namespace corvane3 {

class CChronoBeamTelecomDlg;
class CCommandSelectDlg;
class CEthernetDlg;
class CAlarmsDlg;
class CCommandSelectDlg;
class CEventLogDlg;
class CFactoryEventLogDlg;
class CPpsSyncDlg;
class CTestDiagnosticsDlg;
class CTimeOfDayDlg;
class CTtlOutputDlg;
class CPlotDlg;
class CSpectrumDlg;
class CPollingThread;
class CQueuedNotificationSink;
class CMonitoringOptionsDlg;
class CSerialSetupDlg;
class CTelemetryRecorder;
class CDesktopNotifier;
class CTraceCommand;
class CTq9000TelecomDlg;
class ITelemetryUi;

// Width the "More" command adds to the window and "Less" takes away.
inline constexpr int kMoreLessWidth = 315;

class CMainStatusDlg : public QDialog {
    Q_OBJECT
  public:
    // notifications carries the polling thread's codes into this window; polling, when given, is
    // started once the window is set up. Both must outlive the window.
    CMainStatusDlg(Corvane3App& app, CQueuedNotificationSink& notifications,
                   CPollingThread* polling, QWidget* parent = nullptr);
    ~CMainStatusDlg() override;

    // Runs the notification code's action.
    void OnNotification(int code);
    // Attached to the logging service: the title and the port pane say so, and records are not
    // written again here.
    void ShowViaService();
    // The way to the unit the person chose instead of this one, the window having closed for
    // it: the logging service's socket to attach to, or "" for the port itself.
    const std::optional<std::string>& ChosenLink() const { return chosenLink_; }
    // Whether the window may offer to attach to a logging service that holds its port (off
    // until set: not after attaching to it failed, nor when nobody is there to answer).
    void SetAttachOffered(bool offered) { attachOffered_ = offered; }
    // Fills the title, status panes and value boxes from the Unit state.
    void Refresh();
    // Runs a menu command by id: the menu code opens every dialog; a dialog gets the shared
    // records it works on through its constructor and knows nothing of this window.
    void RunCommand(int id);
    // True while the value boxes show the last record of a unit that no longer answers: they
    // are greyed until the next record arrives.
    bool ShowsStaleValues() const { return stale_; }

    bool IsMoreView() const { return moreView_; }
    void SetMoreView(bool more);
    CMainMenus& Menus() { return *menus_; }
    // Status pane 0, 1 or 2.
    QLabel* StatusPane(int pane) const { return panes_[pane]; }
    // Prints the window as File > Print does.
    void Print();
    // "N records were not recorded" for the records still queued or dropped; "" for none. For
    // the end of the run, when the window is gone.
    std::string RecordsNotKeptText() const;
    // The Unit Monitoring Options dialog, one for the window's life.
    CMonitoringOptionsDlg& MonitoringOptions() { return *monitoring_; }
    // Replaces the print dialog (tests print to a file without asking).
    void SetPrinterChooser(std::function<std::unique_ptr<QPrinter>(QWidget*)> chooser) {
        printerChooser_ = std::move(chooser);
    }
    // The plot window while it runs, else null.
    CPlotDlg* OpenPlotWindow() const { return plot_; }
    // The spectrum window while it runs, else null.
    CSpectrumDlg* OpenSpectrumWindow() const { return spectrum_; }
    // File > Trace Serial Traffic.
    CTraceCommand& Trace() { return *trace_; }
    // Replaces the window grab of printing (tests look at what would be printed).
    void SetPrintGrabber(std::function<QImage(QWidget*)> grab) { printGrabber_ = std::move(grab); }
    // Where desktop alerts go (the session bus's notification service unless replaced); it
    // must outlive the window.
    void SetDesktopAlertSink(IDesktopAlertSink& sink) { alertSink_ = &sink; }
    // Follows the readings' limits (their boxes coloured while outside, a notification per
    // crossing) and hands the events to the user's program; it must outlive the window.
    // Also follows the limited readings' trends over the file records go to, so that a projected
    // crossing coming near reaches the watch.
    void SetUnitWatch(CUnitWatch& watch);
    // Says the limits file's problems where the user looks: a pane of the status bar (each
    // problem in its tooltip) and one box that does not wait for an answer. None: nothing.
    void ShowLimitsProblems(const std::vector<std::string>& problems);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    QWidget* BuildValueArea();
    QGroupBox* BuildGroup(const QString& title, const std::vector<const struct ValueBox*>& boxes);
    QGroupBox* BuildSignalQualityGroup();
    void AlignColumns(const std::vector<QGroupBox*>& groups);
    void UpdateTitle();
    // The unit's logging service has gone: said in the status bar and in a box that offers to
    // take the port.
    void ShowServiceGone();
    // The port is held by a logging service that serves a control socket: asks once, without
    // waiting for the answer, whether to attach to it.
    void OfferToAttach();
    // A question box that holds nothing while it waits; yes runs when Yes is chosen.
    void AskWithoutWaiting(const QString& name, QMessageBox::Icon icon, const QString& text,
                           std::function<void()> yes);
    // Closes the window for the way to the unit chosen (see ChosenLink).
    void ChooseLink(const std::string& socket);
    // While no unit answers, status pane 1 names the port being tried and why it cannot be
    // opened; a record puts the unit's clock back there.
    void ShowPortPane();
    void SetStale(bool stale);
    // Asks whether Enter or Escape is to end monitoring; true for Yes.
    bool ConfirmStopMonitoring();
    void ShowMessage(const QString& text, const QString& title);
    void ShowHelp();
    void RunSerialSetup();
    void RunCommandSelect();
    void RunInstrumentSerial();
    void RunSecurity();
    void RunTelecom();
    void RunEthernet();
    void RunFactorySettings();
    void RunEventLog(bool factoryLog);
    void RunSettingsDialogs(int id);
    // The unit as the title names it.
    AlertUnit CurrentAlertUnit() const;
    // Hands alert to the desktop unless the user switched desktop notifications off.
    void RaiseAlert(const DesktopAlert& alert);
    // The recorder could not write a record.
    void RecordNotWritten(const std::string& reason);
    // Says in the status bar, after a record, that records are not reaching their file and
    // why, or (failing false) that they are again.
    void ShowRecordingState(bool failing);
    // Colours each limited reading's box by the band it is outside, its bands in the tooltip.
    void ShowLimits();
    // The readings' trends follow the file a record goes to (before it is written) and take
    // the record once written; a projected crossing coming near goes to the watch.
    void FollowTrends(const PostedRecord& record, bool written);
    // The change log follows the data directory.
    void UpdateChangeLogDirectory();
    void RunPlot();
    void RunSpectrum();

    Corvane3App& app_;
    CMainMenus* menus_ = nullptr;
    QWidget* viewport_ = nullptr;
    QWidget* values_ = nullptr;
    QStatusBar* statusBar_ = nullptr;
    QLabel* panes_[3] = {};
    QLabel* supplyLabel_ = nullptr;
    QGroupBox* system24Group_ = nullptr;
    std::map<std::string, QLabel*> valueBoxes_;
    // Labels and units that come and go with their value box.
    std::map<std::string, std::vector<QWidget*>> companions_;
    bool moreView_ = true;
    int wideWidth_ = 0;
    // A record has been shown since the window opened.
    bool recordShown_ = false;
    bool viaService_ = false;    // attached: the logging service polls and records
    bool attachOffered_ = false;  // the offer to attach may still be made
    std::optional<std::string> chosenLink_;
    bool stale_ = false;
    CMonitoringOptionsDlg* monitoring_ = nullptr;
    // Dialogs that live as long as the window, each with the Open flag its menu command holds
    // while it runs; notifications reach them only while it is set.
    CSerialSetupDlg* serialSetup_ = nullptr;
    bool serialSetupOpen_ = false;
    CCommandSelectDlg* commandSelect_ = nullptr;
    bool commandSelectOpen_ = false;
    CTq9000TelecomDlg* tq9000Telecom_ = nullptr;
    bool tq9000TelecomOpen_ = false;
    CChronoBeamTelecomDlg* chronoBeamTelecom_ = nullptr;
    bool chronoBeamTelecomOpen_ = false;
    CEthernetDlg* ethernet_ = nullptr;
    bool ethernetOpen_ = false;
    CAlarmsDlg* alarms_ = nullptr;
    bool alarmsOpen_ = false;
    CEventLogDlg* eventLog_ = nullptr;
    bool eventLogOpen_ = false;
    CFactoryEventLogDlg* factoryEventLog_ = nullptr;
    bool factoryEventLogOpen_ = false;
    CPpsSyncDlg* ppsSync_ = nullptr;
    bool ppsSyncOpen_ = false;
    CTtlOutputDlg* ttlOutput_ = nullptr;
    bool ttlOutputOpen_ = false;
    CTimeOfDayDlg* timeOfDay_ = nullptr;
    bool timeOfDayOpen_ = false;
    CTestDiagnosticsDlg* testDiagnostics_ = nullptr;
    bool testDiagnosticsOpen_ = false;
    CPollingThread* polling_ = nullptr;
    std::unique_ptr<ITelemetryUi> telemetryUi_;
    std::unique_ptr<CTelemetryRecorder> recorder_;
    // Why the last record could not be written, on one line.
    QString recordingProblem_;
    // Which link, alarm and recording events deserve a desktop notification, and where they go.
    CDesktopAlerts alerts_;
    CDesktopNotifier* notifier_ = nullptr;
    IDesktopAlertSink* alertSink_ = nullptr;
    CUnitWatch* watch_ = nullptr;
    std::unique_ptr<CReadingTrendTracker> trends_;
    std::function<std::unique_ptr<QPrinter>(QWidget*)> printerChooser_;
    std::function<QImage(QWidget*)> printGrabber_;
    std::unique_ptr<CTraceCommand> trace_;
    // The plot window while it runs modally; it takes each new status record.
    CPlotDlg* plot_ = nullptr;
    // The spectrum window while it runs modally; it takes the sweep's progress notifications.
    CSpectrumDlg* spectrum_ = nullptr;
    // The offset "Arbitrary DDS Setting" keeps from one spectrum window to the next.
    ArbitraryDdsOffset arbitraryDds_;
};

}  // namespace corvane3
