#pragma once
// Waiting on the user-interface thread for work done elsewhere: windows keep painting and
// notifications keep arriving, but user input is held back until the wait ends, so the waiting
// window cannot be used or closed half-way through.

#include <chrono>
#include <functional>

namespace corvane3 {

// Runs the event loop, without user input, while busy() is true and the limit has not passed.
// True when busy() became false.
bool WaitWhile(const std::function<bool()>& busy, std::chrono::milliseconds limit);

}  // namespace corvane3
