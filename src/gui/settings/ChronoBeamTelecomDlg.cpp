#include "gui/settings/ChronoBeamTelecomDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "core/link/CommandCodes.h"
#include "gui/common/DialogButtonRow.h"
#include "gui/common/WholeTitle.h"
#include "gui/security/AuthorizedCommand.h"
#include "gui/settings/CommandSequence.h"
#include "gui/settings/Tq9000TelecomDlg.h"

namespace corvane3 {

namespace {

const QString kTitle = QStringLiteral("Telecom Output Notification");
constexpr int kFirstSaChannel = 4;
// LIU settings: the one for E1, and the one a channel switched to T1 gets instead of it.
constexpr int kLiuE1 = 0;
constexpr int kLiuShortT1 = 3;

QComboBox* NewList(QWidget* parent, const QString& name, const QStringList& items) {
    auto* list = new QComboBox(parent);
    list->setObjectName(name);
    list->addItems(items);
    return list;
}

QCheckBox* NewBox(QWidget* parent, const QString& name, const QString& text) {
    auto* box = new QCheckBox(text, parent);
    box->setObjectName(name);
    return box;
}

// A list index from a remembered number: -1 (unset) below first.
int IndexOf(int value, int first) {
    return value >= first ? value - first : -1;
}

}  // namespace

CChronoBeamTelecomDlg::CChronoBeamTelecomDlg(CPollingShared& shared, const CUnitState& unit,
                                             QWidget* parent)
    : QDialog(parent), shared_(shared), unit_(unit) {
    setWindowTitle(QStringLiteral("Configure ChronoBeam Telecomunications Outputs"));
    setObjectName(QStringLiteral("chronoBeamTelecomDialog"));

    auto* e1 = new QGroupBox(QStringLiteral("E1"), this);
    e1Format_ = NewList(e1, QStringLiteral("e1Format"),
                        {QStringLiteral("Basic E1"), QStringLiteral("CRC-4"),
                         QStringLiteral("TS-16"), QStringLiteral("CRC-4 and TS16")});
    e1SaChannel_ = NewList(e1, QStringLiteral("e1SaChannel"), {"4", "5", "6", "7", "8"});
    auto* e1FaultGroup = new QGroupBox(QStringLiteral("Fault Strategy"), e1);
    e1Mute_ = NewBox(e1FaultGroup, QStringLiteral("e1Mute"), QStringLiteral("Mute"));
    e1Ssm_ = NewBox(e1FaultGroup, QStringLiteral("e1Ssm"), QStringLiteral("SSM"));
    e1Crc4_ = NewBox(e1FaultGroup, QStringLiteral("e1Crc4"), QStringLiteral("CRC-4"));
    e1Ts16_ = NewBox(e1FaultGroup, QStringLiteral("e1Ts16"), QStringLiteral("TS-16"));
    auto* e1FaultLayout = new QGridLayout(e1FaultGroup);
    e1FaultLayout->addWidget(e1Mute_, 0, 0);
    e1FaultLayout->addWidget(e1Ssm_, 0, 1);
    e1FaultLayout->addWidget(e1Crc4_, 1, 0);
    e1FaultLayout->addWidget(e1Ts16_, 1, 1);
    auto* e1Layout = new QFormLayout(e1);
    e1Layout->addRow(QStringLiteral("Format"), e1Format_);
    e1Layout->addRow(QStringLiteral("SSM on SA Channel"), e1SaChannel_);
    e1Layout->addRow(e1FaultGroup);

    auto* t1 = new QGroupBox(QStringLiteral("T1"), this);
    t1Format_ =
        NewList(t1, QStringLiteral("t1Format"),
                {QStringLiteral("D4 All 1's"), QStringLiteral("ESF"), QStringLiteral("D4 1:7")});
    auto* t1FaultGroup = new QGroupBox(QStringLiteral("Fault Strategy"), t1);
    t1Mute_ = NewBox(t1FaultGroup, QStringLiteral("t1Mute"), QStringLiteral("Mute"));
    t1Ssm_ = NewBox(t1FaultGroup, QStringLiteral("t1Ssm"), QStringLiteral("SSM"));
    t1Ais_ = NewBox(t1FaultGroup, QStringLiteral("t1Ais"), QStringLiteral("AIS"));
    auto* t1FaultLayout = new QVBoxLayout(t1FaultGroup);
    for (QCheckBox* box : {t1Mute_, t1Ssm_, t1Ais_}) {
        t1FaultLayout->addWidget(box);
    }
    auto* t1Layout = new QFormLayout(t1);
    t1Layout->addRow(QStringLiteral("Format"), t1Format_);
    t1Layout->addRow(t1FaultGroup);

    const DialogButtonRow buttons = MakeApplyCancelRow(this, QStringLiteral("Apply Changes"));
    apply_ = buttons.apply;

    auto* generators = new QHBoxLayout;
    generators->addWidget(e1);
    generators->addWidget(t1);
    auto* outputs = new QHBoxLayout;
    outputs->addWidget(BuildChannel(1, channels_[0]));
    outputs->addWidget(BuildChannel(2, channels_[1]));
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(generators);
    layout->addLayout(outputs);
    layout->addLayout(buttons.layout);

    MakeOneChoice({e1Mute_, e1Ssm_, e1Crc4_, e1Ts16_});
    MakeOneChoice({t1Mute_, t1Ssm_, t1Ais_});
    for (Channel& channel : channels_) {
        MakeOneChoice({channel.clocked, channel.framed});
        MakeOneChoice({channel.t1, channel.e1});
        MakeOneChoice({channel.bal, channel.unbal});
        QComboBox* liu = channel.liu;
        connect(channel.e1, &QCheckBox::clicked, this, [liu] { liu->setCurrentIndex(kLiuE1); });
        connect(channel.t1, &QCheckBox::clicked, this, [liu] {
            if (liu->currentIndex() == kLiuE1) {
                liu->setCurrentIndex(kLiuShortT1);
            }
        });
    }
    for (QComboBox* list :
         {e1Format_, e1SaChannel_, t1Format_, channels_[0].liu, channels_[1].liu}) {
        connect(list, &QComboBox::currentIndexChanged, this, [this] { apply_->setEnabled(true); });
    }
    connect(apply_, &QPushButton::clicked, this, &CChronoBeamTelecomDlg::ApplyChanges);
    Load();
    KeepTitleWhole(*this);
}

QWidget* CChronoBeamTelecomDlg::BuildChannel(int number, Channel& channel) {
    auto* group = new QGroupBox(QStringLiteral("Telecom Output Channel %1").arg(number), this);
    const QString prefix = QStringLiteral("channel%1").arg(number);
    channel.clocked = NewBox(group, prefix + "Clocked", QStringLiteral("Clocked"));
    channel.framed = NewBox(group, prefix + "Framed", QStringLiteral("Framed"));
    channel.t1 = NewBox(group, prefix + "T1", QStringLiteral("T1"));
    channel.e1 = NewBox(group, prefix + "E1", QStringLiteral("E1"));
    channel.bal = NewBox(group, prefix + "Bal", QStringLiteral("Bal"));
    channel.unbal = NewBox(group, prefix + "Unbal", QStringLiteral("Unbal"));
    channel.liu =
        NewList(group, prefix + "Liu",
                {QStringLiteral("0 (E1)"), QStringLiteral("1 (not used)"),
                 QStringLiteral("2 (399-T1 FCC part 68 option A)"),
                 QStringLiteral("3 (T1 0-133 feet,  Ansi T1.403)"),
                 QStringLiteral("4 (T1 133-266 feet)"), QStringLiteral("5 (T1 266-399 feet)"),
                 QStringLiteral("6 (T1 399-533 feet)"), QStringLiteral("7 (T1 533-655 feet)")});
    auto* layout = new QGridLayout(group);
    layout->addWidget(channel.clocked, 0, 0);
    layout->addWidget(channel.framed, 0, 1);
    layout->addWidget(channel.t1, 1, 0);
    layout->addWidget(channel.e1, 1, 1);
    layout->addWidget(channel.bal, 2, 0);
    layout->addWidget(channel.unbal, 2, 1);
    layout->addWidget(new QLabel(QStringLiteral("LIU setting"), group), 3, 0, 1, 2);
    layout->addWidget(channel.liu, 4, 0, 1, 2);
    return group;
}

void CChronoBeamTelecomDlg::MakeOneChoice(const std::vector<QCheckBox*>& boxes) {
    for (QCheckBox* box : boxes) {
        connect(box, &QCheckBox::clicked, this, [this, box, boxes] {
            for (QCheckBox* other : boxes) {
                other->setChecked(other == box);
            }
            apply_->setEnabled(true);
        });
    }
}

void CChronoBeamTelecomDlg::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        Load();
    }
    QDialog::showEvent(event);
}

