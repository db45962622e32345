#pragma once
// Runs the event loop until a condition holds, for widget tests that wait on the polling thread.

#include <QApplication>
#include <QElapsedTimer>
#include <functional>

namespace corvane3::testing {

// Processes events until done() or the time-out; returns done().
inline bool ProcessEventsUntil(const std::function<bool()>& done, int timeoutMs = 30000) {
    constexpr int kSliceMs = 50;
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < timeoutMs) {
        QApplication::processEvents(QEventLoop::AllEvents, kSliceMs);
    }
    return done();
}

}  // namespace corvane3::testing
