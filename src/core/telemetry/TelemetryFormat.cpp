#include "core/telemetry/TelemetryFormat.h"

#include <cctype>
#include <cstdarg>
#include <charconv>
#include <cstdio>
#include <vector>

#include "core/base/CLocale.h"

namespace corvane3 {

namespace {

// The 38 base columns. The two blanks before OCXOTau belong to the format.
constexpr char kBaseHeader[] =
    "MJD, ID, UnitType, Factory, State, Alarm1, Alarm2, Alarm3, Alarm4, Alarm5, StdDev, "
    "CRamErr, CRabErr, CLevel, VVCXO, ZRamErr, ZRabErr, ZLevel, VCField, ICField, VuWave, "
    "DCLevel, DACGain, NumGain, TChassis, VCsOven, OSCState, VEM, IIP, VMS, VION,  OCXOTau, "
    "FreqTune, Pos21V, Pos5V, Pos15V, Neg15V, Version";
// The Tq9000's supply board.
constexpr char kSupplyBoardHeader[] = ", System24, ACDC24, DCIN24, Batt24, Charge, Source";
// Nominal values and outlier counts; written by every record whose Factory column is 1.
constexpr char kNominalHeader[] = ",NOMVMS, NOMVION, NOMZRabi, CBTD, CBTT, OCXOD, OCXOT";

// The Factory column: 1 says the seven nominal and outlier columns follow.
constexpr int kFactoryColumnsPresent = 1;
// OSCState is "Ready" when the unit reports this oven character, else "Cold".
constexpr char kOvenReady = 'c';
// Written in place of a text character that would break the line into other columns or lines.
constexpr char kUnusableCharacter = '?';

__attribute__((format(printf, 2, 3))) void Append(std::string& line, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    va_list again;
    va_copy(again, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, arguments);
    va_end(arguments);
    if (length > 0) {
        const std::size_t start = line.size();
        line.resize(start + static_cast<std::size_t>(length) + 1);
        std::vsnprintf(line.data() + start, static_cast<std::size_t>(length) + 1, format, again);
        line.pop_back();  // the terminator vsnprintf wrote
    }
    va_end(again);
}

bool KeepsLineIntact(char c) {
    return c != ',' && std::isprint(static_cast<unsigned char>(c));
}

// A NUL or control character from a garbled reply would end or split the line; a comma would
// add a column.
char CharacterForColumn(char c) {
    return KeepsLineIntact(c) ? c : kUnusableCharacter;
}

std::string TextForColumn(std::string text) {
    for (char& c : text) {
        c = CharacterForColumn(c);
    }
    return text;
}

double Wide(float value) {
    return static_cast<double>(value);
}

}  // namespace

std::string TelemetryHeaderLine(std::int32_t model) {
    std::string line = kBaseHeader;
    if (model == kModelTq9000) {
        line += kSupplyBoardHeader;
    }
    line += kNominalHeader;
    return line;
}

std::string TelemetryRecordLine(const UnitStateData& data, std::int32_t model) {
    const D1Record& d1 = data.d1;
    const CScopedCLocale numbers;  // every value is written with a decimal point
    std::string line;
    line.reserve(512);
    Append(line, "%.6lf", data.mjd);
    Append(line, ",%d, %d, %d", static_cast<int>(d1.serialNumber), model, kFactoryColumnsPresent);
    Append(line, ",%2u,%2x,%2x,%2x,%2x,%2x", d1.state, d1.alarm1, d1.alarm2, d1.alarm3, d1.alarm4,
           d1.alarm5);
    Append(line, ",%d,%d,%d,%d,%d", d1.stdDev, d1.cRamErr, d1.cRabErr, d1.cLevel, d1.vvcxo);
    Append(line, ",%d,%d,%d,%d,%5.2f", d1.zRamErr, d1.zRabErr, d1.zLevel, d1.vcField,
           Wide(d1.icField));
    Append(line, ",%d,%d,%.2f,%.3f,%.3f", d1.vuWave, d1.dcLevel, Wide(data.d2.dacGain),
           Wide(d1.numGain), Wide(d1.tChassis));
    Append(line, ",%.3f", Wide(d1.vCsOven));
    line += d1.oscState == kOvenReady ? ",Ready" : ",Cold";
    Append(line, ",%.3f,%d,%.3f", Wide(d1.vem), d1.iip, Wide(d1.vms));
    Append(line, ",%.3f,%.3f", Wide(d1.vion), Wide(d1.ocxoTau));
    Append(line, ",%d,%.3f,%.3f,%.3f", d1.freqTune, Wide(d1.pos21V), Wide(d1.pos5V),
           Wide(d1.pos15V));
    Append(line, ",%.3f,%c %d", Wide(d1.neg15V), CharacterForColumn(data.firmwareRevisionLetter),
           data.firmwareRevision);
    if (model == kModelTq9000) {
        const B20Record& b20 = data.b20;
        Append(line, ",%.2f,%.2f,%.2f,%.2f,%d, ", Wide(b20.system24), Wide(b20.acdc24),
               Wide(b20.dcin24), Wide(b20.batt24), b20.charge);
        line += TextForColumn(b20.source);
    }
    Append(line, ",%.3f,%.3f,%d", Wide(data.d2.nomVms), Wide(data.d2.nomVion), data.d2.nomZRabi);
    const OutlierCounts& outliers = data.outliers;
    Append(line, ",%d,%d,%d,%d", outliers.burpsToday, outliers.burpsTotal, outliers.hopsToday,
           outliers.hopsTotal);
    return line;
}

namespace {

// Cuts a record line at its commas; the blanks of the format before a value are dropped.
std::vector<std::string_view> RecordColumns(std::string_view line) {
    std::vector<std::string_view> columns;
    while (true) {
        const std::size_t comma = line.find(',');
        std::string_view column = line.substr(0, comma);
        column.remove_prefix(std::min(column.find_first_not_of(' '), column.size()));
        columns.push_back(column);
        if (comma == std::string_view::npos) {
            return columns;
        }
        line.remove_prefix(comma + 1);
    }
}

// Reads whole columns into numbers; the first column that is not one whole number spoils all.
class CColumnReader {
  public:
    explicit CColumnReader(const std::vector<std::string_view>& columns) : columns_(columns) {}

