#include "gui/common/HeldInputWait.h"

#include <QEventLoop>
#include <QTimer>
#include <algorithm>

namespace corvane3 {

namespace {
// How often a wait looks again: short beside the polling thread's 250 ms passes, so a waiting
// window goes on soon after the work is done.
constexpr std::chrono::milliseconds kWaitLookPeriod{10};
}  // namespace

bool WaitWhile(const std::function<bool()>& busy, std::chrono::milliseconds limit) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + limit;
    while (busy()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left <= std::chrono::milliseconds::zero()) {
            return false;
        }
        QEventLoop loop;
        QTimer::singleShot(std::min(left, kWaitLookPeriod), &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    return true;
}

}  // namespace corvane3
