#include "gui/settings/TtlOutputDlg.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "core/link/CommandCodes.h"
#include "gui/common/DialogButtonRow.h"
#include "gui/common/WholeTitle.h"
#include "gui/settings/SettingsCommand.h"

namespace corvane3 {

namespace {

struct TtlChoice {
    const char* text;
    const char* name;
    float megahertz;
    float shownAbove;  // the stored frequency selects this choice when above this
};
// In choice order: "W07" takes the position plus one.
constexpr TtlChoice kChoices[] = {
    {"100 KHz", "ttl100kHz", 0.1F, -1.0F},
    {"1MHz", "ttl1MHz", 1.0F, 0.9F},
    {"5MHz", "ttl5MHz", 5.0F, 4.0F},
    {"10MHz", "ttl10MHz", 10.0F, 9.0F},
};

}  // namespace

CTtlOutputDlg::CTtlOutputDlg(CPollingShared& shared, const CUnitState& unit, QWidget* parent)
    : QDialog(parent), shared_(shared), unit_(unit) {
    setWindowTitle(QStringLiteral("Program TTL Output"));
    setObjectName(QStringLiteral("ttlOutputDialog"));
    auto* group = new QGroupBox(QStringLiteral("TTL Output Frequency"), this);
    auto* column = new QVBoxLayout(group);
    auto* exclusive = new QButtonGroup(this);
    for (std::size_t i = 0; i < choices_.size(); ++i) {
        choices_[i] = new QRadioButton(QString::fromLatin1(kChoices[i].text), group);
        choices_[i]->setObjectName(QString::fromLatin1(kChoices[i].name));
        exclusive->addButton(choices_[i]);
        column->addWidget(choices_[i]);
        connect(choices_[i], &QRadioButton::clicked, this, [this] { apply_->setEnabled(true); });
    }
    const DialogButtonRow buttons = MakeApplyCancelRow(this, QStringLiteral("Apply Changes"));
    apply_ = buttons.apply;
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addLayout(buttons.layout);
    connect(apply_, &QPushButton::clicked, this, &CTtlOutputDlg::Apply);
    KeepTitleWhole(*this);
}

void CTtlOutputDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) {
        return;
    }
    apply_->setEnabled(false);
    for (std::size_t i = choices_.size(); i-- > 0;) {
        if (frequency_ > kChoices[i].shownAbove) {
            choices_[i]->setChecked(true);
            break;
        }
    }
}

void CTtlOutputDlg::Apply() {
    for (std::size_t i = 0; i < choices_.size(); ++i) {
        if (!choices_[i]->isChecked()) {
            continue;
        }
        // Kept whatever becomes of the command: the unit cannot be asked for it.
        frequency_ = kChoices[i].megahertz;
        const MailboxCommand command{.code = CommandCode(ECommand::kSetTtlOutputFrequency),
                                     .data = std::to_string(i + 1),
                                     .replyLimit = ReplyLimit(ECommand::kSetTtlOutputFrequency)};
        if (SendConfirmedCommand(shared_, unit_, command, EAuthorisation::kNone,
                                 QStringLiteral("TTL Output Notification"), this)) {
            accept();
        }
        return;
    }
}

}  // namespace corvane3
