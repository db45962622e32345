#include "core/link/TrafficLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "core/base/Escape.h"
#include "core/base/WriteWhole.h"

namespace corvane3 {

namespace {
// "YYYY-MM-DDTHH:MM:SS.mmm"
constexpr std::size_t kTimeStampLength = 23;
constexpr std::string_view kReceived = "RX";
constexpr std::string_view kSent = "TX";
constexpr std::string_view kNote = "--";
constexpr std::size_t kTagLength = 2;
// Read and write for everyone the umask allows, as for any file the user makes.
constexpr mode_t kNewFileMode = 0666;
}  // namespace

std::string FormatTrafficLine(std::chrono::system_clock::time_point when,
                              ETrafficDirection direction, std::string_view bytes) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() %
        1000;
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char stamp[48];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(millis));
    const std::string_view tag = direction == ETrafficDirection::kReceived ? kReceived
                                 : direction == ETrafficDirection::kSent   ? kSent
                                                                           : kNote;
    return std::string(stamp) + ' ' + std::string(tag) + ' ' + EscapeBytes(bytes);
}

std::optional<TrafficEntry> ParseTrafficLine(std::string_view line) {
    const std::size_t bytesAt = kTimeStampLength + 1 + kTagLength + 1;
    if (line.size() < bytesAt || line[kTimeStampLength] != ' ' || line[bytesAt - 1] != ' ') {
        return std::nullopt;
    }
    TrafficEntry entry;
    entry.timeStamp = std::string(line.substr(0, kTimeStampLength));
    const std::string_view tag = line.substr(kTimeStampLength + 1, kTagLength);
    if (tag == kReceived) {
        entry.direction = ETrafficDirection::kReceived;
    } else if (tag == kSent) {
        entry.direction = ETrafficDirection::kSent;
    } else if (tag == kNote) {
        entry.direction = ETrafficDirection::kNote;
    } else {
        return std::nullopt;
    }
    auto bytes = UnescapeBytes(line.substr(bytesAt));
    if (!bytes) {
        return std::nullopt;
    }
    entry.bytes = std::move(*bytes);
    return entry;
}

bool CTrafficLog::Open(const std::filesystem::path& file, std::string* reason) {
    Close();
    failure_.clear();
    // Without O_NONBLOCK a FIFO nobody reads would hold the program in open() for ever.
    fd_ = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, kNewFileMode);
    if (fd_ < 0) {
        if (reason != nullptr) {
            *reason = errno == ENXIO ? "a FIFO that no process reads" : std::strerror(errno);
        }
        return false;
    }
    // A FIFO with a reader is written as a file is: the reader decides the pace.
    const int flags = ::fcntl(fd_, F_GETFL);
    if (flags >= 0) {
        ::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK);
    }
    return true;
}

void CTrafficLog::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void CTrafficLog::Write(ETrafficDirection direction, std::string_view bytes,
                        std::chrono::system_clock::time_point when) {
    if (fd_ < 0) {
        return;
    }
    if (!WriteWhole(fd_, FormatTrafficLine(when, direction, bytes) + '\n')) {
        failure_ = errno != 0 ? std::strerror(errno) : "the file takes no more";
        Close();
    }
}

}  // namespace corvane3
