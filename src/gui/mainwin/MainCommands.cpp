// The main window's menu commands and notification dispatch: the window opens every dialog
// from here, handing it the shared records it works on, and passes the polling thread's
// notifications to the dialogs that are open.

#include <QCoreApplication>
#include <QMessageBox>
#include <algorithm>

#include "core/config/TelemetryPath.h"
#include "core/link/CommandFrame.h"
#include "core/poll/PollingThread.h"
#include "core/telemetry/TelemetryFormat.h"
#include "core/telemetry/TelemetryRecorder.h"
#include "gui/common/HelpDlg.h"
#include "gui/common/TimedMessageDlg.h"
#include "gui/config/MonitoringOptionsDlg.h"
#include "gui/mainwin/MainStatusDlg.h"
#include "gui/mainwin/TraceCommand.h"
#include "gui/plot/PlotDlg.h"
#include "gui/security/AuthorizedCommand.h"
#include "gui/security/SecurityDlg.h"
#include "gui/serial/CommandSelectDlg.h"
#include "gui/serial/InstrumentSerialDlg.h"
#include "gui/serial/SerialSetupDlg.h"
#include "gui/settings/AlarmsDlg.h"
#include "gui/settings/ChronoBeamTelecomDlg.h"
#include "gui/settings/DeltaFDlg.h"
#include "gui/settings/DeltaTDlg.h"
#include "gui/settings/EthernetDlg.h"
#include "gui/settings/EventLogDlg.h"
#include "gui/settings/FactorySettingsDlg.h"
#include "gui/settings/PpsSyncDlg.h"
#include "gui/settings/TestDiagnosticsDlg.h"
#include "gui/settings/TimeOfDayDlg.h"
#include "gui/settings/Tq9000TelecomDlg.h"
#include "gui/settings/TtlOutputDlg.h"
#include "gui/spectrum/SpectrumDlg.h"

