#include "gui/common/DialogButtonRow.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QPushButton>

namespace corvane3 {

DialogButtonRow MakeApplyCancelRow(QDialog* dialog, const QString& applyText) {
    DialogButtonRow row{new QHBoxLayout, new QPushButton(applyText, dialog),
                        new QPushButton(QStringLiteral("Cancel"), dialog)};
    row.apply->setObjectName(QStringLiteral("apply"));
    row.apply->setDefault(true);
    row.cancel->setObjectName(QStringLiteral("cancel"));
    row.cancel->setAutoDefault(false);
    row.layout->addStretch(1);
    row.layout->addWidget(row.apply);
    row.layout->addWidget(row.cancel);
    QObject::connect(row.cancel, &QPushButton::clicked, dialog, &QDialog::reject);
    return row;
}

}  // namespace corvane3
