#pragma once
// The beam signal's decay over a telemetry file, read once in a single pass that holds one line
// at a time, so that a run can keep the fit of a file of years up to date record by record
// instead of loading the file again.

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/plot/Statistics.h"

namespace corvane3 {

// The time and beam signal of one record.
struct SignalPoint {
    double mjd = 0.0;
    double signal = 0.0;  // mV, derived from the record as the file reader derives it
};

// The point of one current-format .csd record line (without its line end); nothing for a header
// or a line too short to hold the signal's columns. The text before a line's last NUL byte is
// damage and ignored, as the reader ignores it.
std::optional<SignalPoint> SignalPointOfLine(std::string_view line);

struct SignalDecayScan {
    bool read = false;  // false when the file could not be read or is not a current-format file
    CDecayFitSums fit;  // over the MJDs of the records
    std::optional<double> lastMjd;
    std::uint64_t records = 0;
    // Lines left out as damage (more fields than the header), and the number of the first.
    std::int64_t damagedLines = 0;
    std::uint64_t firstDamagedLine = 0;
};

// Fits the records among the first `end` bytes of the file at path; a last line without its line
// end is no record. Stops early, with what it has, once stop is set. Blocks the calling thread
// for as long as reading takes (seconds for a file of years).
SignalDecayScan ScanSignalDecay(const std::string& path, std::uint64_t end,
                                const std::atomic<bool>& stop);

}  // namespace corvane3
