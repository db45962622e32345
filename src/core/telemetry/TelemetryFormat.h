#pragma once
// The .csd telemetry line layout: one header line per file and one comma-separated line per
// status record. The layout is fixed: the file reader and files written by other installations
// depend on it byte for byte.
//
//   std::string line = TelemetryRecordLine(unit.Snapshot(), unit.InstrumentModel);
//   file << line << kTelemetryLineEnd;

#include <cstdint>
#include <string>
#include <string_view>

#include "core/link/UnitState.h"

namespace corvane3 {

// Every .csd line ends with CR LF, whatever the platform, so files stay interchangeable.
inline constexpr char kTelemetryLineEnd[] = "\r\n";

// Columns of one record: 45, or 51 for a Tq9000 (its six supply-board columns).
inline constexpr int kTelemetryColumns = 45;
inline constexpr int kTelemetryColumnsTq9000 = 51;

// The column names for a unit of this model, without the line end.
std::string TelemetryHeaderLine(std::int32_t model);

// The record of data for a unit of this model, without the line end. The model, not
// data.d2.modelCode, decides the columns, as it does for the header.
std::string TelemetryRecordLine(const UnitStateData& data, std::int32_t model);

// The values a record line holds, read back into data (the rest of data stays as it was), with
// the model its UnitType column names. False, with data unchanged, when the line does not have
// the columns of that model or one of them does not read as its number. A window attached to
// the logging service learns the unit's state from these lines.
bool ParseTelemetryRecordLine(std::string_view line, UnitStateData& data, std::int32_t& model);

}  // namespace corvane3
