#pragma once
// Replies taken from a traffic transcript (the simulator's --log, or a trace the program wrote
// in the field): each frame the transcript shows the instrument receiving ("RX") is answered by
// what it sent ("TX") until the next frame arrived. The replies of a command code are given in
// the order recorded, the last one repeating, as an override file gives them; a code the
// transcript never shows gets no answer. Notes ("--") and output before the first frame are
// skipped.

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane3::sim {

// One piece of a recorded reply and how long after the frame (first piece) or after the piece
// before it the instrument sent it.
struct ReplayPiece {
    std::string bytes;
    std::chrono::milliseconds pauseBefore{0};

    bool operator==(const ReplayPiece&) const = default;
};
using ReplayReply = std::vector<ReplayPiece>;  // empty: the unit did not answer

class CReplayScript {
  public:
    // Parses transcript text. On a line that is not a transcript line: nullopt, and error
    // names the line.
    static std::optional<CReplayScript> Parse(std::string_view text, std::string& error);
    static std::optional<CReplayScript> Load(const std::filesystem::path& file, std::string& error);

    // The next recorded reply to code; nullopt when the transcript never shows code.
    std::optional<ReplayReply> Next(const std::string& code);
    // How many frames the transcript holds.
    std::size_t FrameCount() const { return frames_; }

  private:
    struct Script {
        std::vector<ReplayReply> replies;
        std::size_t next = 0;
    };
    std::map<std::string, Script> replies_;
    std::size_t frames_ = 0;
};

}  // namespace corvane3::sim
