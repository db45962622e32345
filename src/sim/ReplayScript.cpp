#include "sim/ReplayScript.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

#include "core/link/CommandFrame.h"
#include "core/link/TrafficLog.h"
#include "sim/FrameParser.h"
#include "sim/SimulatorFile.h"

namespace corvane3::sim {

namespace {

// Days from 1970-01-01 to a civil date (proleptic Gregorian calendar).
long DaysFromCivil(long year, unsigned month, unsigned day) {
    year -= month <= 2;
    const long era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<long>(dayOfEra) - 719468;
}

// "YYYY-MM-DDTHH:MM:SS.mmm" as milliseconds on the transcript's own clock; nullopt when the
// stamp is not in that form. Only differences between stamps are used.
std::optional<std::int64_t> StampMilliseconds(std::string_view stamp) {
    constexpr std::size_t kLength = 23;
    if (stamp.size() != kLength || stamp[4] != '-' || stamp[7] != '-' || stamp[10] != 'T' ||
        stamp[13] != ':' || stamp[16] != ':' || stamp[19] != '.') {
        return std::nullopt;
    }
    const auto field = [&](std::size_t at, std::size_t width) -> std::optional<long> {
        long value = 0;
        const char* begin = stamp.data() + at;
        const auto [end, error] = std::from_chars(begin, begin + width, value);
        if (error != std::errc() || end != begin + width) {
            return std::nullopt;
        }
        return value;
    };
    const auto year = field(0, 4), month = field(5, 2), day = field(8, 2), hour = field(11, 2),
               minute = field(14, 2), second = field(17, 2), millis = field(20, 3);
    if (!year || !month || !day || !hour || !minute || !second || !millis || *month < 1 ||
        *month > 12 || *day < 1 || *day > 31) {
        return std::nullopt;
    }
    const long days =
        DaysFromCivil(*year, static_cast<unsigned>(*month), static_cast<unsigned>(*day));
    return ((static_cast<std::int64_t>(days) * 24 + *hour) * 60 + *minute) * 60000 +
           static_cast<std::int64_t>(*second) * 1000 + *millis;
}

// The command code of a frame as the instrument's frame parser reads it.
std::string FrameCode(std::string_view raw) {
    const std::size_t start = raw.find(kStx);
    std::string_view content = start == std::string_view::npos ? raw : raw.substr(start + 1);
    if (!content.empty() && content.back() == kEtx) {
        content.remove_suffix(1);
    }
    return SplitFrame(content).code;
}

}  // namespace

std::optional<CReplayScript> CReplayScript::Parse(std::string_view text, std::string& error) {
    CReplayScript script;
    ReplayReply* reply = nullptr;  // the reply being collected: to the last frame seen
    std::int64_t lastTime = 0;
    std::size_t number = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++number;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.empty()) {
            continue;
        }
        const std::optional<TrafficEntry> entry = ParseTrafficLine(line);
        const std::optional<std::int64_t> time =
            entry ? StampMilliseconds(entry->timeStamp) : std::nullopt;
        if (!time) {
            error = "line " + std::to_string(number) + " is not a transcript line";
            return std::nullopt;
        }
        const auto pause = std::chrono::milliseconds(std::max<std::int64_t>(0, *time - lastTime));
        if (entry->direction == ETrafficDirection::kReceived) {
            Script& replies = script.replies_[FrameCode(entry->bytes)];
            replies.replies.emplace_back();
            reply = &replies.replies.back();
            lastTime = *time;
            ++script.frames_;
        } else if (entry->direction == ETrafficDirection::kSent && reply) {
            reply->push_back({entry->bytes, pause});
            lastTime = *time;
        }
    }
    return script;
}

std::optional<CReplayScript> CReplayScript::Load(const std::filesystem::path& file,
                                                 std::string& error) {
    const std::optional<std::string> text = ReadSimulatorFile(file, error);
    auto script = text ? Parse(*text, error) : std::nullopt;
    if (text && !script) {
        error = file.string() + ": " + error;
    }
    return script;
}

std::optional<ReplayReply> CReplayScript::Next(const std::string& code) {
    const auto found = replies_.find(code);
    if (found == replies_.end()) {
        return std::nullopt;
    }
    Script& script = found->second;
    const ReplayReply& reply = script.replies[script.next];
    if (script.next + 1 < script.replies.size()) {
        ++script.next;
    }
    return reply;
}

}  // namespace corvane3::sim
