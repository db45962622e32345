#pragma once
// A message that closes itself: shown modally with a title, it accepts itself after the given
// number of seconds unless the user closes it first.

#include <QDialog>
#include <QString>

class QTimer;

namespace corvane3 {

class CTimedMessageDlg : public QDialog {
    Q_OBJECT
  public:
    CTimedMessageDlg(const QString& text, const QString& title, int seconds,
                     QWidget* parent = nullptr);

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    QTimer* timer_;
    int seconds_;
};

// Seconds every change notification stays up.
inline constexpr int kNotificationSeconds = 2;

// Shows text titled title for kNotificationSeconds, modally, owned by parent (may be null).
void ShowNotification(const QString& text, const QString& title, QWidget* parent);

}  // namespace corvane3
