#pragma once
// The instrument's transmitter: a queue of output written to a non-blocking descriptor, either
// at once or at the line's character rate, with optional pauses between pieces. It never
// blocks, so the serving loop keeps reading commands while a long reply or a sweep goes out.

#include <chrono>
#include <deque>
#include <optional>
#include <string>

namespace corvane3::sim {

class CReplyWriter {
  public:
    using Clock = std::chrono::steady_clock;

    // Zero sends at once; otherwise one character per characterTime.
    void SetCharacterTime(std::chrono::nanoseconds characterTime) {
        characterTime_ = characterTime;
    }
    // Queues bytes that go out pauseBefore after the previous output (or after now when idle).
    void Enqueue(std::string bytes, std::chrono::nanoseconds pauseBefore, Clock::time_point now);
    // Writes what is due by now. False when the descriptor failed (the peer is gone).
    bool Pump(int fd, Clock::time_point now);
    // When Pump has more to write; nullopt when nothing is queued or the descriptor is full
    // (then wait until it is writable).
    std::optional<Clock::time_point> NextDue() const;
    bool WaitsForWritable() const { return blocked_; }
    bool Idle() const { return queue_.empty(); }
    void Clear();

  private:
    struct Piece {
        std::string bytes;
        std::chrono::nanoseconds pauseBefore;
    };
    std::deque<Piece> queue_;
    std::size_t sent_ = 0;            // bytes of the front piece already written
    Clock::time_point frontStart_{};  // when the front piece's first byte is due
    std::chrono::nanoseconds characterTime_{0};
    bool blocked_ = false;
};

}  // namespace corvane3::sim
