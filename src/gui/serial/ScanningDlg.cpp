#include "gui/serial/ScanningDlg.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QVBoxLayout>

#include "gui/common/WholeTitle.h"

namespace corvane3 {

namespace {
// Room for a long device path and all four settings on one line.
constexpr int kWidthCharacters = 70;
// Gap between the dialog that started the search and this window.
constexpr int kGapPixels = 8;

QString ParityText(std::uint32_t parity) {
    switch (parity) {
        case kParityNone:
            return QStringLiteral("No");
        case kParityOdd:
            return QStringLiteral("Odd");
        case kParityEven:
            return QStringLiteral("Even");
        case kParityMark:
            return QStringLiteral("Mark");
        case kParitySpace:
            return QStringLiteral("Space");
        default:
            return QStringLiteral("Unknown");
    }
}

QString StopBitsText(std::uint32_t stopBits) {
    switch (stopBits) {
        case kStopBitsOne:
            return QStringLiteral("1");
        case kStopBitsOneAndHalf:
            return QStringLiteral("1.5");
        default:
            return QStringLiteral("2");
    }
}
}  // namespace

QString SearchAttemptText(const SerialLineSettings& line) {
    return QStringLiteral("Trying %1 at %2 baud, %3 data bits, %4 parity, %5 stop bits")
        .arg(QString::fromStdString(CSerialPort::DevicePathForName(line.name)))
        .arg(line.baudRate)
        .arg(line.dataBits)
        .arg(ParityText(line.parity), StopBitsText(line.stopBits));
}

CScanningDlg::CScanningDlg(CPollingShared& shared, QWidget* parent)
    : QDialog(parent), shared_(shared) {
    setWindowTitle(QStringLiteral("Scanning ..."));
    setObjectName(QStringLiteral("scanningDialog"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Searching for the instrument..."), this));
    attempt_ = new QLabel(this);
    attempt_->setObjectName(QStringLiteral("attempt"));
    layout->addWidget(attempt_);
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* cancel = buttons->addButton(QDialogButtonBox::Cancel);
    cancel->setObjectName(QStringLiteral("cancel"));
    layout->addWidget(buttons);
    connect(cancel, &QPushButton::clicked, this, &CScanningDlg::reject);
    setMinimumWidth(fontMetrics().averageCharWidth() * kWidthCharacters);
    KeepTitleWhole(*this);
}

void CScanningDlg::ShowAttempt(const SerialLineSettings& line) {
    attempt_->setText(SearchAttemptText(line));
}

QString CScanningDlg::AttemptText() const {
    return attempt_->text();
}

void CScanningDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) {
        cancelled_ = false;
    }
    // Below the dialog that started the search when the screen has room, else where the
    // window system puts it.
    QWidget* owner = parentWidget();
    if (owner == nullptr || owner->screen() == nullptr) {
        return;
    }
    const QRect screen = owner->screen()->availableGeometry();
    const QPoint below = owner->frameGeometry().bottomLeft() + QPoint(0, kGapPixels);
    if (screen.contains(QRect(below, frameGeometry().size()))) {
        move(below);
    }
}

void CScanningDlg::reject() {
    cancelled_ = true;
    shared_.AutoDetect = false;
    QDialog::reject();
}

}  // namespace corvane3
