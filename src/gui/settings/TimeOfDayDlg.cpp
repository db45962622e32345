#include "gui/settings/TimeOfDayDlg.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>
#include <ctime>

#include "core/link/CommandCodes.h"
#include "core/poll/PollingShared.h"
#include "core/settings/SettingsText.h"
#include "gui/common/DialogButtonRow.h"
#include "gui/common/HeldInputWait.h"
#include "gui/common/WholeTitle.h"
#include "gui/settings/SettingsCommand.h"

namespace corvane3 {

namespace {

constexpr int kClockPeriodMs = 1000;
constexpr std::int32_t kSecondsPerHour = 3600;
constexpr int kClockPixelSize = 22;
const QString kTitle = QStringLiteral("Time of Day Notification");

}  // namespace

CTimeOfDayDlg::CTimeOfDayDlg(CPollingShared& shared, const CUnitState& unit, QWidget* parent)
    : QDialog(parent), shared_(shared), unit_(unit) {
    setWindowTitle(QStringLiteral("Tq9000 Time-Of-Day Clock"));
    setObjectName(QStringLiteral("timeOfDayDialog"));
    clock_ = new QLineEdit(this);
    clock_->setObjectName(QStringLiteral("clock"));
    clock_->setReadOnly(true);
    clock_->setAlignment(Qt::AlignCenter);
    QFont clockFont(QStringLiteral("Arial"));
    clockFont.setPixelSize(kClockPixelSize);
    clockFont.setBold(true);
    clock_->setFont(clockFont);
    clock_->setMinimumWidth(
        clock_->fontMetrics().horizontalAdvance(QStringLiteral("Wed Sep 30 00:00:00 2026  ")));

    auto* adjust = new QGroupBox(QStringLiteral("Adjust"), this);
    auto* grid = new QGridLayout(adjust);
    const struct {
        const char* label;
        const char* plus;
        const char* minus;
        std::int32_t step;
    } rows[] = {{"Hours", "hoursPlus", "hoursMinus", kSecondsPerHour},
                {"Seconds", "secondsPlus", "secondsMinus", 1}};
    int row = 0;
    for (const auto& r : rows) {
        grid->addWidget(new QLabel(QString::fromLatin1(r.label), adjust), row, 0);
        auto* plus = new QPushButton(QStringLiteral("+"), adjust);
        auto* minus = new QPushButton(QStringLiteral("-"), adjust);
        plus->setObjectName(QString::fromLatin1(r.plus));
        minus->setObjectName(QString::fromLatin1(r.minus));
        for (QPushButton* button : {plus, minus}) {
            button->setAutoDefault(false);
        }
        grid->addWidget(plus, row, 1);
        grid->addWidget(minus, row, 2);
        const std::int32_t step = r.step;
        connect(plus, &QPushButton::clicked, this, [this, step] { Adjust(step); });
        connect(minus, &QPushButton::clicked, this, [this, step] { Adjust(-step); });
        ++row;
    }

    auto* fromPc = new QGroupBox(QStringLiteral("Set Time of Day from PC"), this);
    auto* fromPcRow = new QHBoxLayout(fromPc);
    zone_ = new QComboBox(fromPc);
    zone_->setObjectName(QStringLiteral("zone"));
    zone_->addItems({QStringLiteral("Local Time"), QStringLiteral("UTC")});
    send_ = new QPushButton(QStringLiteral("Send"), fromPc);
    send_->setObjectName(QStringLiteral("send"));
    send_->setAutoDefault(false);
    fromPcRow->addWidget(zone_);
    fromPcRow->addWidget(send_);

    const DialogButtonRow buttons = MakeApplyCancelRow(this, QStringLiteral("Apply Changes"));
    apply_ = buttons.apply;
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(clock_);
    auto* middle = new QHBoxLayout;
    middle->addWidget(adjust);
    middle->addWidget(fromPc);
    layout->addLayout(middle);
    layout->addLayout(buttons.layout);

    timer_ = new QTimer(this);
    timer_->setInterval(kClockPeriodMs);
    connect(timer_, &QTimer::timeout, this, [this] { shared_.SetRequest(ERequest::kTimeOfDay); });
    connect(zone_, &QComboBox::activated, this, &CTimeOfDayDlg::ResetSend);
    connect(send_, &QPushButton::clicked, this, &CTimeOfDayDlg::Send);
    connect(apply_, &QPushButton::clicked, this, &CTimeOfDayDlg::Apply);
    KeepTitleWhole(*this);
}

void CTimeOfDayDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) {
        return;
    }
    zone_->setCurrentIndex(0);
    apply_->setEnabled(false);
    adjustment_ = 0;
    RefreshClock();
    timer_->start();
}

void CTimeOfDayDlg::hideEvent(QHideEvent* event) {
    timer_->stop();
    QDialog::hideEvent(event);
}

void CTimeOfDayDlg::RefreshClock() {
    const std::uint32_t dccTime = shared_.Results.Snapshot().dccTime;
    clock_->setText(
        QString::fromStdString(AscTimeText(static_cast<std::int64_t>(dccTime) + adjustment_)));
    ResetSend();
}

void CTimeOfDayDlg::ResetSend() {
    sent_ = false;
    send_->setText(QStringLiteral("Send"));
}

void CTimeOfDayDlg::Adjust(std::int32_t seconds) {
    adjustment_ += seconds;
    apply_->setEnabled(true);
}

void CTimeOfDayDlg::Send() {
    if (shared_.mailbox.IsPending()) {
        return;
    }
    const bool local = zone_->currentText() == QStringLiteral("Local Time");
    const std::string argument = DccTimeArgument(std::time(nullptr), local);
    shared_.ClearRequest(ERequest::kTimeOfDay);
    if (sent_) {
        return;
    }
    sent_ = true;
    send_->setText(QStringLiteral("Done"));
    const MailboxCommand command{.code = CommandCode(ECommand::kSetDccTime),
                                 .data = argument,
                                 .replyLimit = ReplyLimit(ECommand::kSetDccTime)};
    if (!SendConfirmedCommand(shared_, unit_, command, EAuthorisation::kNone, kTitle, this)) {
        ResetSend();
    }
}

void CTimeOfDayDlg::Apply() {
    shared_.ClearRequest(ERequest::kTimeOfDay);
    // A command still on its way goes first; the wait is bounded as every other.
    WaitWhile([this] { return shared_.mailbox.IsPending(); }, kCommandWaitUntilDone.limit);
    const MailboxCommand command{.code = CommandCode(ECommand::kAdjustDccTime),
                                 .data = DccAdjustArgument(adjustment_),
                                 .replyLimit = ReplyLimit(ECommand::kAdjustDccTime)};
    if (SendConfirmedCommand(shared_, unit_, command, EAuthorisation::kNone, kTitle, this)) {
        accept();
    }
}

}  // namespace corvane3
