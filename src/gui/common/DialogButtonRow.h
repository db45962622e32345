#pragma once
// The foot of a settings dialog: its apply button (the default button, objectName "apply") and
// "Cancel" (objectName "cancel", rejects the dialog), right-aligned. Add the layout last.

#include <QString>

class QDialog;
class QHBoxLayout;
class QPushButton;

namespace corvane3 {

struct DialogButtonRow {
    QHBoxLayout* layout;
    QPushButton* apply;
    QPushButton* cancel;
};

DialogButtonRow MakeApplyCancelRow(QDialog* dialog, const QString& applyText);

}  // namespace corvane3
