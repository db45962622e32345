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
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

namespace corvane3 {

enum class TrafficDirection { kReceived, kSent, kNote };

struct TrafficEntry {
    std::string timeStamp;
    TrafficDirection direction = TrafficDirection::kNote;
    std::string bytes;  // unescaped; the note's text for kNote
};

std::string FormatTrafficLine(std::chrono::system_clock::time_point when,
                              TrafficDirection direction, std::string_view bytes);
// nullopt for a line that is not in the format above.
std::optional<TrafficEntry> ParseTrafficLine(std::string_view line);

class CTrafficLog {
  public:
    // Starts a new transcript file (truncating an old one). False when it cannot be written.
    bool Open(const std::filesystem::path& file);
    bool IsOpen() const { return out_.is_open(); }
    void Close() { out_.close(); }
    // A line stamped with when (the moment of writing when not given).
    void Write(TrafficDirection direction, std::string_view bytes,
               std::chrono::system_clock::time_point when = std::chrono::system_clock::now());

  private:
    std::ofstream out_;
};

}  // namespace corvane3
