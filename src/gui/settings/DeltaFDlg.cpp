#include "gui/settings/DeltaFDlg.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/link/CommandCodes.h"
#include "core/link/UnitState.h"
#include "core/settings/SettingsText.h"
#include "gui/common/DialogButtonRow.h"
#include "gui/common/WholeTitle.h"
#include "gui/settings/SettingsCommand.h"
#include "gui/settings/SettingsDialogs.h"

namespace corvane3 {

CDeltaFDlg::CDeltaFDlg(CPollingShared& shared, const CUnitState& unit, QWidget* parent)
    : QDialog(parent), shared_(shared), unit_(unit) {
    setWindowTitle(QStringLiteral("Adjust Output Frequency"));
    setObjectName(QStringLiteral("deltaFDialog"));
    offset_ = new QLineEdit(this);
    offset_->setObjectName(QStringLiteral("offset"));
    offset_->setMaxLength(static_cast<int>(kNumberInputLimit));
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(QStringLiteral("Delta-F ="), this));
    row->addWidget(offset_);
    row->addWidget(new QLabel(QStringLiteral("E-15"), this));
    const DialogButtonRow buttons = MakeApplyCancelRow(this, QStringLiteral("Apply Changes"));
    apply_ = buttons.apply;
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addLayout(buttons.layout);

    offset_->setText(QString::asprintf("%+07d", unit_.Snapshot().d1.freqTune));
    apply_->setEnabled(false);
    connect(offset_, &QLineEdit::textChanged, this, [this] { apply_->setEnabled(true); });
    connect(apply_, &QPushButton::clicked, this, &CDeltaFDlg::Apply);
    KeepTitleWhole(*this);
}

void CDeltaFDlg::Apply() {
    const long offset = LeadingInteger(offset_->text().toStdString());
    if (offset > kMaxFrequencyOffset || offset < -kMaxFrequencyOffset) {
        ShowRangeError(
            QStringLiteral("Maximum frequency offset = +/- 999999e-15\nDelta-F Operation Aborted"),
            this);
        return;
    }
    const MailboxCommand command{.code = CommandCode(ECommand::kSetUserFrequencyOffset),
                                 .data = DeltaFArgument(offset),
                                 .replyLimit = ReplyLimit(ECommand::kSetUserFrequencyOffset)};
    if (SendConfirmedCommand(shared_, unit_, command, EAuthorisation::kProtected,
                             QStringLiteral("Delta-F Notification"), this)) {
        accept();
    }
}

}  // namespace corvane3
