// The main window's offers to reach the unit another way: to attach to the logging service
// that holds the port, and to take the port itself when the service it was attached to is gone.
// Each asks in a box that holds neither polling nor the window; a Yes closes the window for the
// program to open it again the chosen way.

#include <QPushButton>

#include "core/control/ServiceSocket.h"
#include "core/link/MainStatusText.h"
#include "core/link/SerialDevice.h"
#include "gui/mainwin/MainStatusDlg.h"

namespace corvane3 {

void CMainStatusDlg::ShowServiceGone() {
    // The service owned the port: this window can neither see nor command the unit any more.
    SetStale(true);
    UpdateTitle();
    panes_[1]->setText(QStringLiteral("The logging service is gone"));
    AskWithoutWaiting(
        QStringLiteral("serviceGoneMessage"), QMessageBox::Warning,
        QStringLiteral("The logging service this window was attached to is gone: the unit is "
                       "neither watched nor recorded through it.\nUse the port from this window? "
                       "It watches the unit itself once the port is free."),
        [this] { ChooseLink(""); });
}

void CMainStatusDlg::OfferToAttach() {
    const std::string port = app_.serialPort.Settings().name;
    const std::string held = app_.serialPort.LastOpenError();
    if (viaService_ || !attachOffered_ || !held.starts_with(kPortInUse)) {
        return;
    }
    const std::optional<std::string> socket = HolderControlSocket(port);
    if (!socket) {
        return;
    }
    attachOffered_ = false;  // asked once: a No is not asked again
    AskWithoutWaiting(
        QStringLiteral("attachQuestion"), QMessageBox::Question,
        QString::fromStdString(port + " is " + held +
                               ", a logging service that serves the unit on " + *socket +
                               ".\nAttach to it, to watch and command the unit "
                               "through the service?"),
        [this, socket] { ChooseLink(*socket); });
}

void CMainStatusDlg::AskWithoutWaiting(const QString& name, QMessageBox::Icon icon,
                                       const QString& text, std::function<void()> yes) {
    auto* box = new QMessageBox(icon, QStringLiteral("Corvane3"), text,
                                QMessageBox::Yes | QMessageBox::No, this);
    box->setObjectName(name);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    connect(box, &QMessageBox::buttonClicked, this,
            [box, yes = std::move(yes)](QAbstractButton* button) {
                if (box->standardButton(button) == QMessageBox::Yes) {
                    yes();
                }
            });
    box->show();
}

void CMainStatusDlg::ChooseLink(const std::string& socket) {
    chosenLink_ = socket;
    accept();
}

}  // namespace corvane3