    template <typename T>
    void Next(T& value, int base = 10) {
        const std::string_view text = columns_[next_++];
        std::from_chars_result result;
        if constexpr (std::is_floating_point_v<T>) {
            result = std::from_chars(text.data(), text.data() + text.size(), value);
        } else {
            result = std::from_chars(text.data(), text.data() + text.size(), value, base);
        }
        good_ = good_ && result.ec == std::errc() && result.ptr == text.data() + text.size();
    }
    std::string_view NextText() { return columns_[next_++]; }
    bool Good() const { return good_; }

  private:
    const std::vector<std::string_view>& columns_;
    std::size_t next_ = 0;
    bool good_ = true;
};

constexpr int kHexadecimal = 16;

}  // namespace

bool ParseTelemetryRecordLine(std::string_view line, UnitStateData& data, std::int32_t& model) {
    const std::vector<std::string_view> columns = RecordColumns(line);
    if (columns.size() != static_cast<std::size_t>(kTelemetryColumns) &&
        columns.size() != static_cast<std::size_t>(kTelemetryColumnsTq9000)) {
        return false;
    }
    UnitStateData read = data;
    D1Record& d1 = read.d1;
    CColumnReader next(columns);
    std::int32_t lineModel = 0;
    int factory = 0;
    next.Next(read.mjd);
    next.Next(d1.serialNumber);
    next.Next(lineModel);
    next.Next(factory);
    const bool tq9000 = lineModel == kModelTq9000;
    if (columns.size() != static_cast<std::size_t>(tq9000 ? kTelemetryColumnsTq9000
                                                          : kTelemetryColumns)) {
        return false;
    }
    next.Next(d1.state);
    for (std::uint32_t* alarm : {&d1.alarm1, &d1.alarm2, &d1.alarm3, &d1.alarm4, &d1.alarm5}) {
        next.Next(*alarm, kHexadecimal);
    }
    for (std::int32_t* value : {&d1.stdDev, &d1.cRamErr, &d1.cRabErr, &d1.cLevel, &d1.vvcxo,
                                &d1.zRamErr, &d1.zRabErr, &d1.zLevel, &d1.vcField}) {
        next.Next(*value);
    }
    next.Next(d1.icField);
    next.Next(d1.vuWave);
    next.Next(d1.dcLevel);
    next.Next(read.d2.dacGain);
    next.Next(d1.numGain);
    next.Next(d1.tChassis);
    next.Next(d1.vCsOven);
    d1.oscState = next.NextText() == "Ready" ? kOvenReady : 'f';
    next.Next(d1.vem);
    next.Next(d1.iip);
    for (float* value : {&d1.vms, &d1.vion, &d1.ocxoTau}) {
        next.Next(*value);
    }
    next.Next(d1.freqTune);
    for (float* value : {&d1.pos21V, &d1.pos5V, &d1.pos15V, &d1.neg15V}) {
        next.Next(*value);
    }
    // The firmware revision: its letter, a blank, its number.
    const std::string_view version = next.NextText();
    if (version.size() < 3 || version[1] != ' ') {
        return false;
    }
    read.firmwareRevisionLetter = version[0];
    std::int32_t revision = 0;
    const auto [end, error] =
        std::from_chars(version.data() + 2, version.data() + version.size(), revision);
    if (error != std::errc() || end != version.data() + version.size()) {
        return false;
    }
    read.firmwareRevision = revision;
    if (tq9000) {
        B20Record& b20 = read.b20;
        for (float* value : {&b20.system24, &b20.acdc24, &b20.dcin24, &b20.batt24}) {
            next.Next(*value);
        }
        next.Next(b20.charge);
        b20.source = std::string(next.NextText());
    }
    next.Next(read.d2.nomVms);
    next.Next(read.d2.nomVion);
    next.Next(read.d2.nomZRabi);
    OutlierCounts& outliers = read.outliers;
    for (std::int32_t* count : {&outliers.burpsToday, &outliers.burpsTotal, &outliers.hopsToday,
                                &outliers.hopsTotal}) {
        next.Next(*count);
    }
    if (!next.Good() || factory != kFactoryColumnsPresent) {
        return false;
    }
    read.d2.serialNumber = d1.serialNumber;
    read.d2.modelCode = lineModel;
    d1.valid.fill(true);
    data = std::move(read);
    model = lineModel;
    return true;
}

}  // namespace corvane3
