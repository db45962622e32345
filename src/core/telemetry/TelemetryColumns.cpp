#include "core/telemetry/TelemetryColumns.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iterator>

#include "core/link/UnitState.h"
#include "core/telemetry/TelemetryFormat.h"

namespace corvane3 {

namespace {

// Columns that are not readings: the time, identity, state, alarm slots (hexadecimal codes)
// and the text columns.
constexpr std::string_view kNotReadings[] = {
    "MJD",    "ID",     "UnitType", "Factory", "State",   "Alarm1", "Alarm2",
    "Alarm3", "Alarm4", "Alarm5",   "OSCState", "Version", "Source"};

// The column of each plot channel from 1 on, in the store's order (channel 0, the hour meter,
// and the derived signal channels 30 and 31 come from no single column).
constexpr std::string_view kPlotChannelColumns[] = {
    "",       "StdDev",  "CRamErr", "CRabErr", "CLevel", "VVCXO",   "ZRamErr", "ZRabErr",
    "ZLevel", "VCField", "ICField", "VuWave",  "DCLevel", "DACGain", "NumGain", "TChassis",
    "VCsOven", "VEM",    "IIP",     "VMS",     "VION",   "Pos21V",  "Pos5V",   "Pos15V",
    "Neg15V", "FreqTune", "CBTD",   "CBTT",    "OCXOD",  "OCXOT",   "",        "",
    "System24", "ACDC24", "DCIN24", "Batt24",  "Charge"};

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && text.front() == ' ') {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

}  // namespace

std::vector<std::string> TelemetryColumnNames(std::int32_t model) {
    const std::string header = TelemetryHeaderLine(model);
    std::vector<std::string> names;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = header.find(',', start);
        names.emplace_back(TrimBlanks(std::string_view(header).substr(
            start, comma == std::string::npos ? std::string::npos : comma - start)));
        if (comma == std::string::npos) {
            return names;
        }
        start = comma + 1;
    }
}

bool IsLimitableReading(std::string_view name) {
    if (std::find(std::begin(kNotReadings), std::end(kNotReadings), name) !=
        std::end(kNotReadings)) {
        return false;
    }
    return TelemetryColumnIndex(name, kModelTq9000).has_value();
}

std::optional<std::size_t> TelemetryColumnIndex(std::string_view name, std::int32_t model) {
    const std::vector<std::string> names = TelemetryColumnNames(model);
    const auto found = std::find(names.begin(), names.end(), name);
    if (found == names.end()) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(found - names.begin());
}

std::optional<int> PlotChannelOfColumn(std::string_view name) {
    if (name.empty()) {
        return std::nullopt;
    }
    const auto found = std::find(std::begin(kPlotChannelColumns), std::end(kPlotChannelColumns), name);
    if (found == std::end(kPlotChannelColumns)) {
        return std::nullopt;
    }
    return static_cast<int>(found - std::begin(kPlotChannelColumns));
}

std::optional<double> TelemetryColumnValue(std::string_view line, std::size_t column) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < column; ++i) {
        const std::size_t comma = line.find(',', start);
        if (comma == std::string_view::npos) {
            return std::nullopt;
        }
        start = comma + 1;
    }
    const std::size_t comma = line.find(',', start);
    const std::string_view field =
        TrimBlanks(line.substr(start, comma == std::string_view::npos ? line.npos : comma - start));
    double value = 0.0;
    // from_chars takes no leading '+', which the format never writes before a reading.
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
    if (error != std::errc() || end != field.data() + field.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

}  // namespace corvane3
