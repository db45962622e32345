#pragma once
// "Security": sets, changes or clears the instrument's user password. Opening asks the polling
// thread for a fresh security check and offers the fields that fit the answer: a protected unit
// takes the current password first (and may have its security disabled), an unprotected one
// only a new password and its confirmation. Apply sends "C08" (new password) or "C09" (clear)
// with the current password as parameter. User-interface thread only.

#include <QDialog>
#include <chrono>
#include <cstdint>

#include "core/poll/PollingShared.h"
#include "gui/security/AuthorizedCommand.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace corvane3 {

class CSecurity : public QDialog {
    Q_OBJECT
  public:
    // shared must outlive the dialog. waitLimit bounds each wait for the polling thread: for the
    // security check when the dialog opens, and for the command Apply sends.
    explicit CSecurity(CPollingShared& shared, QWidget* parent = nullptr,
                       std::chrono::milliseconds waitLimit = kBriefCommandWait.limit);

    // Requests a security check, empties the fields, waits for the check and then enables the
    // fields for a protected or an unprotected unit. Runs whenever the dialog is shown, and again
    // after the unit refused a password.
    void RunOpeningSequence();

    // Cancel, Escape and closing the window are ignored while the dialog waits for the thread.
    void reject() override;
    // Showing the dialog runs the opening sequence first.
    void setVisible(bool visible) override;

  private:
    void Apply();
    void SendPasswordCommand(const MailboxCommand& command);

    CPollingShared& shared_;
    std::chrono::milliseconds waitLimit_;

    std::uint32_t newPassword_ = 0;
    std::uint32_t currentPassword_ = 0;
    std::uint32_t confirmPassword_ = 0;
    bool disableSecurity_ = false;
    bool waiting_ = false;

    QLineEdit* current_ = nullptr;
    QLineEdit* new_ = nullptr;
    QLineEdit* confirm_ = nullptr;
    QCheckBox* disable_ = nullptr;
    QPushButton* apply_ = nullptr;
};

}  // namespace corvane3
