#pragma once
// The .csd telemetry line layout: one header line per file and one comma-separated line per
// status record. The layout is fixed: the file reader and files written by other installations
// depend on it byte for byte.
//
//   std::string line = TelemetryRecordLine(unit.Snapshot(), unit.InstrumentModel);
//   file << line << kTelemetryLineEnd;

#include <cstdint>
#include <string>

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

}  // namespace corvane3
