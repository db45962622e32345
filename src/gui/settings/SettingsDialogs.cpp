#include "gui/settings/SettingsDialogs.h"

#include <QMessageBox>
#include <string>

namespace corvane3 {

void ShowRangeError(const QString& text, QWidget* parent) {
    QMessageBox box(QMessageBox::Warning, kBlankTitle, text, QMessageBox::Ok, parent);
    box.exec();
}

QString FromUnitText(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace corvane3
