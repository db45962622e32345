#include "core/link/SerialTrace.h"

#include <algorithm>

#include "core/link/CommandFrame.h"

namespace corvane3 {

namespace {

constexpr std::string_view kMask = "*****";
constexpr std::string_view kNoParameter = "00000";
// Where the code and the parameter field sit in a frame and at the head of its reply.
constexpr std::size_t kCodeAt = 1;
constexpr std::size_t kParameterAt = kCodeAt + kCodeWidth + 1;
constexpr std::size_t kDataAt = kFrameHeadLength;

bool HasFrameHead(std::string_view bytes) {
    return bytes.size() >= kDataAt && bytes[0] == kStx;
}

std::string_view ParameterField(std::string_view frame) {
    return frame.substr(kParameterAt, kParameterFieldWidth);
}

}  // namespace

std::string MaskTracedFrame(std::string_view frame) {
    std::string masked(frame);
    if (!HasFrameHead(frame)) {
        return masked;  // no frame head: nothing in it can be a password field
    }
    if (ParameterField(frame) != kNoParameter) {
        masked.replace(kParameterAt, kParameterFieldWidth, kMask);
    }
    std::string_view code = frame.substr(kCodeAt, kCodeWidth);
    code.remove_prefix(std::min(code.find_first_not_of(' '), code.size()));
    if (CarriesPasswordData(code)) {
        const std::size_t dataEnd = frame.back() == kEtx ? frame.size() - 1 : frame.size();
        if (dataEnd > kDataAt) {
            masked.replace(kDataAt, dataEnd - kDataAt, kMask);
        }
    }
    return masked;
}

bool CSerialTrace::Open(const std::filesystem::path& file, std::string* reason) {
    std::lock_guard lock(mutex_);
    unwritten_.clear();
    unread_.clear();
    lineEnded_ = false;
    secret_.clear();
    return log_.Open(file, reason);
}

bool CSerialTrace::IsOpen() const {
    std::lock_guard lock(mutex_);
    return log_.IsOpen();
}

void CSerialTrace::Close() {
    std::lock_guard lock(mutex_);
    FlushLocked();
    log_.Close();
}

void CSerialTrace::Written(std::string_view bytes) {
    std::lock_guard lock(mutex_);
    FlushReadLocked(Clock::now());
    for (const char c : bytes) {
        unwritten_ += c;
        if (c == kEtx) {
            FlushWrittenLocked();
        }
    }
}

void CSerialTrace::Read(std::string_view bytes) {
    std::lock_guard lock(mutex_);
    FlushWrittenLocked();
    const Clock::time_point now = Clock::now();
    for (const char c : bytes) {
        if (lineEnded_ && c != kEtx) {
            FlushReadLocked(lineEnd_);  // a line of its own: no reply's ETX followed it
        }
        unread_ += c;
        lineEnded_ = c == kLf;
        if (lineEnded_) {
            lineEnd_ = now;
        } else if (c == kEtx) {
            FlushReadLocked(now);
        }
    }
}

void CSerialTrace::Note(std::string_view text) {
    std::lock_guard lock(mutex_);
    FlushLocked();
    WriteLocked(ETrafficDirection::kNote, text);
}

void CSerialTrace::SetStoppedHandler(std::function<void(const std::string& reason)> handler) {
    std::lock_guard lock(mutex_);
    stopped_ = std::move(handler);
}

std::string CSerialTrace::Failure() const {
    std::lock_guard lock(mutex_);
    return log_.Failure();
}

void CSerialTrace::WriteLocked(ETrafficDirection direction, std::string_view bytes,
                               Clock::time_point when) {
    const bool wasOpen = log_.IsOpen();
    log_.Write(direction, bytes, when);
    if (wasOpen && !log_.IsOpen() && stopped_) {
        stopped_(log_.Failure());
    }
}

void CSerialTrace::FlushLocked() {
    FlushWrittenLocked();
    FlushReadLocked(Clock::now());
}

void CSerialTrace::FlushWrittenLocked() {
    if (unwritten_.empty()) {
        return;
    }
    const bool hidesParameter =
        HasFrameHead(unwritten_) && ParameterField(unwritten_) != kNoParameter;
    secret_ = hidesParameter ? std::string(ParameterField(unwritten_)) : std::string();
    WriteLocked(ETrafficDirection::kReceived, MaskTracedFrame(unwritten_));
    unwritten_.clear();
}

void CSerialTrace::FlushReadLocked(Clock::time_point when) {
    if (unread_.empty()) {
        return;
    }
    // The unit echoes the parameter field at the head of its reply.
    if (!secret_.empty() && HasFrameHead(unread_) && ParameterField(unread_) == secret_) {
        unread_.replace(kParameterAt, kParameterFieldWidth, kMask);
    }
    WriteLocked(ETrafficDirection::kSent, unread_, lineEnded_ ? lineEnd_ : when);
    unread_.clear();
    lineEnded_ = false;
}

}  // namespace corvane3
