#include "core/settings/SettingsText.h"

#include <cstdio>
#include <cstdlib>

#include "core/base/CLocale.h"
#include "core/link/CommandFrame.h"
#include "core/link/StatusRecords.h"

namespace corvane3 {

namespace {

// Where a fetched log's event count starts: after the echo and "Event Count:".
constexpr std::size_t kEventCountColumn = 23;
constexpr char kTabAsBlanks[] = "      ";
// Slots 1 to 3 put four blanks after the colon, slots 4 and 5 three.
constexpr int kLastWideSlot = 3;
// The "AlignGainPot" item stands for this gain DAC value.
constexpr int kAlignGainPotValue = 0xB7;
constexpr int kFirstYearFrom2000 = 100;  // tm_year of 2000

template <typename... Args>
std::string Format(const char* format, Args... args) {
    const CScopedCLocale numbers;
    char text[64];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}

}  // namespace

long LeadingInteger(std::string_view text) {
    const std::string cut(text.substr(0, kNumberInputLimit));
    return std::strtol(cut.c_str(), nullptr, 10);
}

double LeadingNumber(std::string_view text) {
    const std::string cut(text.substr(0, kNumberInputLimit));
    const CScopedCLocale numbers;
    return std::strtod(cut.c_str(), nullptr);
}

std::string DeltaFArgument(long offset) {
    return Format("%+07ld  ", offset);
}

std::string DeltaTArgument(long slew) {
    return Format("%+05ld  ", slew);
}

std::string TimeUpdatingArgument(long slew) {
    return Format("%+06ldf", slew);
}

std::string DccAdjustArgument(std::int32_t seconds) {
    return Format("%+06d  ", seconds);
}

std::string UnitTimeArgument(const std::tm& local) {
    return Format("%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
}

std::string UnitDateArgument(const std::tm& local) {
    const int year =
        local.tm_year < kFirstYearFrom2000 ? local.tm_year : local.tm_year - kFirstYearFrom2000;
    return Format("%02d/%02d/%02d", local.tm_mon + 1, local.tm_mday, year);
}

int EventCount(std::string_view log) {
    if (log.size() <= kEventCountColumn) {
        return 0;
    }
    const std::string rest(log.substr(kEventCountColumn));
    return static_cast<int>(std::strtol(rest.c_str(), nullptr, 10));
}

std::vector<std::string> EventLogLines(std::string_view log) {
    std::vector<std::string> lines;
    const std::size_t firstLf = log.find('\n');
    if (firstLf == std::string_view::npos) {
        return lines;
    }
    std::string line;
    for (const char c : log.substr(firstLf + 1)) {
        if (c == '\n') {
            continue;
        }
        if (c == '\t') {
            line += kTabAsBlanks;
        } else if (c == '\r') {
            lines.push_back(std::move(line));
            line.clear();
        } else {
            line += c;
        }
    }
    return lines;
}

std::string AlarmLine(int slot, unsigned code) {
    return Format(slot <= kLastWideSlot ? "%02x:    " : "%02x:   ", code) + AlarmName(code);
}

std::string AscTimeText(std::int64_t utcSeconds) {
    const auto seconds = static_cast<std::time_t>(utcSeconds);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[32];
    const CScopedCLocale english;  // the day and month names are English, as asctime's are
    std::strftime(text, sizeof text, "%a %b %e %H:%M:%S %Y", &parts);
    return text;
}

std::string DccTimeArgument(std::time_t utcSeconds, bool local) {
    long long value = utcSeconds;
    if (local) {
        // The zone's offset at that moment, summer time included.
        std::tm parts{};
        localtime_r(&utcSeconds, &parts);
        value += parts.tm_gmtoff;
    }
    return Format("%010u", static_cast<unsigned>(value));
}

int GainDacValue(std::string_view item) {
    if (item == "AlignGainPot") {
        return kAlignGainPotValue;
    }
    if (item == "End Test") {
        return 0;
    }
    const std::string text(item);
    unsigned value = 0;
    return std::sscanf(text.c_str(), "%2xh", &value) == 1 ? static_cast<int>(value) : 0;
}

std::string DiagnosticListText(std::string text) {
    if (!text.empty() && text.front() == kStx) {
        text.erase(0, 1);
    }
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == kEtx)) {
        text.pop_back();
    }
    return text;
}

}  // namespace corvane3
