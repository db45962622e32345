#include "gui/settings/PpsSyncDlg.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/link/CommandCodes.h"
#include "core/link/Notification.h"
#include "gui/common/DialogButtonRow.h"
#include "gui/common/WholeTitle.h"
#include "gui/security/AuthorizedCommand.h"

namespace corvane3 {

CPpsSyncDlg::CPpsSyncDlg(CPollingShared& shared, QWidget* parent)
    : QDialog(parent), shared_(shared) {
    setWindowTitle(QStringLiteral("Synchronize 1 PPS to External Source"));
    setObjectName(QStringLiteral("ppsSyncDialog"));
    auto* layout = new QVBoxLayout(this);
    for (const char* text : {"Attach a 1 PPS source (nominal 20 \u00b5sec pulse width)",
                             "to the 1PPS Sync input of the cesium instrument.",
                             "Click the Sync button to initiate synchronization"}) {
        layout->addWidget(new QLabel(QString::fromUtf8(text), this));
    }
    const DialogButtonRow buttons = MakeApplyCancelRow(this, QStringLiteral("Sync"));
    layout->addLayout(buttons.layout);
    connect(buttons.apply, &QPushButton::clicked, this, &CPpsSyncDlg::Sync);
    KeepTitleWhole(*this);
}

void CPpsSyncDlg::Sync() {
    const MailboxCommand command{.code = CommandCode(ECommand::kPpsSyncEnable),
                                 .replyLimit = ReplyLimit(ECommand::kPpsSyncEnable),
                                 .notificationCode = kNotifyPpsSyncDone};
    if (shared_.mailbox.TrySend(command)) {
        NoteCommandSender(parentWidget());
        accept();
    }
}

}  // namespace corvane3
