#pragma once
// Warning and critical bands for telemetry readings, read from a limits file beside the
// configuration, and the watch that tells when a reading leaves or re-enters its band.
//
// The limits file is INI-like text; one section per reading, named as the telemetry header
// names its column, with up to four keys:
//
//   [VEM]
//   WarningHigh = 30
//   CriticalHigh = 33
//
//   [Batt24]
//   WarningLow = 25.5
//   CriticalLow = 24
//
// Keys and section names compare exactly; numbers are written with a decimal point whatever
// the user's language; '#' or ';' starts a comment line; a UTF-8 byte order mark is skipped.
// A line that cannot be used is reported with its file and line number and left out; the
// rest of the file still counts. So is a section or key given again, a warning bound outside
// its critical band (the critical bound stays) and a band whose low bound is above its high
// one (the band goes whole).
//
// No Qt. CReadingLimitWatch is used by one thread.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/link/UnitState.h"

namespace corvane3 {

inline constexpr char kLimitsFileName[] = "Corvane3-limits.ini";

// Ordered: a worse level compares greater.
enum class ELimitLevel { kInside = 0, kWarning = 1, kCritical = 2 };
enum class ELimitBound { kLow, kHigh };

struct LimitBand {
    std::optional<double> low;
    std::optional<double> high;
};

struct ReadingLimit {
    std::string channel;  // the telemetry column's name
    LimitBand warning;
    LimitBand critical;
};

struct ReadingLimits {
    std::vector<ReadingLimit> readings;  // in the order of their sections
    // "FILE:LINE: what is wrong", one per line left out.
    std::vector<std::string> problems;
};

// The limits file that goes with this configuration file: the same folder.
std::filesystem::path LimitsPathFor(const std::filesystem::path& configurationPath);

// Parses the text of a limits file; fileName only names it in problems.
ReadingLimits ParseReadingLimits(std::string_view text, const std::string& fileName);
// Reads and parses the file; a missing file holds no limits and is no problem.
ReadingLimits LoadReadingLimits(const std::filesystem::path& path);

// "low"/"high", "warning"/"critical"/"inside": the words of metrics labels and events.
const char* LimitBoundWord(ELimitBound bound);
const char* LimitLevelWord(ELimitLevel level);

// Where a value stands against a reading's limits: the worst band it is outside, and which
// bound it passed (set unless inside). A value equal to a limit is inside.
struct LimitStanding {
    ELimitLevel level = ELimitLevel::kInside;
    std::optional<ELimitBound> bound;
    double limit = 0.0;  // the bound passed
};
LimitStanding StandingOf(const ReadingLimit& limit, double value);

// "warning below 25.5, critical below 24 and above 30": the bands in words for a tooltip.
std::string LimitBandText(const ReadingLimit& limit);

// A reading leaving a band (crossed) or coming back inside every band (cleared).
struct LimitCrossing {
    std::string channel;
    bool cleared = false;
    ELimitLevel level = ELimitLevel::kInside;  // the band left; kInside when cleared
    std::optional<ELimitBound> bound;
    double value = 0.0;
    double limit = 0.0;  // the bound passed (when crossed)
};

// "VEM 30.5 above its warning limit 30", "VEM back inside its limits (29.8)".
std::string LimitCrossingText(const LimitCrossing& crossing);

// A reading must stay back inside every band for this many records in a row before its
// clearing is said: a reading hovering at a bound then gives one crossing, not one crossing and
// one clearing with every record.
inline constexpr int kLimitClearingRecords = 10;

// Follows each limited reading record by record. A reading leaving its warning band is one
// crossing; going on to leave the critical band is another; nothing more is said, whichever
// bands it moves between, until it has been back inside every band for kLimitClearingRecords
// records in a row (one clearing), after which it can cross again. A reading a record lacks
// (Batt24 of a unit without a supply board) or holds as no number ("nan", "inf") keeps its
// state.
class CReadingLimitWatch {
  public:
    CReadingLimitWatch() = default;
    explicit CReadingLimitWatch(std::vector<ReadingLimit> limits);

    std::vector<LimitCrossing> StatusRecord(const UnitStateData& data, std::int32_t model);

    const std::vector<ReadingLimit>& Limits() const { return limits_; }
    // The limit of a channel; null when it has none.
    const ReadingLimit* LimitOf(std::string_view channel) const;
    // The level each reading stood at in the last record, in the order of Limits().
    const std::vector<ELimitLevel>& Levels() const { return levels_; }

  private:
    std::vector<ReadingLimit> limits_;
    std::vector<ELimitLevel> levels_;
    // Per reading: the worst level said since its last clearing, and the records in a row it
    // has stood inside since it was last outside.
    std::vector<ELimitLevel> said_;
    std::vector<int> insideRecords_;
};

}  // namespace corvane3
