#pragma once
// The user's part in a test that sits in a modal run: each step acts once its condition holds, in
// order, posted to the event loop so that one opening a modal window does not hold up the next.

#include <QApplication>
#include <QDeadlineTimer>
#include <QTimer>
#include <chrono>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace corvane3::testing {

class ModalScript {
  public:
    using Step = std::pair<std::function<bool()>, std::function<void()>>;

    explicit ModalScript(std::vector<Step> steps = {}) : steps_(std::move(steps)) {}
    ModalScript& Then(std::function<bool()> ready, std::function<void()> act) {
        steps_.emplace_back(std::move(ready), std::move(act));
        return *this;
    }
    // Starts looking. Past the deadline, when one is given, whatever is modal is closed, so that
    // the test ends instead of hanging.
    void Start(std::optional<std::chrono::milliseconds> deadline = std::nullopt) {
        if (deadline) {
            deadline_.setRemainingTime(*deadline);
        }
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (next_ < steps_.size() && steps_[next_].first()) {
                QTimer::singleShot(0, steps_[next_++].second);
            } else if (deadline_.hasExpired() && QApplication::activeModalWidget() != nullptr) {
                QMetaObject::invokeMethod(QApplication::activeModalWidget(), "reject",
                                          Qt::QueuedConnection);
            }
        });
        timer_.start(kLookPeriodMs);
    }
    bool Done() const { return next_ == steps_.size(); }

  private:
    static constexpr int kLookPeriodMs = 10;
    std::vector<Step> steps_;
    std::size_t next_ = 0;
    QTimer timer_;
    QDeadlineTimer deadline_{QDeadlineTimer::Forever};
};

}  // namespace corvane3::testing
