#include "gui/security/SecurityDlg.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <utility>

#include "core/link/CommandCodes.h"
#include "gui/common/DialogButtonRow.h"
#include "gui/common/TimedMessageDlg.h"
#include "gui/common/WholeTitle.h"
#include "gui/security/AuthorizeDlg.h"

namespace corvane3 {

namespace {

constexpr char kNotificationTitle[] = "Security Notification";
constexpr char kRangeMessage[] = "Password must be between 1-99999";
// The window is about 46 average characters wide.
constexpr int kWidthCharacters = 46;

// Empties an edit without counting that as the user's change.
void Empty(QLineEdit* edit) {
    const QSignalBlocker blocker(edit);
    edit->clear();
}

QLineEdit* PasswordEdit(const char* name, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    edit->setEchoMode(QLineEdit::Password);
    return edit;
}

// The new password as the unit expects it: five digits, zero-padded.
std::string PasswordData(std::uint32_t password) {
    char text[24];
    std::snprintf(text, sizeof text, "%05ld", static_cast<long>(password));
    return text;
}

}  // namespace

CSecurity::CSecurity(CPollingShared& shared, QWidget* parent, std::chrono::milliseconds waitLimit)
    : QDialog(parent), shared_(shared), waitLimit_(waitLimit) {
    setWindowTitle(QStringLiteral("Security"));
    setObjectName(QStringLiteral("securityDialog"));

    current_ = PasswordEdit("currentPassword", this);
    new_ = PasswordEdit("newPassword", this);
    confirm_ = PasswordEdit("confirmPassword", this);
    auto* fields = new QGridLayout;
    const std::pair<const char*, QLineEdit*> rows[] = {
        {"Current Password", current_}, {"New Password", new_}, {"Confirm Password", confirm_}};
    int row = 0;
    for (const auto& [text, edit] : rows) {
        auto* label = new QLabel(QLatin1String(text), this);
        label->setBuddy(edit);
        fields->addWidget(label, row, 0);
        fields->addWidget(edit, row, 1);
        ++row;
    }
    auto* note = new QLabel(QStringLiteral("Password is 5 digits (00001 - 99999)"), this);
    disable_ = new QCheckBox(QStringLiteral("Disable Security"), this);
    disable_->setObjectName(QStringLiteral("disableSecurity"));

    const DialogButtonRow buttons = MakeApplyCancelRow(this, QStringLiteral("Apply"));
    apply_ = buttons.apply;

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addWidget(note);
    layout->addWidget(disable_);
    layout->addStretch(1);
    layout->addLayout(buttons.layout);
    setMinimumWidth(fontMetrics().averageCharWidth() * kWidthCharacters);

    // Each field opens the next one; the confirmation opens Apply.
    connect(current_, &QLineEdit::textChanged, this, [this] { new_->setEnabled(true); });
    connect(new_, &QLineEdit::textChanged, this, [this] { confirm_->setEnabled(true); });
    connect(confirm_, &QLineEdit::textChanged, this, [this] { apply_->setEnabled(true); });
    connect(disable_, &QCheckBox::clicked, this, [this](bool checked) {
        disableSecurity_ = checked;
        new_->setEnabled(false);
        apply_->setEnabled(true);
    });
    connect(apply_, &QPushButton::clicked, this, &CSecurity::Apply);
    KeepTitleWhole(*this);
}

void CSecurity::setVisible(bool visible) {
    // The unit is asked before the window appears, so it opens with the right fields enabled.
    if (visible && !isVisible()) {
        RunOpeningSequence();
    }
    QDialog::setVisible(visible);
}

void CSecurity::reject() {
    if (!waiting_) {
        QDialog::reject();
    }
}

void CSecurity::RunOpeningSequence() {
    if (!shared_.IsRequested(ERequest::kSecurityCheck)) {
        shared_.SetRequest(ERequest::kSecurityCheck);
    }
    newPassword_ = 0;
    currentPassword_ = 0;
    confirmPassword_ = 0;
    disableSecurity_ = false;
    apply_->setEnabled(false);
    Empty(current_);
    Empty(new_);
    Empty(confirm_);
    disable_->setChecked(false);
    // Nothing can be typed until the unit has said which fields apply.
    for (QWidget* control : std::initializer_list<QWidget*>{current_, new_, confirm_, disable_}) {
        control->setEnabled(false);
    }
    waiting_ = true;
    WaitWhile([this] { return shared_.IsRequested(ERequest::kSecurityCheck); }, waitLimit_);
    waiting_ = false;

    const bool secured = shared_.SecurityStatus;
    disable_->setEnabled(secured);
    current_->setEnabled(secured);
    new_->setEnabled(!secured);
    confirm_->setEnabled(false);
    (secured ? current_ : new_)->setFocus();
}

void CSecurity::Apply() {
    if (shared_.SecurityStatus) {
        const long long current = PasswordTextValue(current_->text());
        if (!IsPasswordInRange(current)) {
            ShowNotification(kRangeMessage, QStringLiteral("Current Password"), this);
            currentPassword_ = 0;
            Empty(current_);
            Empty(new_);
            Empty(confirm_);
            confirm_->setEnabled(false);
            new_->setEnabled(false);
            current_->setEnabled(true);
            current_->setFocus();
            return;
        }
        currentPassword_ = static_cast<std::uint32_t>(current);
    }

    MailboxCommand command;
    if (disableSecurity_) {
        command.code = CommandCode(ECommand::kClearPassword);
    } else {
        const long long password = PasswordTextValue(new_->text());
        if (!IsPasswordInRange(password)) {
            ShowNotification(kRangeMessage, QStringLiteral("New Password"), this);
            newPassword_ = 0;
            current_->setEnabled(false);
            Empty(confirm_);
            Empty(new_);
            new_->setEnabled(true);
            new_->setFocus();
            confirm_->setEnabled(false);
            return;
        }
        newPassword_ = static_cast<std::uint32_t>(password);
        const long long confirmation = PasswordTextValue(confirm_->text());
        if (confirmation != password) {
            ShowNotification(QStringLiteral("Confirm Password does not match"),
                             QStringLiteral("Confirm Password"), this);
            newPassword_ = 0;
            current_->setEnabled(false);
            new_->setEnabled(false);
            Empty(confirm_);
            confirm_->setEnabled(true);
            confirm_->setFocus();
            return;
        }
        confirmPassword_ = static_cast<std::uint32_t>(confirmation);
        command.code = CommandCode(ECommand::kSetPassword);
        command.data = PasswordData(newPassword_);
    }
    command.parameter = currentPassword_;
    command.replyLimit = ReplyLimit(ECommand::kSetPassword);
    command.notificationCode = 0;
    SendPasswordCommand(command);
}

void CSecurity::SendPasswordCommand(const MailboxCommand& command) {
    waiting_ = true;
    // A command another window handed over first is let through rather than overwritten.
    WaitWhile([this] { return shared_.mailbox.IsPending(); }, waitLimit_);
    const ECommandOutcome outcome = SendCheckedCommand(shared_, command, kNotificationTitle, this,
                                                       CommandWait{waitLimit_, false});
    waiting_ = false;
    switch (outcome) {
        case ECommandOutcome::kDone:
            if (ReplyCameWhole(shared_, kNotificationTitle, this)) {
                accept();
            }
            break;
        case ECommandOutcome::kRefused:
            RunOpeningSequence();
            break;
        case ECommandOutcome::kBusy:
            ShowNotification(
                QStringLiteral("Another command is still being sent; please try again"),
                kNotificationTitle, this);
            break;
        case ECommandOutcome::kCancelled:
        case ECommandOutcome::kNotFinished:
        case ECommandOutcome::kWithdrawn:  // already told
            break;                        // no prompt, and the wait is not until done
    }
}

}  // namespace corvane3
