#include "gui/settings/EthernetDlg.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "core/link/CommandCodes.h"
#include "core/settings/SettingsEntries.h"
#include "gui/common/DialogButtonRow.h"
#include "gui/common/WholeTitle.h"
#include "gui/settings/CommandSequence.h"

namespace corvane3 {

namespace {

// Reply limit of B12.

QLineEdit* NewAddressEdit(QWidget* parent, const char* name) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setPlaceholderText(QStringLiteral("0.0.0.0"));
    edit->setMaxLength(static_cast<int>(sizeof "255.255.255.255") - 1);
    return edit;
}

}  // namespace

CEthernetDlg::CEthernetDlg(CPollingShared& shared, QWidget* parent)
    : QDialog(parent), shared_(shared) {
    setWindowTitle(QStringLiteral("Ethernet"));
    setObjectName(QStringLiteral("ethernetDialog"));

    auto* security = new QGroupBox(QStringLiteral("Security"), this);
    enablePort_ = new QCheckBox(QStringLiteral("Enable Ethernet Port"), security);
    enablePort_->setObjectName(QStringLiteral("enablePort"));
    auto* securityLayout = new QVBoxLayout(security);
    securityLayout->addWidget(enablePort_);

    auto* address = new QGroupBox(QStringLiteral("IP Address"), this);
    useDhcp_ = new QCheckBox(QStringLiteral("Use DHCP"), address);
    useDhcp_->setObjectName(QStringLiteral("useDhcp"));
    ipAddress_ = NewAddressEdit(address, "ipAddress");
    netmask_ = NewAddressEdit(address, "netmask");
    gateway_ = NewAddressEdit(address, "gateway");
    auto* addressLayout = new QFormLayout(address);
    addressLayout->addRow(useDhcp_);
    addressLayout->addRow(QStringLiteral("IP Address:"), ipAddress_);
    addressLayout->addRow(QStringLiteral("Netmask:"), netmask_);
    addressLayout->addRow(QStringLiteral("Gateway:"), gateway_);

    const DialogButtonRow buttons = MakeApplyCancelRow(this, QStringLiteral("Apply Changes"));
    apply_ = buttons.apply;

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(security);
    layout->addWidget(address);
    layout->addLayout(buttons.layout);

    connect(enablePort_, &QCheckBox::clicked, this, &CEthernetDlg::UpdateEnabling);
    connect(useDhcp_, &QCheckBox::clicked, this, &CEthernetDlg::UpdateEnabling);
    for (QLineEdit* edit : {ipAddress_, netmask_, gateway_}) {
        connect(edit, &QLineEdit::textEdited, this, [this] { apply_->setEnabled(true); });
    }
    connect(apply_, &QPushButton::clicked, this, &CEthernetDlg::ApplyChanges);
    FillFromUnit();
    KeepTitleWhole(*this);
}

void CEthernetDlg::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        FillFromUnit();
    }
    QDialog::showEvent(event);
}

void CEthernetDlg::FillFromUnit() {
    const EthernetSettings ethernet = shared_.Results.Snapshot().ethernet;
    enablePort_->setChecked(ethernet.ethernetEnable != 0);
    useDhcp_->setChecked(ethernet.dhcpEnable != 0);
    ipAddress_->setText(QString::fromStdString(ShowIpv4Address(ethernet.ipAddress)));
    netmask_->setText(QString::fromStdString(ShowIpv4Address(ethernet.netmask)));
    gateway_->setText(QString::fromStdString(ShowIpv4Address(ethernet.gateway)));
    UpdateEnabling();
    apply_->setEnabled(false);
}

void CEthernetDlg::UpdateEnabling() {
    const bool port = enablePort_->isChecked();
    useDhcp_->setEnabled(port);
    for (QLineEdit* edit : {ipAddress_, netmask_, gateway_}) {
        edit->setEnabled(port && !useDhcp_->isChecked());
    }
    apply_->setEnabled(true);
}

void CEthernetDlg::ApplyChanges() {
    std::array<Ipv4Octets, 3> addresses{};
    struct Entry {
        QLineEdit* edit;
        const char* name;
        const char* example;
    };
    const Entry edits[] = {{ipAddress_, "IP Address", "172.16.24.84"},
                           {netmask_, "Netmask", "255.255.0.0"},
                           {gateway_, "Gateway", "172.16.24.12"}};
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        const auto [edit, name, example] = edits[i];
        const std::optional<Ipv4Octets> parsed = ParseIpv4Address(edit->text().toStdString());
        if (!parsed) {
            QMessageBox box(QMessageBox::Warning, QStringLiteral("Range Error"),
                            QStringLiteral("%1 must be four numbers from 0 to 255 separated by "
                                           "dots, for example %2")
                                .arg(QLatin1String(name), QLatin1String(example)),
                            QMessageBox::Ok, this);
            box.exec();
            if (edit->isEnabled()) {
                edit->setFocus();
                edit->selectAll();
            }
            return;
        }
        addresses[i] = *parsed;
    }
    const std::string argument = EthernetArgument(enablePort_->isChecked(), useDhcp_->isChecked(),
                                                  addresses[0], addresses[1], addresses[2]);
    const std::vector<SequenceCommand> commands{
        {"Ethernet settings",
         {.code = CommandCode(ECommand::kSetDccEthernet),
          .data = argument,
          .replyLimit = ReplyLimit(ECommand::kSetDccEthernet)}}};
    if (SendCommandSequence(shared_, commands, QStringLiteral("Ethernet Notification"), this)
            .AllAccepted()) {
        accept();
    }
}

}  // namespace corvane3
