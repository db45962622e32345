#include "gui/settings/EventLogDlg.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>
#include <ctime>

#include "core/link/CommandCodes.h"
#include "core/link/Notification.h"
#include "core/link/UnitState.h"
#include "core/settings/SettingsText.h"
#include "gui/common/WholeTitle.h"
#include "gui/settings/SettingsCommand.h"
#include "gui/settings/SettingsDialogs.h"

namespace corvane3 {

namespace {

// How often the unit's clock is asked for while the dialog is open.
constexpr int kClockPeriodMs = 5000;
// Wide enough for an event line without scrolling sideways.
constexpr int kListWidthCharacters = 72;
constexpr int kListHeightLines = 16;
const QString kTitle = QStringLiteral("Event Log Notification");

}  // namespace

CEventLogDlg::CEventLogDlg(CPollingShared& shared, CUnitState& unit, QWidget* parent)
    : CEventLogDlg(shared, unit, ERequest::kEventLog, &QueryResults::eventLog, parent) {
    setWindowTitle(QStringLiteral("Event Log"));
    KeepTitleWhole(*this);
}

CEventLogDlg::CEventLogDlg(CPollingShared& shared, CUnitState& unit, ERequest request,
                           std::string QueryResults::*log, QWidget* parent)
    : QDialog(parent), shared_(shared), unit_(unit), request_(request), log_(log) {
    setObjectName(QStringLiteral("eventLogDialog"));
    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("eventList"));
    QFont fixed(QStringLiteral("Monospace"));
    fixed.setStyleHint(QFont::TypeWriter);
    list_->setFont(fixed);
    const QFontMetrics metrics(fixed);
    list_->setMinimumSize(metrics.averageCharWidth() * kListWidthCharacters,
                          metrics.height() * kListHeightLines);

    count_ = new QLineEdit(this);
    count_->setObjectName(QStringLiteral("eventCount"));
    count_->setReadOnly(true);
    auto* refresh = new QPushButton(QStringLiteral("Refresh View"), this);
    refresh->setObjectName(QStringLiteral("refreshView"));
    clock_ = new QLabel(this);
    clock_->setObjectName(QStringLiteral("unitClock"));
    clock_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    auto* clockGroup = new QGroupBox(QStringLiteral("Event Log Clock"), this);
    auto* clockColumn = new QVBoxLayout(clockGroup);
    setClock_ = new QPushButton(QStringLiteral("Set from PC Clock"), this);
    setClock_->setObjectName(QStringLiteral("setFromPcClock"));
    clockColumn->addWidget(clock_);
    clockColumn->addWidget(setClock_);
    auto* close = new QPushButton(QStringLiteral("Cancel"), this);
    close->setObjectName(QStringLiteral("cancel"));
    for (QPushButton* button : {refresh, setClock_, close}) {
        button->setAutoDefault(false);
    }

    buttonColumn_ = new QVBoxLayout;
    auto* countRow = new QHBoxLayout;
    countRow->addWidget(new QLabel(QStringLiteral("Event Count"), this));
    countRow->addWidget(count_);
    buttonColumn_->addLayout(countRow);
    buttonColumn_->addWidget(refresh);
    buttonColumn_->addWidget(clockGroup);
    buttonColumn_->addStretch(1);
    buttonColumn_->addWidget(close);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(list_, 1);
    layout->addLayout(buttonColumn_);

    clockTimer_ = new QTimer(this);
    clockTimer_->setInterval(kClockPeriodMs);
    connect(clockTimer_, &QTimer::timeout, this,
            [this] { shared_.SetRequest(ERequest::kDateAndTime); });
    connect(refresh, &QPushButton::clicked, this, &CEventLogDlg::RequestLog);
    connect(setClock_, &QPushButton::clicked, this, &CEventLogDlg::SetFromPcClock);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
}

void CEventLogDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) {
        return;
    }
    setClock_->setVisible(unit_.InstrumentModel != kModelTq9000);
    RefreshView();
    ShowWaitLines();
    clockTimer_->start();
}

void CEventLogDlg::hideEvent(QHideEvent* event) {
    clockTimer_->stop();
    QDialog::hideEvent(event);
}

void CEventLogDlg::ShowWaitLines() {
    list_->clear();
    list_->addItems(
        {QStringLiteral("Retrieving Event Log from instrument"), QStringLiteral("Please wait...")});
}

