#include "core/telemetry/ReadingLimits.h"

#include <charconv>
#include <cmath>
#include <fstream>
#include <sstream>

#include "core/base/CLocale.h"
#include "core/telemetry/TelemetryColumns.h"
#include "core/telemetry/TelemetryFormat.h"

namespace corvane3 {

namespace {

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

std::optional<double> ParseNumber(std::string_view text) {
    double value = 0.0;
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
    }
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

// The bound a key sets; null for an unknown key.
std::optional<double>* BoundOfKey(ReadingLimit& limit, std::string_view key) {
    if (key == "WarningLow") {
        return &limit.warning.low;
    }
    if (key == "WarningHigh") {
        return &limit.warning.high;
    }
    if (key == "CriticalLow") {
        return &limit.critical.low;
    }
    if (key == "CriticalHigh") {
        return &limit.critical.high;
    }
    return nullptr;
}

// A number as the limits file and the tooltips write it: shortest form, decimal point.
std::string NumberText(double value) {
    char text[32];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value);
    return error == std::errc() ? std::string(text, end) : std::string("?");
}

void AppendBand(std::string& text, const char* level, const LimitBand& band) {
    if (!band.low && !band.high) {
        return;
    }
    text += text.empty() ? "" : ", ";
    text += level;
    if (band.low) {
        text += " below " + NumberText(*band.low);
    }
    if (band.high) {
        text += std::string(band.low ? " and" : "") + " above " + NumberText(*band.high);
    }
}

}  // namespace

std::filesystem::path LimitsPathFor(const std::filesystem::path& configurationPath) {
    return configurationPath.parent_path() / kLimitsFileName;
}

ReadingLimits ParseReadingLimits(std::string_view text, const std::string& fileName) {
    ReadingLimits limits;
    ReadingLimit* section = nullptr;
    bool skippingSection = false;  // inside a section that was refused
    int lineNumber = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = Trim(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++lineNumber;
        auto refuse = [&](const std::string& why) {
            limits.problems.push_back(fileName + ":" + std::to_string(lineNumber) + ": " + why);
        };
        if (line.empty() || line.front() == '#' || line.front() == ';') {
            continue;
        }
        if (line.front() == '[') {
            section = nullptr;
            skippingSection = true;
            const std::string name(Trim(line.substr(1, line.find(']') - 1)));
            if (line.back() != ']' || name.empty()) {
                refuse("not a section line: " + std::string(line));
            } else if (!IsLimitableReading(name)) {
                refuse("no reading named " + name);
            } else {
                for (ReadingLimit& known : limits.readings) {
                    section = known.channel == name ? &known : section;
                }
                if (section == nullptr) {
                    section = &limits.readings.emplace_back(ReadingLimit{name, {}, {}});
                }
                skippingSection = false;
            }
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            refuse("expected KEY = VALUE: " + std::string(line));
            continue;
        }
        if (section == nullptr) {
            if (!skippingSection) {
                refuse("a limit before any [READING] section");
            }
            continue;
        }
        const std::string_view key = Trim(line.substr(0, equals));
        std::optional<double>* bound = BoundOfKey(*section, key);
        if (bound == nullptr) {
            refuse("unknown key " + std::string(key) +
                   " (WarningLow, WarningHigh, CriticalLow or CriticalHigh)");
            continue;
        }
        const std::string_view value = Trim(line.substr(equals + 1));
        if (value.empty()) {
            bound->reset();  // an empty value sets no limit, as the example file shows
        } else if (const std::optional<double> number = ParseNumber(value)) {
            *bound = number;
        } else {
            refuse("not a number: " + std::string(value));
        }
    }
    return limits;
}

ReadingLimits LoadReadingLimits(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::error_code error;
        ReadingLimits none;
        if (std::filesystem::exists(path, error)) {
            none.problems.push_back(path.string() + ": cannot be read");
        }
        return none;
    }
    std::ostringstream text;
    text << file.rdbuf();
    return ParseReadingLimits(text.str(), path.string());
}

const char* LimitBoundWord(ELimitBound bound) {
    return bound == ELimitBound::kLow ? "low" : "high";
}

const char* LimitLevelWord(ELimitLevel level) {
    switch (level) {
        case ELimitLevel::kWarning:
            return "warning";
        case ELimitLevel::kCritical:
            return "critical";
        default:
            return "inside";
    }
}

LimitStanding StandingOf(const ReadingLimit& limit, double value) {
    LimitStanding standing;
    auto check = [&](ELimitLevel level, const LimitBand& band) {
        if (band.low && value < *band.low) {
            standing = LimitStanding{level, ELimitBound::kLow, *band.low};
        } else if (band.high && value > *band.high) {
            standing = LimitStanding{level, ELimitBound::kHigh, *band.high};
        }
    };
    check(ELimitLevel::kWarning, limit.warning);
    check(ELimitLevel::kCritical, limit.critical);  // the worse band wins
    return standing;
}

std::string LimitBandText(const ReadingLimit& limit) {
    std::string text;
    AppendBand(text, "warning", limit.warning);
    AppendBand(text, "critical", limit.critical);
    return text;
}

std::string LimitCrossingText(const LimitCrossing& crossing) {
    const std::string value = NumberText(crossing.value);
    if (crossing.cleared) {
        return crossing.channel + " back inside its limits (" + value + ")";
    }
    return crossing.channel + " " + value +
           (crossing.bound == ELimitBound::kLow ? " below" : " above") + " its " +
           LimitLevelWord(crossing.level) + " limit " + NumberText(crossing.limit);
}

CReadingLimitWatch::CReadingLimitWatch(std::vector<ReadingLimit> limits)
    : limits_(std::move(limits)), levels_(limits_.size(), ELimitLevel::kInside) {}

const ReadingLimit* CReadingLimitWatch::LimitOf(std::string_view channel) const {
    for (const ReadingLimit& limit : limits_) {
        if (limit.channel == channel) {
            return &limit;
        }
    }
    return nullptr;
}

std::vector<LimitCrossing> CReadingLimitWatch::StatusRecord(const UnitStateData& data,
                                                            std::int32_t model) {
    std::vector<LimitCrossing> crossings;
    if (limits_.empty()) {
        return crossings;
    }
    // The values as the record line writes them, so a limit compares with what the file holds.
    const std::string line = TelemetryRecordLine(data, model);
    for (std::size_t i = 0; i < limits_.size(); ++i) {
        const std::optional<std::size_t> column = TelemetryColumnIndex(limits_[i].channel, model);
        const std::optional<double> value =
            column ? TelemetryColumnValue(line, *column) : std::nullopt;
        if (!value) {
            continue;
        }
        const LimitStanding standing = StandingOf(limits_[i], *value);
        const ELimitLevel before = levels_[i];
        levels_[i] = standing.level;
        if (standing.level > before) {
            crossings.push_back(LimitCrossing{limits_[i].channel, false, standing.level,
                                              standing.bound, *value, standing.limit});
        } else if (standing.level == ELimitLevel::kInside && before != ELimitLevel::kInside) {
            crossings.push_back(
                LimitCrossing{limits_[i].channel, true, ELimitLevel::kInside, {}, *value, 0.0});
        }
    }
    return crossings;
}

}  // namespace corvane3
