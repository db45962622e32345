#include "core/link/TrafficLog.h"

#include <cstdio>
#include <ctime>

#include "core/base/Escape.h"

namespace corvane3 {

namespace {
// "YYYY-MM-DDTHH:MM:SS.mmm"
constexpr std::size_t kTimeStampLength = 23;
constexpr std::string_view kReceived = "RX";
constexpr std::string_view kSent = "TX";
constexpr std::string_view kNote = "--";
constexpr std::size_t kTagLength = 2;
}  // namespace

std::string FormatTrafficLine(std::chrono::system_clock::time_point when,
                              TrafficDirection direction, std::string_view bytes) {
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
    const std::string_view tag = direction == TrafficDirection::kReceived ? kReceived
                                 : direction == TrafficDirection::kSent   ? kSent
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
        entry.direction = TrafficDirection::kReceived;
    } else if (tag == kSent) {
        entry.direction = TrafficDirection::kSent;
    } else if (tag == kNote) {
        entry.direction = TrafficDirection::kNote;
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

bool CTrafficLog::Open(const std::filesystem::path& file) {
    out_.open(file, std::ios::binary | std::ios::trunc);
    return out_.is_open();
}

void CTrafficLog::Write(TrafficDirection direction, std::string_view bytes,
                        std::chrono::system_clock::time_point when) {
    if (out_.is_open()) {
        out_ << FormatTrafficLine(when, direction, bytes) << '\n';
        out_.flush();
    }
}

}  // namespace corvane3
