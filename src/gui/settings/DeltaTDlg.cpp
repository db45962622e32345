#include "gui/settings/DeltaTDlg.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/link/CommandCodes.h"
#include "core/settings/SettingsText.h"
#include "gui/common/DialogButtonRow.h"
#include "gui/common/WholeTitle.h"
#include "gui/settings/SettingsCommand.h"
#include "gui/settings/SettingsDialogs.h"

namespace corvane3 {

namespace {
const QString kTitle = QStringLiteral("Delta-T Notification");
}  // namespace

CDeltaTDlg::CDeltaTDlg(CPollingShared& shared, const CUnitState& unit, QWidget* parent)
    : QDialog(parent), shared_(shared), unit_(unit) {
    setWindowTitle(QStringLiteral("Slew Output Phase"));
    setObjectName(QStringLiteral("deltaTDialog"));

    auto* abortGroup = new QGroupBox(QStringLiteral("Abort Delta-T"), this);
    auto* abortRow = new QHBoxLayout(abortGroup);
    abortRow->addWidget(new QLabel(QStringLiteral("Abort Delta-T Operation in progress:"), this));
    abort_ = new QPushButton(QStringLiteral("Abort"), this);
    abort_->setObjectName(QStringLiteral("abort"));
    abort_->setAutoDefault(false);
    abortRow->addWidget(abort_);

    auto* slewGroup = new QGroupBox(QStringLiteral("Phase Slewing"), this);
    auto* slewRow = new QHBoxLayout(slewGroup);
    direction_ = new QComboBox(this);
    direction_->setObjectName(QStringLiteral("direction"));
    direction_->addItems({QStringLiteral("Advance"), QStringLiteral("Retard")});
    slew_ = new QLineEdit(this);
    slew_->setObjectName(QStringLiteral("slew"));
    slew_->setMaxLength(static_cast<int>(kNumberInputLimit));
    slewRow->addWidget(direction_);
    slewRow->addWidget(slew_);
    slewRow->addWidget(new QLabel(QStringLiteral("ns"), this));

    const DialogButtonRow buttons = MakeApplyCancelRow(this, QStringLiteral("Begin Slew"));
    begin_ = buttons.apply;
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(abortGroup);
    layout->addWidget(slewGroup);
    layout->addLayout(buttons.layout);

    begin_->setEnabled(false);
    connect(slew_, &QLineEdit::textChanged, this, [this] { begin_->setEnabled(true); });
    connect(begin_, &QPushButton::clicked, this, &CDeltaTDlg::BeginSlew);
    connect(abort_, &QPushButton::clicked, this, &CDeltaTDlg::Abort);
    KeepTitleWhole(*this);
}

void CDeltaTDlg::BeginSlew() {
    long slew = LeadingInteger(slew_->text().toStdString());
    if (slew > kMaxSlew) {
        ShowRangeError(QStringLiteral("Maximum slew = 9999 ns\nDelta-T Operation Aborted"), this);
        return;
    }
    if (slew < 0) {
        ShowRangeError(
            QStringLiteral("Enter slew magnitude as a positive value\nDelta-T Operation Aborted"),
            this);
        return;
    }
    if (direction_->currentText() == QStringLiteral("Retard")) {
        slew = -slew;
    }
    const MailboxCommand command{.code = CommandCode(ECommand::kBeginTimeUpdating),
                                 .data = DeltaTArgument(slew),
                                 .replyLimit = ReplyLimit(ECommand::kBeginTimeUpdating)};
    if (SendConfirmedCommand(shared_, unit_, command, EAuthorisation::kProtected, kTitle, this)) {
        accept();
    }
}

void CDeltaTDlg::Abort() {
    if (abortSent_ || shared_.mailbox.IsPending()) {
        return;
    }
    abortSent_ = true;
    abort_->setText(QStringLiteral("Done"));
    const MailboxCommand command{.code = CommandCode(ECommand::kResetTimeUpdating),
                                 .replyLimit = ReplyLimit(ECommand::kResetTimeUpdating)};
    // An abort the unit did not take may be tried again.
    if (!SendConfirmedCommand(shared_, unit_, command, EAuthorisation::kProtected, kTitle, this)) {
        abortSent_ = false;
        abort_->setText(QStringLiteral("Abort"));
    }
}

}  // namespace corvane3
