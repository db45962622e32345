#pragma once
// Shows the polling thread's timed messages on the user-interface thread, one after another and
// in the order they were sent, each as a CTimedMessageDlg of kNotificationSeconds owned by no
// window. The sender never waits.

#include <QObject>
#include <deque>
#include <mutex>
#include <string>
#include <utility>

#include "core/poll/TimedMessageSink.h"

namespace corvane3 {

class CQueuedTimedMessages : public QObject, public ITimedMessageSink {
    Q_OBJECT
  public:
    explicit CQueuedTimedMessages(QObject* parent = nullptr) : QObject(parent) {}

    void ShowTimedMessage(const std::string& text, const std::string& title) override;

  signals:
    // Emitted as each message is put up (before it closes).
    void Showing(const QString& text, const QString& title);

  private:
    Q_INVOKABLE void ShowPending();

    std::mutex mutex_;
    std::deque<std::pair<std::string, std::string>> pending_;
    bool showing_ = false;  // user-interface thread only
};

}  // namespace corvane3
