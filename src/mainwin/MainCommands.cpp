// The main window's menu commands and notification dispatch: the window opens every dialog
// from here, handing it the shared records it works on, and passes the polling thread's
// notifications to the dialogs that are open.

#include <QCoreApplication>
#include <QMessageBox>

#include "app/MonitoringOptionsDlg.h"
#include "link/CommandFrame.h"
#include "link/CommandSelectDlg.h"
#include "link/InstrumentSerialDlg.h"
#include "link/SerialSetupDlg.h"
#include "mainwin/HelpDlg.h"
#include "mainwin/MainStatusDlg.h"
#include "plot/PlotDlg.h"
#include "poll/AuthorizedCommand.h"
#include "poll/SecurityDlg.h"
#include "telemetry/TelemetryPath.h"
#include "telemetry/TelemetryRecorder.h"
#include "widgets/TimedMessageDlg.h"

namespace corvane3 {

namespace {

// Runs dialog modally with open held true meanwhile.
int RunWithOpenFlag(QDialog& dialog, bool& open) {
    open = true;
    const int result = dialog.exec();
    open = false;
    return result;
}

}  // namespace

void CMainStatusDlg::ShowMessage(const QString& text, const QString& title) {
    QMessageBox box(QMessageBox::Information, title, text, QMessageBox::Ok, this);
    box.exec();
}

void CMainStatusDlg::OnNotification(int code) {
    switch (code) {
        case kNotifyStatusRecord:
            Refresh();
            recordShown_ = true;
            SetStale(false);
            if (plot_) {
                plot_->OnNewRecord(app_.unitState.Snapshot());
            }
            if (app_.settings.RecordDataFile) {
                recorder_->WriteTelemetryRecord(app_.unitState.Snapshot(),
                                                app_.unitState.InstrumentModel, app_.settings);
            }
            break;
        case kNotifyCatalogueReply:
            if (commandSelectOpen_) {
                commandSelect_->ShowReply();
            }
            break;
        case kNotifyAutoDetectProgress:
        case kNotifyAutoDetectFound:
        case kNotifyAutoDetectNotFound:
            if (serialSetupOpen_) {
                serialSetup_->LoadFromPort();
                serialSetup_->ShowSearchProgress();
            }
            if (code == kNotifyAutoDetectProgress) {
                break;
            }
            serialSetup_->EndScanning();
            ShowMessage(code == kNotifyAutoDetectFound
                            ? QStringLiteral("Cesium instrument located...")
                            : QStringLiteral("Cesium instrument not detected..."),
                        QStringLiteral("Scan Status"));
            break;
        case kNotifyPpsSyncDone: {
            const std::string reply = app_.polling.CommandReply.Get();
            const bool completed = reply.rfind(std::string(1, kStx) + "W22 ", 0) == 0;
            ShowMessage(
                QStringLiteral("Sync Complete\n Status = ") +
                    (completed ? QStringLiteral("Completed") : QStringLiteral("Did Not Complete")),
                QStringLiteral("Command Status"));
            break;
        }
        case kNotifyLinkStatusChanged:
            panes_[0]->setText(QString::fromStdString(app_.linkStatus.Text()));
            // A unit that stopped answering leaves its last values greyed until the next record.
            if (!app_.unitState.Online) {
                SetStale(true);
                UpdateTitle();
            }
            break;
        case kNotifyCommandWithdrawn:
            // A sender still waiting on the command tells the user itself.
            if (!IsSenderWaiting()) {
                ShowCommandWithdrawn(app_.polling.mailbox.LastWithdrawnCode(),
                                     CommandSenderOr(this));
            }
            break;
        default:
            break;
    }
}

void CMainStatusDlg::RunCommand(int id) {
    switch (id) {
        case kCmdSerialPort:
            RunSerialSetup();
            break;
        case kCmdMonitoring:
            monitoring_->exec();
            break;
        case kCmdPrint:
            Print();
            break;
        case kCmdExit:
            accept();
            break;
        case kCmdMore:
            SetMoreView(true);
            break;
        case kCmdLess:
            SetMoreView(false);
            break;
        case kCmdRs232:
            RunInstrumentSerial();
            break;
        case kCmdSecurity:
            RunSecurity();
            break;
        case kCmdSelectCommand:
            RunCommandSelect();
            break;
        case kCmdPlot:
            RunPlot();
            break;
        case kCmdHelpTopics:
            ShowHelp();
            break;
        case kCmdAbout:
            QMessageBox::about(this, QStringLiteral("About Corvane3"),
                               QStringLiteral("Corvane3 %1\nMonitor and control of a cesium-beam "
                                              "frequency standard.")
                                   .arg(QCoreApplication::applicationVersion()));
            break;
        default:
            break;
    }
}

void CMainStatusDlg::RunSerialSetup() {
    RunWithOpenFlag(*serialSetup_, serialSetupOpen_);
}

void CMainStatusDlg::RunPlot() {
    // The unit's telemetry file, where the recorder writes it, is the window's history.
    std::string initialFile;
    if (app_.settings.RecordDataFile) {
        const TelemetryPath where = TelemetryFilePath(
            app_.settings, static_cast<long>(app_.unitState.Snapshot().d1.serialNumber));
        if (where.status == TelemetryPathStatus::kReady) {
            initialFile = where.path;
        }
    }
    CPlotDlg window({app_.settings, app_.unitState.InstrumentModel, app_.BrandName()},
                    initialFile, false);
    plot_ = &window;
    window.exec();
    plot_ = nullptr;
}

void CMainStatusDlg::RunCommandSelect() {
    RunWithOpenFlag(*commandSelect_, commandSelectOpen_);
}

void CMainStatusDlg::RunInstrumentSerial() {
    app_.polling.SetRequest(Request::kSecurityCheck);
    CInstrumentSerialDlg dialog(app_.rs232Settings, app_.polling, app_.unitState, {}, this);
    dialog.exec();
}

void CMainStatusDlg::RunSecurity() {
    app_.polling.SetRequest(Request::kSecurityCheck);
    CSecurity dialog(app_.polling, this);
    if (dialog.exec() == QDialog::Accepted) {
        ShowNotification(QStringLiteral("Security Modified"), QStringLiteral("Security Settings"),
                         this);
    }
}

void CMainStatusDlg::ShowHelp() {
    CHelpDlg help(this);
    help.exec();
}

}  // namespace corvane3
