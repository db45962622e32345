#pragma once
// One message box over a window that waits for nobody: a new message while it is still up
// replaces the text there, so a problem said again and again is one box, not a pile of them.
// User-interface thread only.

#include <QMessageBox>
#include <QPointer>
#include <QString>

class QWidget;

namespace corvane3 {

class CUpdatingMessage {
  public:
    CUpdatingMessage(QWidget* owner, QString objectName, QMessageBox::Icon icon)
        : owner_(owner), objectName_(std::move(objectName)), icon_(icon) {}
    // Shows text under title, in the box already up or a new one.
    void Show(const QString& text, const QString& title);

  private:
    QWidget* owner_;
    QString objectName_;
    QMessageBox::Icon icon_;
    QPointer<QMessageBox> box_;
};

}  // namespace corvane3
