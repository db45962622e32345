#include "sim/FrameParser.h"

#include "core/link/CommandFrame.h"

namespace corvane3::sim {

namespace {
// Offsets inside the text between STX and ETX: code, blank, parameter field, blank, data.
constexpr std::size_t kParameterOffset = kCodeWidth + 1;
constexpr std::size_t kDataOffset = kParameterOffset + kParameterFieldWidth + 1;
}  // namespace

ReceivedFrame SplitFrame(std::string_view content) {
    ReceivedFrame frame;
    frame.code = std::string(content.substr(0, kCodeWidth));
    if (content.size() >= kParameterOffset + kParameterFieldWidth) {
        frame.parameter = std::string(content.substr(kParameterOffset, kParameterFieldWidth));
    }
    if (content.size() > kDataOffset) {
        frame.data = std::string(content.substr(kDataOffset));
    }
    frame.raw.reserve(content.size() + 2);
    frame.raw += kStx;
    frame.raw.append(content);
    frame.raw += kEtx;
    return frame;
}

std::vector<ReceivedFrame> CFrameParser::Feed(std::string_view bytes,
                                              std::chrono::steady_clock::time_point now) {
    std::vector<ReceivedFrame> frames;
    for (const char c : bytes) {
        if (c == kStx) {
            inFrame_ = true;
            content_.clear();
        } else if (!inFrame_) {
            continue;
        } else if (c == kEtx) {
            frames.push_back(SplitFrame(content_));
            frames.back().received = now;
            Reset();
        } else if (content_.size() < kMaxFrameLength) {
            content_ += c;
        } else {
            Reset();
        }
    }
    return frames;
}

void CFrameParser::Reset() {
    inFrame_ = false;
    content_.clear();
}

}  // namespace corvane3::sim
