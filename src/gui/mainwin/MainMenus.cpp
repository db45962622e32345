#include "gui/mainwin/MainMenus.h"

#include <QActionGroup>

#include "core/link/UnitState.h"

namespace corvane3 {

CMainMenus::CMainMenus(QMenuBar* bar) : QObject(bar) {
    file_ = bar->addMenu(QStringLiteral("&File"));
    Add(file_, kCmdSerialPort, QStringLiteral("Configure &Serial Port"));
    Add(file_, kCmdMonitoring, QStringLiteral("Configure Unit &Monitoring"));
    Add(file_, kCmdPrint, QStringLiteral("&Print..."));
    Add(file_, kCmdTrace, QStringLiteral("&Trace Serial Traffic..."));
    file_->addSeparator();
    Add(file_, kCmdExit, QStringLiteral("E&xit"));

    view_ = bar->addMenu(QStringLiteral("&View"));
    auto* layoutGroup = new QActionGroup(this);
    layoutGroup->addAction(Add(view_, kCmdMore, QStringLiteral("More")))->setCheckable(true);
    layoutGroup->addAction(Add(view_, kCmdLess, QStringLiteral("Less")))->setCheckable(true);
    view_->addSeparator();
    Add(view_, kCmdAlarms, QStringLiteral("&Alarms..."));
    Add(view_, kCmdEventLog, QStringLiteral("&Event Log..."));
    Add(view_, kCmdPlot, QStringLiteral("&Plot..."));
    Add(view_, kCmdSpectrum, QStringLiteral("&Spectrum..."));
    Add(view_, kCmdFactoryEventLog, QStringLiteral("&Factory Event Log..."));

    outputs_ = bar->addMenu(QStringLiteral("&Outputs"));
    Add(outputs_, kCmdDeltaF, QStringLiteral("Delta-&F..."));
    Add(outputs_, kCmdDeltaT, QStringLiteral("Delta-&T..."));
    Add(outputs_, kCmdSyncPps, QStringLiteral("&Synchronize 1pps..."));
    Add(outputs_, kCmdTelecom, QStringLiteral("Configure Telecom Outputs..."));
    Add(outputs_, kCmdTtlOutput, QStringLiteral("Configure TTL Output..."));

    system_ = bar->addMenu(QStringLiteral("&System"));
    Add(system_, kCmdRs232, QStringLiteral("&RS-232..."));
    Add(system_, kCmdSecurity, QStringLiteral("&Security"));
    Add(system_, kCmdEthernet, QStringLiteral("&Ethernet Settings..."));
    Add(system_, kCmdTimeOfDay, QStringLiteral("&Time of Day..."));
    Add(system_, kCmdFactorySettings, QStringLiteral("&Factory Settings..."));
    Add(system_, kCmdTestDiagnostics, QStringLiteral("Test and &Diagnostics..."));
    Add(system_, kCmdSelectCommand, QStringLiteral("Select A &Command..."));

    help_ = bar->addMenu(QStringLiteral("&Help"));
    Add(help_, kCmdHelpTopics, QStringLiteral("Help Topics"));
    help_->addSeparator();
    Add(help_, kCmdAbout, QStringLiteral("&About Corvane3..."));
}

QAction* CMainMenus::Add(QMenu* menu, int id, const QString& text) {
    QAction* action = menu->addAction(text);
    action->setObjectName(QStringLiteral("command%1").arg(id));
    actions_[id] = action;
    connect(action, &QAction::triggered, this, [this, id] { emit Command(id); });
    return action;
}

void CMainMenus::Remove(QMenu* menu, std::initializer_list<int> ids) {
    for (int id : ids) {
        menu->removeAction(actions_.at(id));
    }
}

void CMainMenus::Append(QMenu* menu, int id, const QString& text) {
    QAction* action = actions_.at(id);
    action->setText(text);
    menu->addAction(action);
}

void CMainMenus::ComposeMenus(int model) {
    Remove(outputs_, {kCmdTelecom, kCmdSyncPps, kCmdTtlOutput, kCmdDeltaF, kCmdDeltaT});
    if (model == kModelChronoBeam) {
        // Brought back when another model had removed it earlier in this run.
        if (!view_->actions().contains(actions_.at(kCmdFactoryEventLog))) {
            Append(view_, kCmdFactoryEventLog, QStringLiteral("&Factory Event Log..."));
        }
        Append(outputs_, kCmdDeltaF, QStringLiteral("Delta-F..."));
        Append(outputs_, kCmdDeltaT, QStringLiteral("Delta-T..."));
        Append(outputs_, kCmdTelecom, QStringLiteral("Configure Telecom Outputs..."));
        Remove(system_, {kCmdTimeOfDay, kCmdFactorySettings, kCmdEthernet, kCmdTestDiagnostics,
                         kCmdSelectCommand, kCmdSecurity});
        Append(system_, kCmdSecurity, QStringLiteral("&Security..."));
        Append(system_, kCmdFactorySettings, QStringLiteral("&Factory Settings..."));
    } else {
        Remove(view_, {kCmdFactoryEventLog});
        // Only the models that have them; an unknown code gets none.
        if (model == kModel7750 || model == kModel7730B || model == kModelTq9000) {
            Append(outputs_, kCmdDeltaF, QStringLiteral("Delta-F..."));
            Append(outputs_, kCmdDeltaT, QStringLiteral("Delta-T..."));
        }
        if (model == kModel7750 || model == kModelTq9000) {
            Append(outputs_, kCmdSyncPps, QStringLiteral("Synchronize 1PPS..."));
        }
        if (model == kModel7730B) {
            Append(outputs_, kCmdTtlOutput, QStringLiteral("Configure TTL Output..."));
        }
        if (model == kModelTq9000) {
            Append(outputs_, kCmdTelecom, QStringLiteral("Configure Telecom Outputs..."));
        }
        Remove(system_,
               {kCmdTimeOfDay, kCmdEthernet, kCmdTestDiagnostics, kCmdSelectCommand, kCmdSecurity});
        if (model == kModelTq9000) {
            Append(system_, kCmdEthernet, QStringLiteral("Ethernet..."));
            Append(system_, kCmdTimeOfDay, QStringLiteral("Time of Day..."));
        }
    }
    // A doubled ampersand shows as one "&".
    Append(system_, kCmdTestDiagnostics, QStringLiteral("Test && Diagnostics..."));
    Append(system_, kCmdSelectCommand, QStringLiteral("Select a command..."));
}

}  // namespace corvane3