void CEventLogDlg::RequestLog() {
    ShowWaitLines();
    shared_.SetRequest(request_);
}

void CEventLogDlg::RefreshView() {
    const std::string log = shared_.Results.Snapshot().*log_;
    if (!log.empty()) {
        const int count = EventCount(log);
        if (count != lastCount_) {
            lastCount_ = count;
            count_->setText(QString::number(count));
            list_->clear();
            for (const std::string& line : EventLogLines(log)) {
                list_->addItem(FromUnitText(line));
            }
        }
    }
    clock_->setText(FromUnitText(unit_.Snapshot().timeText));
}

std::optional<std::uint32_t> CEventLogDlg::WriteParameter() {
    return ProtectedCommandParameter(shared_, unit_, this);
}

void CEventLogDlg::SetFromPcClock() {
    if (shared_.mailbox.IsPending()) {
        return;
    }
    const std::optional<std::uint32_t> parameter = WriteParameter();
    if (!parameter) {
        return;
    }
    // Read after the password prompt, which may stay open for a while.
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const MailboxCommand time{.code = CommandCode(ECommand::kSetTime),
                              .data = UnitTimeArgument(local),
                              .parameter = *parameter,
                              .replyLimit = ReplyLimit(ECommand::kSetTime),
                              .notificationCode = kNotifyTimeSet};
    if (!SendConfirmedCommand(shared_, unit_, time, EAuthorisation::kNone, kTitle, this)) {
        return;
    }
    // The date is read afresh: a time set just before midnight is followed by the new day's
    // date, which is the day the unit's clock has reached by then.
    now = std::time(nullptr);
    localtime_r(&now, &local);
    const MailboxCommand date{.code = CommandCode(ECommand::kSetDate),
                              .data = UnitDateArgument(local),
                              .parameter = *parameter,
                              .replyLimit = ReplyLimit(ECommand::kSetDate),
                              .notificationCode = kNotifyDateSet};
    if (SendConfirmedCommand(shared_, unit_, date, EAuthorisation::kNone, kTitle, this)) {
        shared_.SetRequest(ERequest::kDateAndTime);
    }
}

CFactoryEventLogDlg::CFactoryEventLogDlg(CPollingShared& shared, CUnitState& unit, QWidget* parent)
    : CEventLogDlg(shared, unit, ERequest::kFactoryEventLog, &QueryResults::factoryEventLog,
                   parent) {
    setObjectName(QStringLiteral("factoryEventLogDialog"));
    auto* clear = new QPushButton(QStringLiteral("Clear Instrument"), this);
    clear->setObjectName(QStringLiteral("clearInstrument"));
    clear->setAutoDefault(false);
    // Above the stretch and "Cancel".
    ButtonColumn()->insertWidget(ButtonColumn()->count() - 2, clear);
    connect(clear, &QPushButton::clicked, this, &CFactoryEventLogDlg::ClearInstrument);
}

void CFactoryEventLogDlg::showEvent(QShowEvent* event) {
    // Other models show their one log here, under its plain name.
    setWindowTitle(unit_.InstrumentModel == kModelChronoBeam ? QStringLiteral("FactoryEvent Log")
                                                             : QStringLiteral("Event Log"));
    CEventLogDlg::showEvent(event);
}

void CFactoryEventLogDlg::ClearInstrument() {
    QMessageBox confirm(QMessageBox::Question, QStringLiteral("Confirm Erase Event Log"),
                        QStringLiteral("Are you sure you want to clear all events from the "
                                       "cesium instrument non-volatile memory?"),
                        QMessageBox::Ok | QMessageBox::Cancel, this);
    // Escape and closing the box answer Cancel as the button does.
    if (confirm.exec() == QMessageBox::Cancel || shared_.mailbox.IsPending()) {
        return;
    }
    const std::optional<std::uint32_t> parameter = WriteParameter();
    if (!parameter) {
        return;
    }
    const MailboxCommand clear{.code = CommandCode(ECommand::kClearEventLog),
                               .parameter = *parameter,
                               .replyLimit = ReplyLimit(ECommand::kClearEventLog)};
    SendConfirmedCommand(shared_, unit_, clear, EAuthorisation::kNone, kTitle, this);
    RequestLog();
}

}  // namespace corvane3
