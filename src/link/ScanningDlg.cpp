#include "link/ScanningDlg.h"

#include <QPushButton>
#include <QVBoxLayout>

namespace corvane3 {

CScanningDlg::CScanningDlg(CPollingShared& shared, QWidget* parent)
    : QDialog(parent), shared_(shared) {
    setWindowTitle(QStringLiteral("Scanning ..."));
    setObjectName(QStringLiteral("scanningDialog"));
    auto* layout = new QVBoxLayout(this);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancel"));
    layout->addWidget(cancel);
    connect(cancel, &QPushButton::clicked, this, &CScanningDlg::reject);
}

void CScanningDlg::reject() {
    shared_.AutoDetect = false;
    QDialog::reject();
}

}  // namespace corvane3
