#pragma once
// Widget tests: one QApplication for the whole test program, made before the first test and
// destroyed after the last (Qt allows only one per process, and its destruction releases the
// font and platform resources that would otherwise show as leaks); and a wait on the event loop
// for tests that wait on the polling thread.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
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

}  // namespace corvane3::testing
