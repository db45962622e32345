#include "gui/settings/AlarmsDlg.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "core/link/CommandCodes.h"
#include "core/link/CommandFrame.h"
#include "core/link/UnitState.h"
#include "core/settings/SettingsText.h"
#include "gui/common/DialogButtonRow.h"
#include "gui/common/WholeTitle.h"
#include "gui/settings/SettingsCommand.h"
#include "gui/settings/SettingsDialogs.h"

namespace corvane3 {

namespace {

constexpr int kNonCritical = 0;
constexpr int kCritical = 1;
constexpr int kListWidthCharacters = 40;
constexpr int kListHeightLines = 6;
const QString kTitle = QStringLiteral("Alarm Settings");
// Both commands go with the Factory access option and no password prompt: the unit does not
// protect them with the user password, so a unit with security on takes them as they are.
constexpr std::uint32_t kAlarmCommandParameter = kFactoryAccessOption;

}  // namespace

CAlarmsDlg::CAlarmsDlg(CPollingShared& shared, const CUnitState& unit, QWidget* parent)
    : QDialog(parent), shared_(shared), unit_(unit) {
    setWindowTitle(QStringLiteral("Alarms"));
    setObjectName(QStringLiteral("alarmsDialog"));
    auto* pending = new QGroupBox(QStringLiteral("Pending Alarms"), this);
    auto* pendingRow = new QHBoxLayout(pending);
    alarms_ = new QListWidget(pending);
    alarms_->setObjectName(QStringLiteral("alarmList"));
    QFont fixed(QStringLiteral("Monospace"));
    fixed.setStyleHint(QFont::TypeWriter);
    alarms_->setFont(fixed);
    alarms_->setMinimumSize(QFontMetrics(fixed).averageCharWidth() * kListWidthCharacters,
                            QFontMetrics(fixed).height() * kListHeightLines);
    reset_ = new QPushButton(QStringLiteral("Reset Alarms"), pending);
    reset_->setObjectName(QStringLiteral("resetAlarms"));
    reset_->setAutoDefault(false);
    pendingRow->addWidget(alarms_, 1);
    pendingRow->addWidget(reset_, 0, Qt::AlignTop);

    auto* restart = new QGroupBox(QStringLiteral("Restart Alarm Strategy"), this);
    auto* restartColumn = new QVBoxLayout(restart);
    restartColumn->addWidget(new QLabel(
        QStringLiteral("Behavior of \"Unit Restart\" Alarm (0x16) on power-up:"), restart));
    strategy_ = new QComboBox(restart);
    strategy_->setObjectName(QStringLiteral("restartStrategy"));
    strategy_->addItems({QStringLiteral("Non-Critical  (Self-Clearing)"),
                         QStringLiteral("Critical          (Manual Reset)")});
    restartColumn->addWidget(strategy_);

    const DialogButtonRow buttons = MakeApplyCancelRow(this, QStringLiteral("Apply Changes"));
    apply_ = buttons.apply;
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(pending);
    layout->addWidget(restart);
    layout->addLayout(buttons.layout);

    connect(reset_, &QPushButton::clicked, this, &CAlarmsDlg::ResetAlarms);
    connect(strategy_, &QComboBox::activated, this, [this] {
        strategyChosen_ = true;
        apply_->setEnabled(true);
    });
    connect(apply_, &QPushButton::clicked, this, &CAlarmsDlg::Apply);
    KeepTitleWhole(*this);
}

void CAlarmsDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) {
        return;
    }
    apply_->setEnabled(false);
    strategyChosen_ = false;
    RefreshView();
}

void CAlarmsDlg::RefreshView() {
    const UnitStateData data = unit_.Snapshot();
    const D1Record& d1 = data.d1;
    alarms_->clear();
    alarms_->scrollToTop();
    const unsigned codes[] = {d1.alarm1, d1.alarm2, d1.alarm3, d1.alarm4, d1.alarm5};
    for (int slot = 1; slot <= static_cast<int>(std::size(codes)); ++slot) {
        if (codes[slot - 1] != 0) {
            alarms_->addItem(FromUnitText(AlarmLine(slot, codes[slot - 1])));
        }
    }
    if (d1.alarm1 != 0) {
        resetSent_ = false;
        reset_->setText(QStringLiteral("Reset Alarms"));
    }
    const bool chronoBeam = unit_.InstrumentModel == kModelChronoBeam;
    // A choice the user has made stays until it is applied or the dialog is cancelled: the
    // unit's level would otherwise turn it round while "Apply Changes" stays enabled.
    if (!strategyChosen_ || chronoBeam) {
        strategy_->setCurrentIndex(!chronoBeam && data.d5.restartFaultLevel != 0 ? kCritical
                                                                                 : kNonCritical);
    }
    strategy_->setEnabled(!chronoBeam);
}

void CAlarmsDlg::ResetAlarms() {
    if (resetSent_ || shared_.mailbox.IsPending()) {
        return;
    }
    resetSent_ = true;
    reset_->setText(QStringLiteral("Done"));
    const MailboxCommand command{.code = CommandCode(ECommand::kResetAlarms),
                                 .parameter = kAlarmCommandParameter,
                                 .replyLimit = ReplyLimit(ECommand::kResetAlarms)};
    if (!SendConfirmedCommand(shared_, unit_, command, EAuthorisation::kNone, kTitle, this)) {
        resetSent_ = false;
        reset_->setText(QStringLiteral("Reset Alarms"));
    }
}

void CAlarmsDlg::Apply() {
    const MailboxCommand command{.code = CommandCode(ECommand::kSetRestartFaultLevel),
                                 .data = strategy_->currentIndex() == kCritical ? "1" : "0",
                                 .parameter = kAlarmCommandParameter,
                                 .replyLimit = ReplyLimit(ECommand::kSetRestartFaultLevel)};
    if (SendConfirmedCommand(shared_, unit_, command, EAuthorisation::kNone, kTitle, this)) {
        accept();
    }
}

}  // namespace corvane3
