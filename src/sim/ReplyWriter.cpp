#include "sim/ReplyWriter.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace corvane3::sim {

void CReplyWriter::Enqueue(std::string bytes, std::chrono::nanoseconds pauseBefore,
                           Clock::time_point now) {
    if (bytes.empty()) {
        return;
    }
    if (queue_.empty()) {
        frontStart_ = now + pauseBefore;
        sent_ = 0;
    }
    queue_.push_back({std::move(bytes), pauseBefore});
}

bool CReplyWriter::Pump(int fd, Clock::time_point now) {
    blocked_ = false;
    while (!queue_.empty() && now >= frontStart_) {
        const std::string& bytes = queue_.front().bytes;
        std::size_t due = bytes.size();
        if (characterTime_.count() > 0) {
            const auto elapsed =
                std::chrono::duration_cast<std::chrono::nanoseconds>(now - frontStart_);
            due =
                std::min<std::size_t>(due, static_cast<std::size_t>(elapsed / characterTime_) + 1);
        }
        if (due > sent_) {
            const ssize_t n = ::write(fd, bytes.data() + sent_, due - sent_);
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                blocked_ = errno == EAGAIN;
                return true;
            }
            if (n < 0) {
                return false;
            }
            sent_ += static_cast<std::size_t>(n);
            if (sent_ < due) {
                blocked_ = true;
                return true;
            }
        }
        if (sent_ < bytes.size()) {
            return true;  // the rest is not due yet
        }
        queue_.pop_front();
        sent_ = 0;
        if (!queue_.empty()) {
            frontStart_ = now + queue_.front().pauseBefore;
        }
    }
    return true;
}

std::optional<CReplyWriter::Clock::time_point> CReplyWriter::NextDue() const {
    if (queue_.empty() || blocked_) {
        return std::nullopt;
    }
    if (characterTime_.count() > 0) {
        return frontStart_ + characterTime_ * static_cast<long>(sent_);
    }
    return frontStart_;
}

void CReplyWriter::Clear() {
    queue_.clear();
    sent_ = 0;
    blocked_ = false;
}

}  // namespace corvane3::sim
