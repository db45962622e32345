#include "core/metrics/MetricsExposition.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <set>
#include <system_error>

#include "core/base/Mjd.h"
#include "core/link/MainStatusText.h"
#include "core/link/StatusRecords.h"
#include "core/plot/PlotData.h"
#include "core/telemetry/TelemetryColumns.h"
#include "core/telemetry/TelemetryFormat.h"

namespace corvane3 {

namespace {

// Scale factors from the instrument's units to base units.
constexpr double kMilli = 1.0e3;
constexpr double kMicro = 1.0e6;
constexpr double kPartsIn1e15 = 1.0e15;
constexpr double kNoScale = 1.0;
// No D1 row: the value is not judged by a Field valid flag.
constexpr int kNoRow = -1;

enum class EReadingModels {
    kAll,
    kTq9000Only,  // the DCC supply board
    kNot7730A,    // outlier counts, which a 7730A does not report
};

// One reading of a status record: its telemetry column name, base unit and value.
struct Reading {
    const char* channel;
    const char* unit;  // base unit; "" for a plain number
    double divisor;    // instrument unit to base unit
    int d1Row;         // its D1 row, whose flag must be set
    EReadingModels models;
    double (*value)(const UnitStateData& data);
};

// A float as its shortest decimal reads: 21.33f becomes 21.33, not 21.329999923706055.
double Widened(float value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    double widened = 0.0;
    std::from_chars(text, end, widened);
    return widened;
}

#define CORVANE3_D1_INT(member) [](const UnitStateData& d) { return double(d.d1.member); }
#define CORVANE3_D1_FLOAT(member) [](const UnitStateData& d) { return Widened(d.d1.member); }

constexpr char kVolts[] = "volts";
constexpr char kAmperes[] = "amperes";

const Reading kReadings[] = {
    {"StdDev", "", kNoScale, 40, EReadingModels::kAll, CORVANE3_D1_INT(stdDev)},
    {"CRamErr", kVolts, kMilli, 17, EReadingModels::kAll, CORVANE3_D1_INT(cRamErr)},
    {"CRabErr", kVolts, kMilli, 18, EReadingModels::kAll, CORVANE3_D1_INT(cRabErr)},
    {"CLevel", kVolts, kMilli, 22, EReadingModels::kAll, CORVANE3_D1_INT(cLevel)},
    {"VVCXO", kVolts, kMilli, 21, EReadingModels::kAll, CORVANE3_D1_INT(vvcxo)},
    {"ZRamErr", kVolts, kMilli, 19, EReadingModels::kAll, CORVANE3_D1_INT(zRamErr)},
    {"ZRabErr", kVolts, kMilli, 20, EReadingModels::kAll, CORVANE3_D1_INT(zRabErr)},
    {"ZLevel", kVolts, kMilli, 24, EReadingModels::kAll, CORVANE3_D1_INT(zLevel)},
    {"VCField", kVolts, kMilli, 23, EReadingModels::kAll, CORVANE3_D1_INT(vcField)},
    {"ICField", kAmperes, kMilli, 37, EReadingModels::kAll, CORVANE3_D1_FLOAT(icField)},
    {"VuWave", kVolts, kMilli, 28, EReadingModels::kAll, CORVANE3_D1_INT(vuWave)},
    {"DCLevel", kVolts, kMilli, 25, EReadingModels::kAll, CORVANE3_D1_INT(dcLevel)},
    {"DACGain", "", kNoScale, kNoRow, EReadingModels::kAll,
     [](const UnitStateData& d) { return Widened(d.d2.dacGain); }},
    {"NumGain", "", kNoScale, 26, EReadingModels::kAll, CORVANE3_D1_FLOAT(numGain)},
    {"TChassis", "celsius", kNoScale, 30, EReadingModels::kAll, CORVANE3_D1_FLOAT(tChassis)},
    {"VCsOven", kVolts, kNoScale, 34, EReadingModels::kAll, CORVANE3_D1_FLOAT(vCsOven)},
    {"VEM", kVolts, kNoScale, 38, EReadingModels::kAll, CORVANE3_D1_FLOAT(vem)},
    {"IIP", kAmperes, kMicro, 39, EReadingModels::kAll, CORVANE3_D1_INT(iip)},
    {"VMS", kVolts, kNoScale, 35, EReadingModels::kAll, CORVANE3_D1_FLOAT(vms)},
    {"VION", kVolts, kNoScale, 36, EReadingModels::kAll, CORVANE3_D1_FLOAT(vion)},
    {"OCXOTau", "", kNoScale, 16, EReadingModels::kAll, CORVANE3_D1_FLOAT(ocxoTau)},
    {"FreqTune", "ratio", kPartsIn1e15, 14, EReadingModels::kAll, CORVANE3_D1_INT(freqTune)},
    {"Pos21V", kVolts, kNoScale, 15, EReadingModels::kAll, CORVANE3_D1_FLOAT(pos21V)},
    {"Pos5V", kVolts, kNoScale, 29, EReadingModels::kAll, CORVANE3_D1_FLOAT(pos5V)},
    {"Pos15V", kVolts, kNoScale, 31, EReadingModels::kAll, CORVANE3_D1_FLOAT(pos15V)},
    {"Neg15V", kVolts, kNoScale, 32, EReadingModels::kAll, CORVANE3_D1_FLOAT(neg15V)},
    {"System24", kVolts, kNoScale, kNoRow, EReadingModels::kTq9000Only,
     [](const UnitStateData& d) { return Widened(d.b20.system24); }},
    {"ACDC24", kVolts, kNoScale, kNoRow, EReadingModels::kTq9000Only,
     [](const UnitStateData& d) { return Widened(d.b20.acdc24); }},
    {"DCIN24", kVolts, kNoScale, kNoRow, EReadingModels::kTq9000Only,
     [](const UnitStateData& d) { return Widened(d.b20.dcin24); }},
    {"Batt24", kVolts, kNoScale, kNoRow, EReadingModels::kTq9000Only,
     [](const UnitStateData& d) { return Widened(d.b20.batt24); }},
    {"Charge", kAmperes, kMilli, kNoRow, EReadingModels::kTq9000Only,
     [](const UnitStateData& d) { return double(d.b20.charge); }},
    {"NOMVMS", kVolts, kNoScale, kNoRow, EReadingModels::kAll,
     [](const UnitStateData& d) { return Widened(d.d2.nomVms); }},
    {"NOMVION", kVolts, kNoScale, kNoRow, EReadingModels::kAll,
     [](const UnitStateData& d) { return Widened(d.d2.nomVion); }},
    {"NOMZRabi", "", kNoScale, kNoRow, EReadingModels::kAll,
     [](const UnitStateData& d) { return double(d.d2.nomZRabi); }},
    {"CBTD", "", kNoScale, kNoRow, EReadingModels::kNot7730A,
     [](const UnitStateData& d) { return double(d.outliers.burpsToday); }},
    {"CBTT", "", kNoScale, kNoRow, EReadingModels::kNot7730A,
     [](const UnitStateData& d) { return double(d.outliers.burpsTotal); }},
    {"OCXOD", "", kNoScale, kNoRow, EReadingModels::kNot7730A,
     [](const UnitStateData& d) { return double(d.outliers.hopsToday); }},
    {"OCXOT", "", kNoScale, kNoRow, EReadingModels::kNot7730A,
     [](const UnitStateData& d) { return double(d.outliers.hopsTotal); }},
};

#undef CORVANE3_D1_INT
#undef CORVANE3_D1_FLOAT

bool Shown(const Reading& reading, const UnitStateData& data, std::int32_t model) {
    if (reading.d1Row != kNoRow && !data.d1.valid[static_cast<std::size_t>(reading.d1Row)]) {
        return false;  // out of its range: no reading, whatever the field holds
    }
    switch (reading.models) {
        case EReadingModels::kAll:
            return true;
        case EReadingModels::kTq9000Only:
            return model == kModelTq9000;
        case EReadingModels::kNot7730A:
            return model != kModel7730A;
    }
    return true;
}

// The unit-status codes with a name, for the state metric: a word to match in a query, and
// the text the window shows.
struct UnitStateName {
    std::uint32_t code;
    const char* word;
};
constexpr UnitStateName kUnitStates[] = {
    {0, "operating"}, {1, "warming_up"}, {10, "minor_fault"}, {11, "major_fault"}};

// Appends the text of a sample value: the shortest form that reads back, never with a decimal
// comma whatever the locale; NaN and infinities as the format spells them.
void AppendValue(std::string& text, double value) {
    if (std::isnan(value)) {
        text += "NaN";
        return;
    }
    if (std::isinf(value)) {
        text += value > 0 ? "+Inf" : "-Inf";
        return;
    }
    char digits[32];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    text.append(digits, end);
}

// An MJD in seconds since 1970, to the millisecond: the day fraction holds no more.
double UnixSeconds(double mjd) {
    constexpr double kMillisecondsPerSecond = 1000.0;
    return std::round(SecondsSince1970(mjd) * kMillisecondsPerSecond) / kMillisecondsPerSecond;
}

class CExposition {
  public:
    // Starts a family: its HELP and TYPE lines.
    void Family(const char* name, const char* type, const char* help) {
        name_ = name;
        text_ += "# HELP ";
        text_ += name;
        text_ += ' ';
        text_ += help;
        text_ += "\n# TYPE ";
        text_ += name;
        text_ += ' ';
        text_ += type;
        text_ += '\n';
    }
    // A sample of the current family; labels is "" or the inside of the braces.
    void Sample(double value, const std::string& labels = {}) {
        text_ += name_;
        if (!labels.empty()) {
            text_ += '{';
            text_ += labels;
            text_ += '}';
        }
        text_ += ' ';
        AppendValue(text_, value);
        text_ += '\n';
    }
    // A family of one sample.
    void One(const char* name, const char* type, const char* help, double value) {
        Family(name, type, help);
        Sample(value);
    }
    std::string Take() { return std::move(text_); }

