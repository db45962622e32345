#pragma once
// Plays the user's part for modal dialogs opened with exec(): each is handed to the test's handler
// once its event loop runs. Timed messages and message boxes are recorded and closed at once. A
// dialog left open after an unexpected message would wait for ever: the test fails instead.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <ostream>
#include <vector>

#include "gui/common/TimedMessageDlg.h"

namespace corvane3::testing {

class ModalDialogDriver {
  public:
    struct Message {
        QString title;
        QString text;
        bool operator==(const Message&) const = default;
        friend void PrintTo(const Message& m, std::ostream* out) {
            *out << m.title.toStdString() << ": " << m.text.toStdString();
        }
    };

    explicit ModalDialogDriver(std::function<void(QDialog&)> handler = {})
        : handler_(std::move(handler)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { Look(); });
        timer_.start(kLookPeriodMs);
    }

    // Timed messages and message boxes in the order they came.
    const std::vector<Message>& Messages() const { return messages_; }
    // How many other dialogs were handed to the handler.
    int Dialogs() const { return dialogs_; }

  private:
    static constexpr int kLookPeriodMs = 5;

    void Look() {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr || !dialog->isVisible() ||
            std::find(handled_.begin(), handled_.end(), dialog) != handled_.end()) {
            return;
        }
        handled_.emplace_back(dialog);
        const auto* box = qobject_cast<QMessageBox*>(dialog);
        const bool timed = box != nullptr || qobject_cast<CTimedMessageDlg*>(dialog) != nullptr;
        if (timed) {
            messages_.push_back(
                {dialog->windowTitle(),
                 box != nullptr ? box->text() : dialog->findChild<QLabel*>("message")->text()});
        } else {
            ++dialogs_;
        }
        // Acting from this slot would keep a nested dialog's exec() inside it, and the timer
        // does not fire again while its slot runs; the action runs from the event loop instead.
        QTimer::singleShot(0, dialog, [this, dialog, timed] {
            if (timed) {
                dialog->accept();
            } else if (handler_) {
                const std::size_t messagesBefore = messages_.size();
                const QPointer<QDialog> alive(dialog);
                handler_(*dialog);
                if (alive && alive->isVisible() && messages_.size() > messagesBefore) {
                    ADD_FAILURE() << "\"" << alive->windowTitle().toStdString()
                                  << "\" was left open after the unexpected message \""
                                  << messages_.back().text.toStdString() << "\"";
                    alive->reject();
                }
            }
        });
    }

    std::function<void(QDialog&)> handler_;
    QTimer timer_;
    std::vector<QPointer<QDialog>> handled_;
    std::vector<Message> messages_;
    int dialogs_ = 0;
};

// Runs the window's command with handler playing the user in the dialog it opens; the messages
// shown meanwhile.
template <typename Window>
std::vector<ModalDialogDriver::Message> RunAsUser(Window& window, int command,
                                                  std::function<void(QDialog&)> handler) {
    const ModalDialogDriver driver(std::move(handler));
    window.RunCommand(command);
    return driver.Messages();
}

}  // namespace corvane3::testing