void CChronoBeamTelecomDlg::Load() {
    const ChronoBeamTelecomSettings& s = remembered_;
    e1Format_->setCurrentIndex(IndexOf(s.e1Format, 1));
    e1SaChannel_->setCurrentIndex(IndexOf(s.e1SaChannel, kFirstSaChannel));
    e1Crc4_->setChecked(s.e1Fault == kE1FaultCrc4);
    e1Ts16_->setChecked(s.e1Fault == kE1FaultTs16);
    e1Ssm_->setChecked(s.e1Fault == kE1FaultSsm);
    e1Mute_->setChecked(s.e1Fault == kE1FaultMute);
    t1Format_->setCurrentIndex(IndexOf(s.t1Format, 1));
    t1Mute_->setChecked(s.t1Fault == kT1FaultMute);
    t1Ssm_->setChecked(s.t1Fault == kT1FaultSsm);
    t1Ais_->setChecked(s.t1Fault == kT1FaultAis);
    for (std::size_t i = 0; i < channels_.size(); ++i) {
        const ChronoBeamOutputChannel& remembered = s.channels[i];
        Channel& channel = channels_[i];
        channel.clocked->setChecked(remembered.mode == 'C');
        channel.framed->setChecked(remembered.mode == 'F');
        channel.t1->setChecked(remembered.type == 'T');
        channel.e1->setChecked(remembered.type == 'E');
        channel.bal->setChecked(remembered.line == 'B');
        channel.unbal->setChecked(remembered.line == 'U');
        channel.liu->setCurrentIndex(remembered.liu);
    }
    apply_->setEnabled(false);
}

