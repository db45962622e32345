#include "core/telemetry/ReadingLimits.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <tuple>

#include "core/base/RegularFile.h"
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

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";
// A limits file is a few lines per reading; anything longer is some other file put there.
constexpr std::size_t kMaxLimitsFileBytes = std::size_t{256} << 10;
// Problems said one by one; a junk file's further lines are only counted.
constexpr std::size_t kMaxLimitsProblems = 20;
// A line quoted in a problem is cut here, so that junk gives short lines.
constexpr std::size_t kMaxQuotedChars = 60;

// Text from the file as a problem quotes it: control bytes shown as '?', long text cut.
std::string Quoted(std::string_view text) {
    std::string quoted(text.substr(0, kMaxQuotedChars));
    for (char& c : quoted) {
        c = static_cast<unsigned char>(c) < ' ' || c == '\x7f' ? '?' : c;
    }
    return text.size() > kMaxQuotedChars ? quoted + "..." : quoted;
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

// The four keys in the order their bounds must keep on the number line.
enum EBoundKey : std::size_t { kCriticalLow, kWarningLow, kWarningHigh, kCriticalHigh, kKeyCount };
constexpr std::array<std::string_view, kKeyCount> kKeyNames = {"CriticalLow", "WarningLow",
                                                               "WarningHigh", "CriticalHigh"};

std::optional<double>& BoundOf(ReadingLimit& limit, std::size_t key) {
    switch (key) {
        case kCriticalLow:
            return limit.critical.low;
        case kWarningLow:
            return limit.warning.low;
        case kWarningHigh:
            return limit.warning.high;
        default:
            return limit.critical.high;
    }
}

std::optional<std::size_t> KeyOf(std::string_view key) {
    for (std::size_t k = 0; k < kKeyCount; ++k) {
        if (kKeyNames[k] == key) {
            return k;
        }
    }
    return std::nullopt;
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

namespace {

// What one parse keeps besides the limits: the problems said so far and the section being read.
class CLimitsParser {
  public:
    explicit CLimitsParser(const std::string& fileName) : fileName_(fileName) {}

    void Line(std::string_view line, int lineNumber);
    ReadingLimits Finish();

  private:
    void Refuse(int lineNumber, const std::string& why);
    void Section(std::string_view line, int lineNumber);
    void Key(std::string_view line, std::size_t equals, int lineNumber);
    // Leaves out the bounds of the section just read that contradict each other.
    void CheckBandOrder();

    const std::string& fileName_;
    ReadingLimits limits_;
    std::size_t unsaid_ = 0;  // problems beyond kMaxLimitsProblems
    std::vector<int> sectionLines_;  // per reading, the line of its section
    std::optional<std::size_t> section_;  // the reading whose keys are being read
    bool skippingSection_ = false;        // inside a section that was refused
    std::array<int, kKeyCount> keyLines_{};  // the section's keys' lines; 0 not given
};

void CLimitsParser::Refuse(int lineNumber, const std::string& why) {
    if (limits_.problems.size() < kMaxLimitsProblems) {
        limits_.problems.push_back(fileName_ + ":" + std::to_string(lineNumber) + ": " + why);
    } else {
        ++unsaid_;
    }
}

void CLimitsParser::Line(std::string_view line, int lineNumber) {
    if (line.empty() || line.front() == '#' || line.front() == ';') {
        return;
    }
    if (line.front() == '[') {
        CheckBandOrder();
        Section(line, lineNumber);
        return;
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
        Refuse(lineNumber, "expected KEY = VALUE: " + Quoted(line));
    } else if (section_) {
        Key(line, equals, lineNumber);
    } else if (!skippingSection_) {
        Refuse(lineNumber, "a limit before any [READING] section");
    }
}

void CLimitsParser::Section(std::string_view line, int lineNumber) {
    section_.reset();
    skippingSection_ = true;
    keyLines_ = {};
    const std::string name(Trim(line.substr(1, line.find(']') - 1)));
    if (line.back() != ']' || name.empty()) {
        Refuse(lineNumber, "not a section line: " + Quoted(line));
        return;
    }
    if (!IsLimitableReading(name)) {
        Refuse(lineNumber, "no reading named " + Quoted(name));
        return;
    }
    for (std::size_t i = 0; i < limits_.readings.size(); ++i) {
        if (limits_.readings[i].channel == name) {
            Refuse(lineNumber, "[" + name + "] again (first at line " +
                                   std::to_string(sectionLines_[i]) + "): left out");
            return;
        }
    }
    section_ = limits_.readings.size();
    limits_.readings.push_back(ReadingLimit{name, {}, {}});
    sectionLines_.push_back(lineNumber);
    skippingSection_ = false;
}

void CLimitsParser::Key(std::string_view line, std::size_t equals, int lineNumber) {
    const std::string_view key = Trim(line.substr(0, equals));
    const std::optional<std::size_t> k = KeyOf(key);
    if (!k) {
        Refuse(lineNumber, "unknown key " + Quoted(key) +
                               " (WarningLow, WarningHigh, CriticalLow or CriticalHigh)");
        return;
    }
    if (keyLines_[*k] != 0) {
        Refuse(lineNumber, std::string(key) + " again (first at line " +
                               std::to_string(keyLines_[*k]) + "): left out");
        return;
    }
    std::optional<double>& bound = BoundOf(limits_.readings[*section_], *k);
    const std::string_view value = Trim(line.substr(equals + 1));
    if (value.empty()) {
        keyLines_[*k] = lineNumber;  // an empty value sets no limit, as the example file shows
    } else if (const std::optional<double> number = ParseNumber(value)) {
        keyLines_[*k] = lineNumber;
        bound = number;
    } else {
        Refuse(lineNumber, "not a number: " + Quoted(value));
    }
}

void CLimitsParser::CheckBandOrder() {
    if (!section_) {
        return;
    }
    ReadingLimit& limit = limits_.readings[*section_];
    const auto text = [&](std::size_t k) {
        return std::string(kKeyNames[k]) + " " + NumberText(*BoundOf(limit, k));
    };
    // A band whose low bound is above its high one holds no value: it is left out whole, said
    // at the later of its two lines.
    for (const auto& [low, high, band] : {std::tuple{kWarningLow, kWarningHigh, "warning"},
                                         std::tuple{kCriticalLow, kCriticalHigh, "critical"}}) {
        if (BoundOf(limit, low) && BoundOf(limit, high) &&
            *BoundOf(limit, low) > *BoundOf(limit, high)) {
            Refuse(std::max(keyLines_[low], keyLines_[high]),
                   text(low) + " is above " + text(high) + ": the " + band +
                       " band is left out");
            BoundOf(limit, low).reset();
            BoundOf(limit, high).reset();
        }
    }
    // A warning bound outside the critical band would warn after the critical crossing, or
    // never; the critical bounds are kept.
    for (const std::size_t warning : {kWarningLow, kWarningHigh}) {
        for (const std::size_t critical : {kCriticalLow, kCriticalHigh}) {
            std::optional<double>& w = BoundOf(limit, warning);
            const std::optional<double>& c = BoundOf(limit, critical);
            if (w && c && (critical == kCriticalLow ? *w < *c : *w > *c)) {
                Refuse(keyLines_[warning],
                       text(warning) + (critical == kCriticalLow ? " is below " : " is above ") +
                           text(critical) + ": a warning bound outside its critical band is "
                                            "left out");
                w.reset();
            }
        }
    }
    section_.reset();
}

ReadingLimits CLimitsParser::Finish() {
    CheckBandOrder();
    if (unsaid_ > 0) {
        limits_.problems.push_back(fileName_ + ": " + std::to_string(unsaid_) +
                                   " more lines that cannot be used");
    }
    return std::move(limits_);
}

}  // namespace

ReadingLimits ParseReadingLimits(std::string_view text, const std::string& fileName) {
    // An editor may begin a UTF-8 file with a byte order mark; it is not part of the first line.
    if (text.starts_with(kUtf8ByteOrderMark)) {
        text.remove_prefix(kUtf8ByteOrderMark.size());
    }
    CLimitsParser parser(fileName);
    int lineNumber = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        parser.Line(Trim(text.substr(0, end)), ++lineNumber);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return parser.Finish();
}

ReadingLimits LoadReadingLimits(const std::filesystem::path& path) {
    ReadingLimits none;
    std::string reason;
    int error = 0;
    const int fd = OpenRegularFile(path.string(), reason, error);
    if (fd < 0) {
        if (error != ENOENT) {
            none.problems.push_back(path.string() + ": cannot be read (" + reason + ")");
        }
        return none;
    }
    // One byte more than the bound tells a file that is too long from one that just fits.
    std::string text(kMaxLimitsFileBytes + 1, '\0');
    std::size_t size = 0;
    while (size < text.size()) {
        const ssize_t n = ::read(fd, text.data() + size, text.size() - size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            reason = std::strerror(errno);
            ::close(fd);
            none.problems.push_back(path.string() + ": cannot be read (" + reason + ")");
            return none;
        }
        if (n == 0) {
            break;
        }
        size += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (size > kMaxLimitsFileBytes) {
        none.problems.push_back(path.string() + ": longer than " +
                                std::to_string(kMaxLimitsFileBytes >> 10) +
                                " KiB, no limits file: left out");
        return none;
    }
    text.resize(size);
    return ParseReadingLimits(text, path.string());
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
    : limits_(std::move(limits)),
      levels_(limits_.size(), ELimitLevel::kInside),
      said_(limits_.size(), ELimitLevel::kInside),
      insideRecords_(limits_.size(), 0) {}

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
        levels_[i] = standing.level;
        insideRecords_[i] = standing.level == ELimitLevel::kInside ? insideRecords_[i] + 1 : 0;
        if (standing.level > said_[i]) {
            said_[i] = standing.level;
            crossings.push_back(LimitCrossing{limits_[i].channel, false, standing.level,
                                              standing.bound, *value, standing.limit});
        } else if (said_[i] != ELimitLevel::kInside &&
                   insideRecords_[i] >= kLimitClearingRecords) {
            said_[i] = ELimitLevel::kInside;
            crossings.push_back(
                LimitCrossing{limits_[i].channel, true, ELimitLevel::kInside, {}, *value, 0.0});
        }
    }
    return crossings;
}

}  // namespace corvane3
