#pragma once
// Widget tests: one QApplication for the whole test program (Qt allows one per process), destroyed
// after the last test so that its font and platform resources do not show as leaks.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QWidget>
#include <functional>
#include <memory>

#include "core/base/CLocale.h"

namespace corvane3::testing {

class WidgetTestEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "corvane3-gui-test";
        static char* argv[] = {name, nullptr};
        application_ = std::make_unique<QApplication>(argc, argv);
        // As the program does once its application object exists.
        UseCLocaleConventions();
    }
    void TearDown() override { application_.reset(); }

  private:
    std::unique_ptr<QApplication> application_;
};

// Registered once per test program, before main runs the tests (gtest owns the environment).
inline ::testing::Environment* const kWidgetTestEnvironment =
    ::testing::AddGlobalTestEnvironment(new WidgetTestEnvironment);

// Base of widget test fixtures; the application exists while any of them runs.
class WidgetTest : public ::testing::Test {};

// Processes events until done() or the time-out; returns done().
inline bool ProcessEventsUntil(const std::function<bool()>& done, int timeoutMs = 30000) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < timeoutMs) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return done();
}

inline void SendKey(QWidget& widget, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(&widget, &press);
}

}  // namespace corvane3::testing
