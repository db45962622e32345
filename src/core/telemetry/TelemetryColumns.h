#pragma once
// The telemetry columns by name: where a named column sits in a unit's records, and its value
// in a record line. The names are those of the .csd header, so a reading is named the same in
// the file, the plot window and the limits file.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane3 {

// The header's column names for a unit of this model, blanks trimmed, in column order.
std::vector<std::string> TelemetryColumnNames(std::int32_t model);

// True for a column that holds a reading a limit can apply to: a number that is not the time,
// the unit's identity, its state code or an alarm slot. Any model's columns count (Batt24 is
// a Tq9000's). Names compare exactly, as the header writes them.
bool IsLimitableReading(std::string_view name);

// The column's index in records of a unit of this model; nothing when that model has no such
// column.
std::optional<std::size_t> TelemetryColumnIndex(std::string_view name, std::int32_t model);

// The number in the column of a record line (without its line end); nothing when the line has
// fewer columns or the field holds no finite number ("nan" and "inf" are no reading, for the
// limits and the fits as for the statistics). Decimal points whatever the locale.
std::optional<double> TelemetryColumnValue(std::string_view line, std::size_t column);

// The plot store's channel that holds this column's readings (CPlotData's numbering); nothing
// for a column the store has no channel for.
std::optional<int> PlotChannelOfColumn(std::string_view name);

}  // namespace corvane3
