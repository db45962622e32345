#pragma once
// Cuts the byte stream the program writes into command frames. Bytes outside STX...ETX are
// ignored; an STX inside a frame starts the frame again.

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace corvane3::sim {

// One command frame as the instrument received it.
struct ReceivedFrame {
    std::string code;       // first three characters after STX (fewer when the frame is short)
    std::string parameter;  // the five-character parameter field, empty when absent
    std::string data;       // everything after the parameter field's closing blank
    std::string raw;        // the whole frame, STX and ETX included
    std::chrono::steady_clock::time_point received;

    bool operator==(const ReceivedFrame& other) const {
        return raw == other.raw;  // the time stamp is not part of what was sent
    }
};

// Splits the text between STX and ETX into code, parameter field and data.
ReceivedFrame SplitFrame(std::string_view content);

class CFrameParser {
  public:
    // Frames longer than this without an ETX are dropped: no command is anywhere near as long.
    static constexpr std::size_t kMaxFrameLength = 4096;

    // Feeds received bytes; returns the frames they completed, in order.
    std::vector<ReceivedFrame> Feed(std::string_view bytes,
                                    std::chrono::steady_clock::time_point now);
    // Forgets a frame that was begun (after a reconnect or a change of line settings).
    void Reset();

  private:
    bool inFrame_ = false;
    std::string content_;
};

}  // namespace corvane3::sim