void CChronoBeamTelecomDlg::Remember() {
    ChronoBeamTelecomSettings& s = remembered_;
    s.e1Format = e1Format_->currentIndex() + 1;
    s.e1SaChannel =
        e1SaChannel_->currentIndex() < 0 ? 0 : e1SaChannel_->currentIndex() + kFirstSaChannel;
    s.e1Fault = 0;
    for (const auto& [box, fault] : {std::pair{e1Crc4_, kE1FaultCrc4},
                                     {e1Ts16_, kE1FaultTs16},
                                     {e1Ssm_, kE1FaultSsm},
                                     {e1Mute_, kE1FaultMute}}) {
        if (box->isChecked()) {
            s.e1Fault = fault;
        }
    }
    s.t1Format = t1Format_->currentIndex() + 1;
    s.t1Fault = t1Ssm_->isChecked()    ? kT1FaultSsm
                : t1Ais_->isChecked()  ? kT1FaultAis
                : t1Mute_->isChecked() ? kT1FaultMute
                                       : 0;
    for (std::size_t i = 0; i < channels_.size(); ++i) {
        const Channel& channel = channels_[i];
        ChronoBeamOutputChannel& remembered = s.channels[i];
        remembered.type = channel.t1->isChecked() ? 'T' : channel.e1->isChecked() ? 'E' : 0;
        remembered.mode = channel.framed->isChecked()    ? 'F'
                          : channel.clocked->isChecked() ? 'C'
                                                         : 0;
        remembered.line = channel.bal->isChecked() ? 'B' : channel.unbal->isChecked() ? 'U' : 0;
        remembered.liu = std::max(0, channel.liu->currentIndex());
    }
}

void CChronoBeamTelecomDlg::ApplyChanges() {
    // Another command still on its way: nothing happens, as the user has nothing to wait for.
    if (shared_.mailbox.IsPending()) {
        return;
    }
    // A list left unset would send a format or channel the unit does not have.
    if (e1Format_->currentIndex() < 0 || e1SaChannel_->currentIndex() < 0 ||
        t1Format_->currentIndex() < 0) {
        QMessageBox box(QMessageBox::Warning, kTitle,
                        QStringLiteral("Please choose the E1 format, the SSM channel and the T1 "
                                       "format"),
                        QMessageBox::Ok, this);
        box.exec();
        return;
    }
    Remember();
    const std::optional<std::uint32_t> parameter = ProtectedCommandParameter(shared_, unit_, this);
    if (!parameter) {
        return;  // prompt cancelled: the choices are remembered, the dialog stays open
    }
    const auto command = [&](ECommand sent, std::string argument) {
        return MailboxCommand{.code = CommandCode(sent),
                              .data = std::move(argument),
                              .parameter = *parameter,
                              .replyLimit = ReplyLimit(sent)};
    };
    const std::vector<SequenceCommand> commands{
        {"E1 pattern generator",
         command(ECommand::kSetE1PatternGenerator, ChronoBeamE1Argument(remembered_))},
        {"T1 pattern generator",
         command(ECommand::kSetT1PatternGenerator, ChronoBeamT1Argument(remembered_))},
        {"Output channel 1",
         command(ECommand::kSetTelecomOutput, ChronoBeamChannelArgument(remembered_, 1))},
        {"Output channel 2",
         command(ECommand::kSetTelecomOutput, ChronoBeamChannelArgument(remembered_, 2))},
    };
    if (SendCommandSequence(shared_, commands, kTitle, this).AllAccepted()) {
        accept();
    }
}

}  // namespace corvane3
