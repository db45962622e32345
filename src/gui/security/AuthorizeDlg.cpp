#include "gui/security/AuthorizeDlg.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>
#include <cstdlib>
#include <string>

#include "gui/common/DialogButtonRow.h"
#include "gui/common/TimedMessageDlg.h"
#include "gui/common/WholeTitle.h"

namespace corvane3 {

namespace {

// A password is read from no more than this many characters of its edit.
constexpr qsizetype kPasswordTextLimit = 255;
// The prompt is a small window: about 46 average characters wide.
constexpr int kWidthCharacters = 46;

}  // namespace

long long PasswordTextValue(const QString& text) {
    const std::string digits = text.left(kPasswordTextLimit).toStdString();
    return std::strtoll(digits.c_str(), nullptr, 10);
}

CAuthorize::CAuthorize(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Authorize Command"));
    setObjectName(QStringLiteral("authorizeDialog"));

    auto* prompt = new QLabel(QStringLiteral("Enter Password"), this);
    edit_ = new QLineEdit(this);
    edit_->setObjectName(QStringLiteral("password"));
    edit_->setEchoMode(QLineEdit::Password);
    prompt->setBuddy(edit_);

    const DialogButtonRow buttons = MakeApplyCancelRow(this, QStringLiteral("Apply"));
    apply_ = buttons.apply;
    apply_->setEnabled(false);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(prompt);
    layout->addWidget(edit_);
    layout->addLayout(buttons.layout);
    setMinimumWidth(fontMetrics().averageCharWidth() * kWidthCharacters);

    connect(edit_, &QLineEdit::textChanged, this, [this] { apply_->setEnabled(true); });
    connect(apply_, &QPushButton::clicked, this, &CAuthorize::Apply);
    KeepTitleWhole(*this);
}

void CAuthorize::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        password_ = 0;
        ResetEdit();
        apply_->setEnabled(false);
    }
    QDialog::showEvent(event);
}

void CAuthorize::ResetEdit() {
    edit_->clear();
    edit_->setEnabled(true);
    edit_->setFocus();
}

void CAuthorize::Apply() {
    const long long value = PasswordTextValue(edit_->text());
    if (IsPasswordInRange(value)) {
        password_ = static_cast<std::uint32_t>(value);
        accept();
        return;
    }
    ShowNotification(QStringLiteral("Password must be between 1-99999"),
                     QStringLiteral("Security Notification"), this);
    ResetEdit();
}

}  // namespace corvane3
