#pragma once
// Some columns of a record line parsed alone: the first frame of a long file draws a few
// channels, and the fields between them are passed over by their commas, 64 bytes at a time,
// without being converted. The values and the refusals are those ParseTelemetryRecord gives.
//
//   const TelemetryColumnChoice choice = ChooseTelemetryColumns(layout.map, {3, 30}, true);
//   if (!ParseChosenColumns(line, choice, values)) { /* a field too long: the line is refused */ }

#include <cstddef>
#include <vector>

#include "core/telemetry/TelemetryChunks.h"

namespace corvane3 {

struct TelemetryColumnChoice {
    // The file's column map with kColumnSkipped for every column not chosen.
    std::vector<int> map;
    // Signal and Flop/Background are derived; their four inputs are then chosen too.
    bool derive = false;
    std::size_t lastChosen = 0;  // the last column chosen (0 when none is)
};

// The columns of map that fill the given channel numbers, and the time column when time is set.
TelemetryColumnChoice ChooseTelemetryColumns(const std::vector<int>& map,
                                             const std::vector<int>& channels, bool time);

// ParseTelemetryRecord for the chosen columns: the same values in their channels (NaN for a
// field the line does not have), in the MJD when chosen and in the derived two when derive is
// set, and false for the lines it refuses, as every field of the map is still measured. Other
// channels keep what they held.
bool ParseChosenColumns(const TelemetryLine& line, const TelemetryColumnChoice& choice,
                        TelemetryRecordValues& values);

}  // namespace corvane3
