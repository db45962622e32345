#pragma once
// A value shared between threads behind a lock: readers take a copy, writers change it in place.

#include <mutex>

namespace corvane3 {

template <typename T>
class CGuarded {
  public:
    T Snapshot() const {
        std::lock_guard lock(mutex_);
        return value_;
    }
    // Runs change(value) under the lock. Keep it short: no exchanges with the unit inside.
    template <typename Change>
    void Update(Change&& change) {
        std::lock_guard lock(mutex_);
        change(value_);
    }

  private:
    mutable std::mutex mutex_;
    T value_{};
};

}  // namespace corvane3
