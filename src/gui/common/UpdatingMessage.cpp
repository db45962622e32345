#include "gui/common/UpdatingMessage.h"

namespace corvane3 {

void CUpdatingMessage::Show(const QString& text, const QString& title) {
    if (box_ == nullptr) {
        box_ = new QMessageBox(icon_, QString(), QString(), QMessageBox::Ok, owner_);
        box_->setObjectName(objectName_);
        box_->setAttribute(Qt::WA_DeleteOnClose);
        box_->setWindowModality(Qt::NonModal);
    }
    box_->setWindowTitle(title);
    box_->setText(text);
    box_->show();
}

}  // namespace corvane3
