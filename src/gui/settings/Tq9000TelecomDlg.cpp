#include "gui/settings/Tq9000TelecomDlg.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "core/link/CommandCodes.h"
#include "gui/common/DialogButtonRow.h"
#include "gui/common/WholeTitle.h"
#include "gui/settings/CommandSequence.h"

namespace corvane3 {

namespace {

// The SSM channel list starts at this channel.
constexpr int kFirstSaChannel = 4;
constexpr int kLastSaChannel = 8;

const QString kTitle = QStringLiteral("Telecom Output Notification");

QComboBox* NewList(QWidget* parent, const char* name, const QStringList& items) {
    auto* list = new QComboBox(parent);
    list->setObjectName(QString::fromLatin1(name));
    list->addItems(items);
    return list;
}

}  // namespace

CTq9000TelecomDlg::CTq9000TelecomDlg(CPollingShared& shared, QWidget* parent)
    : QDialog(parent), shared_(shared) {
    setWindowTitle(QStringLiteral("Configure Tq9000 Telecomunications Outputs"));
    setObjectName(QStringLiteral("tq9000TelecomDialog"));

    auto* e1 = new QGroupBox(QStringLiteral("E1"), this);
    e1->setObjectName(QStringLiteral("e1Group"));
    e1Format_ = NewList(e1, "e1Format",
                        {QStringLiteral("Basic E1"), QStringLiteral("CRC-4"),
                         QStringLiteral("TS-16"), QStringLiteral("CRC-4 and TS16")});
    e1SaChannel_ = NewList(e1, "e1SaChannel", {"4", "5", "6", "7", "8"});
    e1Fault_ = NewList(e1, "e1Fault", {QStringLiteral("MUTE"), QStringLiteral("SSM")});
    auto* e1Layout = new QFormLayout(e1);
    e1Layout->addRow(QStringLiteral("Format"), e1Format_);
    e1Layout->addRow(QStringLiteral("SSM on SA Channel"), e1SaChannel_);
    e1Layout->addRow(QStringLiteral("Fault Strategy"), e1Fault_);

    auto* t1 = new QGroupBox(QStringLiteral("T1"), this);
    t1->setObjectName(QStringLiteral("t1Group"));
    t1Format_ = NewList(t1, "t1Format", {QStringLiteral("ESF"), QStringLiteral("D4")});
    t1Fault_ = NewList(t1, "t1Fault",
                       {QStringLiteral("SSM"), QStringLiteral("MUTE"), QStringLiteral("AIS")});
    auto* t1Layout = new QFormLayout(t1);
    t1Layout->addRow(QStringLiteral("Format"), t1Format_);
    t1Layout->addRow(QStringLiteral("Fault Strategy"), t1Fault_);

    const DialogButtonRow buttons = MakeApplyCancelRow(this, QStringLiteral("Apply Changes"));
    apply_ = buttons.apply;

    auto* groups = new QHBoxLayout;
    groups->addWidget(e1);
    groups->addWidget(t1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(groups);
    layout->addLayout(buttons.layout);

    for (QComboBox* list : {e1Format_, e1SaChannel_, e1Fault_, t1Format_, t1Fault_}) {
        connect(list, &QComboBox::currentIndexChanged, this, [this] { apply_->setEnabled(true); });
    }
    connect(apply_, &QPushButton::clicked, this, &CTq9000TelecomDlg::ApplyChanges);
    FillFromUnit();
    KeepTitleWhole(*this);
}

void CTq9000TelecomDlg::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        FillFromUnit();
    }
    QDialog::showEvent(event);
}

void CTq9000TelecomDlg::FillFromUnit() {
    const DccTelecomSettings telecom = shared_.Results.Snapshot().telecom;
    t1Present_ = telecom.t1Present;
    e1Present_ = telecom.e1Present;
    t1Format_->setCurrentIndex(telecom.t1Framing == 0 ? 0 : 1);
    t1Fault_->setCurrentIndex(telecom.t1Ssm >= 0 && telecom.t1Ssm <= 2 ? telecom.t1Ssm : 2);
    e1Format_->setCurrentIndex((telecom.e1FlagA ? 1 : 0) + (telecom.e1FlagB ? 2 : 0));
    e1Fault_->setCurrentIndex(telecom.e1Mute == 0 ? 0 : 1);
    // A channel the list does not have (nothing read yet) leaves the list unset.
    const bool knownChannel =
        telecom.e1Number >= kFirstSaChannel && telecom.e1Number <= kLastSaChannel;
    e1SaChannel_->setCurrentIndex(knownChannel ? telecom.e1Number - kFirstSaChannel : -1);
    for (QComboBox* list : {t1Format_, t1Fault_}) {
        list->setEnabled(t1Present_);
    }
    for (QComboBox* list : {e1Format_, e1SaChannel_, e1Fault_}) {
        list->setEnabled(e1Present_);
    }
    apply_->setEnabled(false);
}

void CTq9000TelecomDlg::ApplyChanges() {
    if (e1Present_ && e1SaChannel_->currentIndex() < 0) {
        QMessageBox box(QMessageBox::Warning, kTitle,
                        QStringLiteral("Please choose the SSM channel of the E1 output"),
                        QMessageBox::Ok, this);
        box.exec();
        return;
    }
    Tq9000TelecomChoice choice;
    choice.e1Format = e1Format_->currentIndex();
    choice.e1Fault = e1Fault_->currentIndex();
    choice.e1SaChannel = e1SaChannel_->currentIndex() + kFirstSaChannel;
    choice.t1Format = t1Format_->currentIndex();
    choice.t1Fault = t1Fault_->currentIndex();
    // An absent interface's lists hold no setting of the unit's: nothing is sent for it.
    std::vector<SequenceCommand> commands;
    if (e1Present_) {
        commands.push_back({"E1 output",
                            {.code = CommandCode(ECommand::kSetDccE1),
                             .data = Tq9000E1Argument(choice),
                             .replyLimit = ReplyLimit(ECommand::kSetDccE1)}});
    }
    if (t1Present_) {
        commands.push_back({"T1 output",
                            {.code = CommandCode(ECommand::kSetDccT1),
                             .data = Tq9000T1Argument(choice),
                             .replyLimit = ReplyLimit(ECommand::kSetDccT1)}});
    }
    if (commands.empty()) {
        QMessageBox box(QMessageBox::Warning, kTitle,
                        QStringLiteral("The instrument reports neither an E1 nor a T1 output: "
                                       "nothing was sent"),
                        QMessageBox::Ok, this);
        box.exec();
        return;
    }
    if (SendCommandSequence(shared_, commands, kTitle, this).AllAccepted()) {
        accept();
    }
}

}  // namespace corvane3
