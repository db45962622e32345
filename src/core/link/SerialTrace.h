#pragma once
// Writes what passes through the serial port to a traffic transcript (see TrafficLog.h), as the
// instrument sees it: each frame the program writes is an "RX" line (its head, data and ETX go
// out in separate writes), each reply it reads a "TX" line (a line of line-oriented output, ended
// by LF, is a line of its own unless the ETX of a reply follows it), and port resets are notes.
// A transcript of a unit in the field can then be replayed by the simulator.
//
// Passwords never reach the file: a parameter field other than "00000" (a password or the
// factory access field) is written as "*****", and so is its echo at the head of the reply, and
// the data of a command that carries a new password.
//
// Thread-safe: the polling thread and the spectrum window both write through the port.

#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "core/link/TrafficLog.h"

namespace corvane3 {

class CSerialTrace {
  public:
    CSerialTrace() = default;
    ~CSerialTrace() { Close(); }
    CSerialTrace(const CSerialTrace&) = delete;
    CSerialTrace& operator=(const CSerialTrace&) = delete;

    // Starts a new transcript at file (truncating an old one). False, with the reason when
    // asked, when it cannot be written.
    bool Open(const std::filesystem::path& file, std::string* reason = nullptr);
    bool IsOpen() const;
    // Writes what is still held, then closes the file.
    void Close();

    // The program is writing bytes (a frame, or a piece of one) to the instrument.
    void Written(std::string_view bytes);
    // The program has read bytes from the instrument.
    void Read(std::string_view bytes);
    // Something happened to the port, such as a reset.
    void Note(std::string_view text);

    // Called once, on the thread that was writing, with the reason when the file takes no more
    // and the transcript stops; the traffic itself goes on. Set before the port uses the trace.
    void SetStoppedHandler(std::function<void(const std::string& reason)> handler);
    // Why the transcript stopped early; empty while it goes on.
    std::string Failure() const;

  private:
    using Clock = std::chrono::system_clock;

    void FlushLocked();
    void FlushWrittenLocked();
    void FlushReadLocked(Clock::time_point when);
    void WriteLocked(ETrafficDirection direction, std::string_view bytes,
                     Clock::time_point when = Clock::now());

    mutable std::mutex mutex_;
    CTrafficLog log_;
    std::string unwritten_;      // the frame being written, not yet ended by ETX
    std::string unread_;         // what was read since the last TX line
    bool lineEnded_ = false;     // unread_ ends in LF: an ETX may still follow
    Clock::time_point lineEnd_;  // when that LF arrived
    std::string secret_;         // the masked parameter field of the last frame, "" for none
    std::function<void(const std::string&)> stopped_;
};

// The frame as a transcript shows it: passwords and the factory access field masked.
std::string MaskTracedFrame(std::string_view frame);

}  // namespace corvane3
