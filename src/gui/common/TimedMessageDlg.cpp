#include "gui/common/TimedMessageDlg.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

#include "gui/common/WholeTitle.h"

namespace corvane3 {

namespace {
constexpr int kMillisecondsPerSecond = 1000;
}

CTimedMessageDlg::CTimedMessageDlg(const QString& text, const QString& title, int seconds,
                                   QWidget* parent)
    : QDialog(parent), timer_(new QTimer(this)), seconds_(seconds) {
    setWindowTitle(title);
    auto* layout = new QVBoxLayout(this);
    auto* message = new QLabel(text, this);
    message->setObjectName(QStringLiteral("message"));
    message->setAlignment(Qt::AlignCenter);
    message->setMinimumWidth(240);
    layout->addWidget(message);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    timer_->setSingleShot(true);
    connect(timer_, &QTimer::timeout, this, &QDialog::accept);
    KeepTitleWhole(*this);
}

void ShowNotification(const QString& text, const QString& title, QWidget* parent) {
    CTimedMessageDlg message(text, title, kNotificationSeconds, parent);
    message.exec();
}

void CTimedMessageDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    timer_->start(seconds_ * kMillisecondsPerSecond);
}

}  // namespace corvane3
