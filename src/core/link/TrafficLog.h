#pragma once
// A transcript of the traffic with the instrument, seen from the instrument's side: one line per
// frame it received ("RX"), per piece of output it sent ("TX") and per event such as a
// disconnect ("--"), each with a local time stamp, the bytes escaped as in EscapeBytes:
//   2025-01-15T10:00:00.123 RX \x02D*1 00000 \x03
// Lines are flushed as they are written, so a transcript can be followed while it grows. The
// simulator writes it (--log), the program writes it from the serial port (--trace), and the
// simulator answers from one (--replay).

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace corvane3 {

enum class ETrafficDirection { kReceived, kSent, kNote };

struct TrafficEntry {
    std::string timeStamp;
    ETrafficDirection direction = ETrafficDirection::kNote;
    std::string bytes;  // unescaped; the note's text for kNote
};

std::string FormatTrafficLine(std::chrono::system_clock::time_point when,
                              ETrafficDirection direction, std::string_view bytes);
// nullopt for a line that is not in the format above.
std::optional<TrafficEntry> ParseTrafficLine(std::string_view line);

class CTrafficLog {
  public:
    CTrafficLog() = default;
    ~CTrafficLog() { Close(); }
    CTrafficLog(const CTrafficLog&) = delete;
    CTrafficLog& operator=(const CTrafficLog&) = delete;

    // Starts a new transcript file (truncating an old one). False, with the reason, when it
    // cannot be written; a FIFO that no process reads is refused at once, never waited for.
    bool Open(const std::filesystem::path& file, std::string* reason = nullptr);
    bool IsOpen() const { return fd_ >= 0; }
    void Close();
    // A line stamped with when (the moment of writing when not given). A line the file takes
    // not whole (a full disk) ends the transcript: the file is closed and Failure() says why.
    void Write(ETrafficDirection direction, std::string_view bytes,
               std::chrono::system_clock::time_point when = std::chrono::system_clock::now());
    // Why the transcript stopped early; empty while it goes on or after a plain Close().
    const std::string& Failure() const { return failure_; }

  private:
    int fd_ = -1;
    std::string failure_;
};

}  // namespace corvane3