  private:
    std::string text_;
    const char* name_ = "";
};

std::string Label(const char* name, const std::string& value) {
    return std::string(name) + "=\"" + EscapeLabelValue(value) + '"';
}

std::string Trimmed(std::string text) {
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

std::string FirmwareText(const UnitStateData& data) {
    std::string text;
    if (data.firmwareRevisionLetter != 0) {
        text += data.firmwareRevisionLetter;
        text += ' ';
    }
    text += std::to_string(data.firmwareRevision);
    return text;
}

// Which unit sent the last record: the name a dashboard lists a unit by, current or not.
void RenderIdentity(CExposition& out, const MetricsSnapshot& snapshot) {
    const UnitStateData& data = snapshot.record;
    out.Family("corvane3_unit_info", "gauge",
               "The unit that sent the last status record: serial number, model and servo "
               "firmware.");
    std::string model = ModelText(snapshot.model);
    if (model.empty()) {
        model = std::to_string(snapshot.model);
    }
    out.Sample(1.0, Label("serial", std::to_string(data.d1.serialNumber)) + ',' +
                        Label("model", model) + ',' + Label("firmware", FirmwareText(data)));
}

// What the last record says of the unit's condition: shown only while it is current.
void RenderCondition(CExposition& out, const MetricsSnapshot& snapshot) {
    const UnitStateData& data = snapshot.record;
    const D1Record& d1 = data.d1;

    out.Family("corvane3_unit_state", "gauge",
               "1 for the unit's operating state in the last status record, 0 for the others; "
               "name is the state as the window shows it.");
    for (const UnitStateName& state : kUnitStates) {
        out.Sample(d1.state == state.code ? 1.0 : 0.0,
                   Label("state", state.word) + ',' + Label("name", UnitStatusText(state.code)));
    }
    out.One("corvane3_unit_status_code", "gauge",
            "The unit-status code of the last status record (0 operating, 1 warming up, 10 "
            "minor fault, 11 major fault).",
            d1.state);

    out.Family("corvane3_alarm", "gauge",
               "1 for each alarm pending in the last status record (code in hexadecimal).");
    std::set<std::uint32_t> shown;
    for (const std::uint32_t code : {d1.alarm1, d1.alarm2, d1.alarm3, d1.alarm4, d1.alarm5}) {
        if (code == 0 || !shown.insert(code).second) {
            continue;
        }
        char hex[16];
        std::snprintf(hex, sizeof hex, "%02x", code);
        out.Sample(1.0, Label("code", hex) + ',' + Label("name", Trimmed(AlarmName(code))));
    }

    out.Family("corvane3_reading", "gauge",
               "Each reading of the last status record, named by its telemetry column, in base "
               "units.");
    for (const Reading& reading : kReadings) {
        if (Shown(reading, data, snapshot.model)) {
            out.Sample(reading.value(data) / reading.divisor,
                       Label("channel", reading.channel) + ',' + Label("unit", reading.unit));
        }
    }
    if (d1.valid[33]) {
        out.One("corvane3_ocxo_oven_ready", "gauge",
                "1 while the OCXO oven is ready, 0 while it is cold.", d1.oscState == 'c');
    }
    const SignalChannels signal =
        DeriveSignalChannels(d1.cLevel, d1.numGain, data.d2.dacGain, d1.dcLevel, false);
    if (std::isfinite(signal.signal)) {
        out.One("corvane3_beam_signal_volts", "gauge",
                "The beam signal of the last status record (clock signal over the gains).",
                signal.signal / kMilli);
    }
}

// The factor from a column's telemetry units to the base units corvane3_reading uses.
double DivisorOf(const std::string& channel) {
    for (const Reading& reading : kReadings) {
        if (channel == reading.channel) {
            return reading.divisor;
        }
    }
    return kNoScale;
}

// The configured limits, in base units like the readings they bound.
void RenderLimits(CExposition& out, const MetricsSnapshot& snapshot) {
    if (snapshot.limits.empty()) {
        return;
    }
    out.Family("corvane3_reading_limit", "gauge",
               "Each reading's configured warning and critical limits, in the base units of "
               "corvane3_reading.");
    for (const ReadingLimit& limit : snapshot.limits) {
        const double divisor = DivisorOf(limit.channel);
        for (const auto& [level, band] : {std::pair{ELimitLevel::kWarning, limit.warning},
                                          std::pair{ELimitLevel::kCritical, limit.critical}}) {
            for (const auto& [bound, value] : {std::pair{ELimitBound::kLow, band.low},
                                               std::pair{ELimitBound::kHigh, band.high}}) {
                if (value) {
                    out.Sample(*value / divisor, Label("channel", limit.channel) + ',' +
                                                     Label("level", LimitLevelWord(level)) + ',' +
                                                     Label("bound", LimitBoundWord(bound)));
                }
            }
        }
    }
}

bool Outside(const LimitBand& band, double value) {
    return (band.low && value < *band.low) || (band.high && value > *band.high);
}

// Which bands each limited reading of the last record is outside: each band on its own, so a
// reading outside its critical band is outside its warning band too. The value is the one the
// record line holds, as the limits are compared with the file's values; a reading the record
// lacks, or that is not a number, has no sample.
void RenderLimitLevels(CExposition& out, const MetricsSnapshot& snapshot) {
    if (snapshot.limits.empty()) {
        return;
    }
    out.Family("corvane3_reading_outside_limit", "gauge",
               "1 while the reading is outside its band of this level, else 0.");
    const std::string line = TelemetryRecordLine(snapshot.record, snapshot.model);
    for (const ReadingLimit& limit : snapshot.limits) {
        const std::optional<std::size_t> column =
            TelemetryColumnIndex(limit.channel, snapshot.model);
        const std::optional<double> value =
            column ? TelemetryColumnValue(line, *column) : std::nullopt;
        if (!value || !std::isfinite(*value)) {
            continue;
        }
        for (const auto& [level, band] : {std::pair{ELimitLevel::kWarning, limit.warning},
                                          std::pair{ELimitLevel::kCritical, limit.critical}}) {
            if (band.low || band.high) {
                out.Sample(
                    Outside(band, *value) ? 1.0 : 0.0,
                    Label("channel", limit.channel) + ',' + Label("level", LimitLevelWord(level)));
            }
        }
    }
}

void RenderLimitProjections(CExposition& out, const MetricsSnapshot& snapshot) {
    bool started = false;
    for (std::size_t i = 0; i < snapshot.limitReachedMjd.size() && i < snapshot.limits.size();
         ++i) {
        if (!snapshot.limitReachedMjd[i]) {
            continue;
        }
        if (!started) {
            out.Family("corvane3_reading_limit_reached_timestamp_seconds", "gauge",
                       "When the reading's linear trend over the telemetry file reaches its "
                       "critical limit, in seconds since 1970.");
            started = true;
        }
        out.Sample(UnixSeconds(*snapshot.limitReachedMjd[i]),
                   Label("channel", snapshot.limits[i].channel));
    }
}

}  // namespace

std::chrono::seconds RecordCurrentFor(int pollingIntervalSeconds) {
    constexpr int kIntervalsBeforeStale = 3;
    constexpr std::chrono::seconds kShortest{30};
    return std::max(kShortest,
                    std::chrono::seconds(kIntervalsBeforeStale) * pollingIntervalSeconds);
}

std::string ValidUtf8(const std::string& text) {
    // The replacement character, U+FFFD, for each byte that starts no valid sequence.
    constexpr char kReplacement[] = "\xEF\xBF\xBD";
    std::string valid;
    valid.reserve(text.size());
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char lead = byte(i);
        // The sequence's length, and the range of its second byte that excludes overlong
        // forms, UTF-16 surrogates and code points above U+10FFFF.
        std::size_t length = 0;
        unsigned char secondLow = 0x80, secondHigh = 0xBF;
        if (lead < 0x80) {
            length = 1;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            secondLow = lead == 0xE0 ? 0xA0 : 0x80;
            secondHigh = lead == 0xED ? 0x9F : 0xBF;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            secondLow = lead == 0xF0 ? 0x90 : 0x80;
            secondHigh = lead == 0xF4 ? 0x8F : 0xBF;
        }
        bool whole = length > 0 && i + length <= text.size();
        for (std::size_t k = 1; whole && k < length; ++k) {
            const unsigned char c = byte(i + k);
            whole = k == 1 ? (c >= secondLow && c <= secondHigh) : (c >= 0x80 && c <= 0xBF);
        }
        if (whole) {
            valid.append(text, i, length);
            i += length;
        } else {
            valid += kReplacement;
            ++i;
        }
    }
    return valid;
}

std::string EscapeLabelValue(const std::string& value) {
    std::string escaped;
    escaped.reserve(value.size());
    for (const char c : ValidUtf8(value)) {
        switch (c) {
            case '\\':
                escaped += "\\\\";
                break;
            case '"':
                escaped += "\\\"";
                break;
            case '\n':
                escaped += "\\n";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

std::string RenderMetrics(const MetricsSnapshot& snapshot) {
    CExposition out;
    out.Family("corvane3_build_info", "gauge", "The program's version, with the value 1.");
    out.Sample(1.0, Label("version", snapshot.version));
    out.One("process_start_time_seconds", "gauge", "When this run started, in seconds since 1970.",
            snapshot.startedSeconds);
    out.One("corvane3_up", "gauge", "1 while the unit answers on its serial port, else 0.",
            snapshot.up);
    if (snapshot.hasRecord) {
        RenderIdentity(out, snapshot);
        if (snapshot.up && snapshot.recordCurrent) {
            RenderCondition(out, snapshot);
            RenderLimitLevels(out, snapshot);
        }
        out.One("corvane3_last_record_timestamp_seconds", "gauge",
                "When the last status record was polled, in seconds since 1970.",
                UnixSeconds(snapshot.record.mjd));
    }
    out.One("corvane3_polling_interval_seconds", "gauge", "Time between two status records.",
            snapshot.pollingIntervalSeconds);
    out.One("corvane3_status_records_total", "counter", "Status records received in this run.",
            static_cast<double>(snapshot.statusRecords));
    out.One("corvane3_recording", "gauge",
            "1 when status records are written to a telemetry file, else 0.", snapshot.recording);
    out.One("corvane3_records_recorded_total", "counter",
            "Status records written to the telemetry file in this run.",
            static_cast<double>(snapshot.recordsRecorded));
    out.One("corvane3_records_lost_total", "counter",
            "Status records dropped in this run because the telemetry file could not be written.",
            static_cast<double>(snapshot.recordsLost));
    out.One("corvane3_recording_failing", "gauge",
            "1 while status records cannot be written to the telemetry file, else 0.",
            snapshot.recordingFailing);
    if (snapshot.recordingFailing && !snapshot.recordingFailure.empty()) {
        // One series at a time, so the reason's text may be a label: an alert can quote it.
        out.Family("corvane3_recording_failure_info", "gauge",
                   "1 while records cannot be written; its label says what failed, with the file "
                   "and the system's reason.");
        out.Sample(1.0, Label("reason", snapshot.recordingFailure));
    }
    out.One("corvane3_commands_withdrawn_total", "counter",
            "Commands given up unsent because the unit did not answer.",
            static_cast<double>(snapshot.commandsWithdrawn));
    if (snapshot.signalSlopePerDay) {
        out.One("corvane3_beam_signal_decay_rate_per_second", "gauge",
                "Slope of the natural logarithm of the beam signal fitted over the telemetry "
                "file, per second (negative while it falls; --summary gives it in %/day).",
                *snapshot.signalSlopePerDay / kSecondsPerDay);
    }
    if (snapshot.signalSlopePerDay) {
        out.One("corvane3_beam_signal_fit_span_seconds", "gauge",
                "The time from the first to the last record of the beam signal's fit.",
                snapshot.signalFitSpanDays * kSecondsPerDay);
    }
    if (snapshot.signalHalvesMjd) {
        out.One("corvane3_beam_signal_halves_timestamp_seconds", "gauge",
                "When the falling fit of the beam signal reaches half its value at the last "
                "record, in seconds since 1970.",
                UnixSeconds(*snapshot.signalHalvesMjd));
    }
    RenderLimits(out, snapshot);
    RenderLimitProjections(out, snapshot);
    return out.Take();
}

}  // namespace corvane3