namespace corvane3 {

namespace {

// The spectrum window is titled as the main window without the port it names at its end
// (" on COM1" was eight characters; a device path is longer). A title naming no port is cut by
// those eight characters.
constexpr qsizetype kPortSuffixLength = 8;
QString SpectrumWindowTitle(const QString& mainTitle) {
    const qsizetype on = mainTitle.lastIndexOf(QStringLiteral(" on "));
    if (on >= 0) {
        return mainTitle.left(on);
    }
    return mainTitle.left(std::max<qsizetype>(mainTitle.size() - kPortSuffixLength, 0));
}

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

void CMainStatusDlg::SetUnitWatch(CUnitWatch& watch) {
    watch_ = &watch;
    trends_ = watch.Limits().Limits().empty()
                  ? nullptr
                  : std::make_unique<CReadingTrendTracker>(watch.Limits().Limits());
}

void CMainStatusDlg::FollowTrends(const PostedRecord& record, bool written) {
    if (trends_ == nullptr) {
        return;
    }
    if (!written) {
        // Before the record is written: a file the trends do not follow yet is read without it.
        const TelemetryPath where =
            TelemetryFilePath(app_.settings, static_cast<long>(record.data.d1.serialNumber));
        if (where.status == ETelemetryPathStatus::kReady) {
            trends_->Follow(TelemetryFileForModel(where.path, record.model));
        }
        return;
    }
    trends_->Add(TelemetryRecordLine(record.data, record.model), record.model);
    watch_->Projections(trends_->Projections(), record.data.mjd, CurrentAlertUnit());
}

void CMainStatusDlg::OnNotification(int code) {
    switch (code) {
        case kNotifyStatusRecord: {
            Refresh();
            const PostedRecord record = app_.unitState.TakeRecord();
            const D1Record& d1 = record.data.d1;
            for (const DesktopAlert& alert :
                 alerts_.StatusRecord({d1.alarm1, d1.alarm2, d1.alarm3, d1.alarm4, d1.alarm5},
                                      d1.state, CurrentAlertUnit())) {
                RaiseAlert(alert);
            }
            if (watch_ != nullptr) {
                for (const LimitCrossing& crossing :
                     watch_->StatusRecord(record.data, record.model, CurrentAlertUnit())) {
                    if (const auto alert = ReadingLimitAlert(crossing, CurrentAlertUnit())) {
                        RaiseAlert(*alert);
                    }
                }
                ShowLimits();
            }
            if (alarmsOpen_) {
                alarms_->RefreshView();
            }
            recordShown_ = true;
            SetStale(false);
            if (plot_) {
                plot_->OnNewRecord(record.data);
            }
            // A failure reaches RecordNotWritten; a written record, or recording switched
            // off, ends a run of failures.
            if (app_.settings.RecordDataFile) {
                FollowTrends(record, false);
            }
            // Attached, the logging service has recorded it already.
            if (!app_.settings.RecordDataFile || viaService_ ||
                recorder_->WriteTelemetryRecord(record.data, record.model, app_.settings) ==
                    ETelemetryWriteResult::kWritten) {
                alerts_.RecordingFine();
                if (watch_ != nullptr) {
                    watch_->Recording(true, {}, CurrentAlertUnit());
                    if (app_.settings.RecordDataFile) {
                        FollowTrends(record, true);
                    }
                }
                ShowRecordingState(false);
            } else {
                ShowRecordingState(true);
            }
            break;
        }
        case kNotifySweepProgress:
            // Progress reaches the spectrum window only while it is open.
            if (spectrum_) {
                spectrum_->OnSweepProgress();
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
                        : serialSetup_->SearchCancelled()
                            ? QStringLiteral("Search cancelled.")
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
        case kNotifyTelecomFetched:
            if (tq9000TelecomOpen_) {
                tq9000Telecom_->FillFromUnit();
            }
            break;
        case kNotifyEthernetFetched:
            if (ethernetOpen_) {
                ethernet_->FillFromUnit();
            }
            break;
        case kNotifyDiagnosticLine:
        case kNotifyDiagnosticsDone:
            // A test line is in the Response buffer; a command's reply may be overwritten there
            // by the first test line before this runs, so it is taken from its own copy.
            if (testDiagnosticsOpen_) {
                testDiagnostics_->AddReply(code == kNotifyDiagnosticLine
                                               ? app_.polling.Response.Get()
                                               : app_.polling.CommandReply.Get());
            }
            break;
        case kNotifyEventLogFetched:
            eventLog_->ForgetShownCount();
            if (eventLogOpen_) {
                eventLog_->RefreshView();
            }
            break;
        case kNotifyFactoryEventLogFetched:
            factoryEventLog_->ForgetShownCount();
            if (factoryEventLogOpen_) {
                factoryEventLog_->RefreshView();
            }
            break;
        case kNotifyUnitDateTimeFetched:
            if (factoryEventLogOpen_) {
                factoryEventLog_->RefreshView();
            }
            if (eventLogOpen_) {
                eventLog_->RefreshView();
            }
            break;
        case kNotifyTimeOfDayFetched:
            if (timeOfDayOpen_) {
                timeOfDay_->RefreshClock();
            }
            break;
        case kNotifyChangeLogFailed:
            if (polling_ != nullptr) {
                const std::string failure = polling_->ChangeLog().TakeFirstFailure();
                if (!failure.empty()) {
                    ShowMessage(QString::fromStdString(failure), QStringLiteral("Change Log"));
                }
            }
            break;
        case kNotifyLinkStatusChanged: {
            panes_[0]->setText(QString::fromStdString(app_.linkStatus.Text()));
            const bool online = app_.unitState.Online;
            if (const auto alert = alerts_.LinkState(online, CurrentAlertUnit())) {
                RaiseAlert(*alert);
            }
            if (watch_ != nullptr) {
                watch_->LinkState(online, CurrentAlertUnit());
            }
            // A unit that stopped answering leaves its last values greyed until the next record.
            if (!online) {
                SetStale(true);
                UpdateTitle();
                ShowPortPane();
            }
            break;
        }
        case kNotifyServiceGone:
            ShowServiceGone();
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
            UpdateChangeLogDirectory();
            break;
        case kCmdPrint:
            Print();
            break;
        case kCmdTrace:
            trace_->Toggle(this, QString::fromStdString(
                                     CleanTelemetryDirectory(app_.settings.DatafileDirectory)));
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
        case kCmdTelecom:
            RunTelecom();
            break;
        case kCmdEthernet:
            RunEthernet();
            break;
        case kCmdFactorySettings:
            RunFactorySettings();
            break;
        case kCmdAlarms:
        case kCmdEventLog:
        case kCmdFactoryEventLog:
        case kCmdDeltaF:
        case kCmdDeltaT:
        case kCmdSyncPps:
        case kCmdTtlOutput:
        case kCmdTimeOfDay:
        case kCmdTestDiagnostics:
            RunSettingsDialogs(id);
            break;
        case kCmdPlot:
            RunPlot();
            break;
        case kCmdSpectrum:
            RunSpectrum();
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
    // The unit's telemetry file, where the recorder writes it, is the window's history: the
    // file of the unit's own model where the recorder has diverted its records.
    std::string initialFile;
    if (app_.settings.RecordDataFile) {
        const TelemetryPath where = TelemetryFilePath(
            app_.settings, static_cast<long>(app_.unitState.Snapshot().d1.serialNumber));
        const std::int32_t model = app_.unitState.InstrumentModel;
        if (where.status == ETelemetryPathStatus::kReady) {
            initialFile = model == kModelBeforeIdentification
                              ? where.path
                              : TelemetryFileForModel(where.path, model);
        }
    }
    CPlotDlg window({app_.settings, app_.unitState.InstrumentModel, app_.BrandName(),
                     watch_ != nullptr ? watch_->Limits().Limits() : std::vector<ReadingLimit>()},
                    initialFile, false);
    plot_ = &window;
    window.exec();
    plot_ = nullptr;
}

void CMainStatusDlg::RunSpectrum() {
    if (!app_.unitState.Online) {
        ShowMessage(QStringLiteral("Cesium instrument not detected."), QStringLiteral("Corvane3"));
        return;
    }
    const ESweepMode mode =
        app_.unitState.Snapshot().instrumentSweep ? ESweepMode::kInstrument : ESweepMode::kHost;
    if (mode == ESweepMode::kHost) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Warning - creating reboot scenario"),
                        QStringLiteral("Proceeding with spectrum will ultimately necessitate CFS "
                                       "reboot."),
                        QMessageBox::Ok | QMessageBox::Cancel, this);
        if (box.exec() != QMessageBox::Ok) {
            return;
        }
    }
    const QString title = SpectrumWindowTitle(windowTitle());
    CSpectrumDlg window({app_.spectrum, app_.settings, app_.unitState}, mode, title, arbitraryDds_,
                        this);
    spectrum_ = &window;
    window.exec();
    spectrum_ = nullptr;
}

void CMainStatusDlg::RunCommandSelect() {
    RunWithOpenFlag(*commandSelect_, commandSelectOpen_);
}

void CMainStatusDlg::RunInstrumentSerial() {
    app_.polling.SetRequest(ERequest::kSecurityCheck);
    CInstrumentSerialDlg dialog(app_.rs232Settings, app_.polling, app_.unitState, {}, this);
    dialog.exec();
}

void CMainStatusDlg::RunSecurity() {
    app_.polling.SetRequest(ERequest::kSecurityCheck);
    CSecurity dialog(app_.polling, this);
    if (dialog.exec() == QDialog::Accepted) {
        ShowNotification(QStringLiteral("Security Modified"), QStringLiteral("Security Settings"),
                         this);
    }
}

void CMainStatusDlg::RunTelecom() {
    app_.polling.SetRequest(ERequest::kSecurityCheck);
    int result = QDialog::Rejected;
    if (app_.unitState.InstrumentModel == kModelTq9000) {
        app_.polling.SetRequest(ERequest::kDccTelecom);
        result = RunWithOpenFlag(*tq9000Telecom_, tq9000TelecomOpen_);
    } else {
        result = RunWithOpenFlag(*chronoBeamTelecom_, chronoBeamTelecomOpen_);
    }
    ShowNotification(result == QDialog::Accepted
                         ? QStringLiteral("Telecom Output Configuration Modified")
                         : QStringLiteral("Telecom Output Configuration NOT modified"),
                     QStringLiteral("Telecom Output Notification"), this);
}

void CMainStatusDlg::RunEthernet() {
    app_.polling.SetRequest(ERequest::kEthernet);
    if (RunWithOpenFlag(*ethernet_, ethernetOpen_) == QDialog::Accepted) {
        ShowNotification(QStringLiteral("Ethernet settings modified"),
                         QStringLiteral("Ethernet Notification"), this);
    }
}

void CMainStatusDlg::RunFactorySettings() {
    CFactorySettingsDlg dialog(app_.polling, app_.unitState, this);
    if (dialog.exec() == QDialog::Accepted) {
        ShowNotification(QStringLiteral("Factory Settings modified"),
                         QStringLiteral("Factory Settings Notification"), this);
    }
}

void CMainStatusDlg::UpdateChangeLogDirectory() {
    if (polling_ != nullptr) {
        polling_->ChangeLog().SetDirectory(app_.settings.DatafileDirectory);
    }
}

void CMainStatusDlg::RunEventLog(bool factoryLog) {
    const ERequest log = factoryLog ? ERequest::kFactoryEventLog : ERequest::kEventLog;
    app_.polling.SetRequest(ERequest::kSecurityCheck);
    app_.polling.SetRequest(log);
    app_.polling.SetRequest(ERequest::kDateAndTime);
    if (factoryLog) {
        RunWithOpenFlag(*factoryEventLog_, factoryEventLogOpen_);
    } else {
        RunWithOpenFlag(*eventLog_, eventLogOpen_);
    }
    app_.polling.ClearRequest(log);
    app_.polling.ClearRequest(ERequest::kDateAndTime);
}

void CMainStatusDlg::RunSettingsDialogs(int id) {
    const std::int32_t model = app_.unitState.InstrumentModel;
    const auto notifyOn = [this](int result, const char* text, const char* title) {
        if (result == QDialog::Accepted) {
            ShowNotification(QString::fromLatin1(text), QString::fromLatin1(title), this);
        }
    };
    switch (id) {
        case kCmdAlarms:
            notifyOn(RunWithOpenFlag(*alarms_, alarmsOpen_), "Reset Alarm Strategy modified",
                     "Alarm Settings");
            break;
        case kCmdEventLog:
            // Only the ChronoBeam keeps two logs; other models show their one log in the
            // dialog that can erase it.
            RunEventLog(model != kModelChronoBeam);
            break;
        case kCmdFactoryEventLog:
            RunEventLog(true);
            break;
        case kCmdDeltaF: {
            CDeltaFDlg dialog(app_.polling, app_.unitState, this);
            notifyOn(dialog.exec(), "Output Frequency modified", "Delta-F Notification");
            break;
        }
        case kCmdDeltaT: {
            CDeltaTDlg dialog(app_.polling, app_.unitState, this);
            notifyOn(dialog.exec(), "Phase-slewing operation in progress", "Delta-T Notification");
            break;
        }
        case kCmdSyncPps:
            if (model == kModel7750 || model == kModelTq9000) {
                RunWithOpenFlag(*ppsSync_, ppsSyncOpen_);
            }
            break;
        case kCmdTtlOutput:
            notifyOn(RunWithOpenFlag(*ttlOutput_, ttlOutputOpen_), "TTL Output Frequency Changed",
                     "TTL Output Notification");
            break;
        case kCmdTimeOfDay:
            RunWithOpenFlag(*timeOfDay_, timeOfDayOpen_);
            break;
        case kCmdTestDiagnostics:
            RunWithOpenFlag(*testDiagnostics_, testDiagnosticsOpen_);
            break;
        default:
            break;
    }
}

void CMainStatusDlg::ShowHelp() {
    CHelpDlg help(this);
    help.exec();
}

}  // namespace corvane3
