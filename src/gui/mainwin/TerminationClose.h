#pragma once
// Ending the windows on a termination request (Ctrl-C, SIGTERM, a hang-up) as Exit ends them.

#include <QObject>
#include <QTimer>
#include <atomic>

namespace corvane3 {

// Closes every window as Exit closes it. A spectrum window ends its run and sends what closing
// it sends without asking first (nobody may be there to answer); the others close as usual.
// User-interface thread only.
void CloseWindowsOnTermination();

// Looks for a termination request a few times a second. Once one came it closes the windows,
// and closes them again at every look: a window that could not close while a nested dialog
// was being answered (its closing question) closes at the next look. User-interface thread.
class CTerminationWatch : public QObject {
  public:
    // requested is taken (cleared) when seen; it must outlive the watch.
    explicit CTerminationWatch(std::atomic<bool>& requested, QObject* parent = nullptr);

  private:
    std::atomic<bool>& requested_;
    bool terminating_ = false;
    QTimer timer_;
};

}  // namespace corvane3
