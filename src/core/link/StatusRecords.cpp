#include "core/link/StatusRecords.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <variant>
#include <vector>

#include "core/base/CLocale.h"
#include "core/link/CommandCodes.h"
#include "core/link/CommandFrame.h"

namespace corvane3 {

namespace {

// Field 19 of D*5 is a text of at most this many characters.
constexpr std::size_t kD5Field19Limit = 11;
// Each column is copied into a scratch text of this size before it is scanned.
constexpr std::size_t kScratchSize = 16;
// The DAC gain is reported as a divisor of this value.
constexpr float kDacGainDividend = 256.0f;
// The identity poll reads the first characters of D*2 on their own, then the rest.
constexpr std::size_t kIdentityHeadLength = 8;
// B20: the character before the final ETX ends the scanned text.
constexpr std::size_t kB20TextEnd = 37;

enum class EConversion { kUnsigned, kHex, kSigned, kLong, kFloat, kText, kChar, kDacGain };
enum class ECheck { kRange, kNone, kModeText, kOvenState };

template <typename Record>
using FieldRef = std::variant<std::uint32_t Record::*, std::int32_t Record::*, float Record::*,
                              std::string Record::*, char Record::*>;

template <typename Record>
struct Column {
    std::size_t start;
    std::size_t length;
    EConversion conversion;
    FieldRef<Record> field;
    ECheck check;
    double low = 0;
    double high = 0;
};

template <typename T>
bool Scan(const char* text, const char* format, T& field) {
    T value{};
    if (std::sscanf(text, format, &value) != 1) {
        return false;
    }
    field = value;
    return true;
}

// Scans one column into its field; a column that does not scan leaves the field unchanged.
// True when the column scanned.
template <typename Record>
bool ScanColumn(std::string_view reply, const Column<Record>& column, Record& record) {
    char scratch[kScratchSize] = {};
    if (column.start < reply.size()) {
        const std::size_t n =
            std::min({column.length, reply.size() - column.start, kScratchSize - 1});
        std::memcpy(scratch, reply.data() + column.start, n);
    }
    return std::visit(
        [&](auto member) -> bool {
            auto& field = record.*member;
            using Field = std::remove_reference_t<decltype(field)>;
            if constexpr (std::is_same_v<Field, std::uint32_t>) {
                unsigned value = field;
                const bool ok =
                    Scan(scratch, column.conversion == EConversion::kHex ? "%x" : "%u", value);
                field = value;
                return ok;
            } else if constexpr (std::is_same_v<Field, std::int32_t>) {
                long value = field;
                const bool ok = Scan(scratch, "%ld", value);
                field = static_cast<std::int32_t>(
                    std::clamp<long>(value, std::numeric_limits<std::int32_t>::min(),
                                     std::numeric_limits<std::int32_t>::max()));
                return ok;
            } else if constexpr (std::is_same_v<Field, float>) {
                if (column.conversion == EConversion::kDacGain) {
                    int divisor = 0;
                    if (!Scan(scratch, "%d", divisor)) {
                        return false;
                    }
                    field = divisor != 0 ? kDacGainDividend / static_cast<float>(divisor)
                                         : std::numeric_limits<float>::infinity();
                    return true;
                }
                return Scan(scratch, "%f", field);
            } else if constexpr (std::is_same_v<Field, std::string>) {
                char text[kScratchSize] = {};
                char format[8];
                std::snprintf(format, sizeof format, "%%%zus", column.length);
                if (std::sscanf(scratch, format, text) != 1) {
                    return false;
                }
                field = text;
                return true;
            } else {
                return Scan(scratch, "%c", field);
            }
        },
        column.field);
}

template <typename Record>
bool ColumnValid(const Column<Record>& column, const Record& record) {
    switch (column.check) {
        case ECheck::kNone:
            return true;
        case ECheck::kModeText: {
            const std::string& text = record.*std::get<std::string Record::*>(column.field);
            return text == "R+Z" || text == "R+T";
        }
        case ECheck::kOvenState: {
            const char state = record.*std::get<char Record::*>(column.field);
            return state == 'c' || state == 'f';
        }
        case ECheck::kRange:
            break;
    }
    const double value = std::visit(
        [&](auto member) -> double {
            const auto& field = record.*member;
            if constexpr (std::is_same_v<std::remove_cvref_t<decltype(field)>, std::string>) {
                return 0.0;
            } else {
                return static_cast<double>(field);
            }
        },
        column.field);
    return column.low <= value && value <= column.high;
}

using C1 = Column<D1Record>;
using Cv = EConversion;
using Ck = ECheck;
const std::vector<C1>& D1Columns() {
    static const std::vector<C1> columns = {
        {5, 5, Cv::kUnsigned, &D1Record::serialNumber, Ck::kRange, 0, 99999},
        {11, 3, Cv::kUnsigned, &D1Record::days, Ck::kRange, 0, 999},
        {15, 2, Cv::kUnsigned, &D1Record::hours, Ck::kRange, 0, 23},
        {18, 2, Cv::kUnsigned, &D1Record::minutes, Ck::kRange, 0, 59},
        {22, 2, Cv::kUnsigned, &D1Record::seconds, Ck::kRange, 0, 59},
        {26, 1, Cv::kUnsigned, &D1Record::modeNumber, Ck::kRange, 1, 2},
        {28, 3, Cv::kText, &D1Record::modeText, Ck::kModeText},
        {36, 2, Cv::kUnsigned, &D1Record::state, Ck::kRange, 0, 17},
        {39, 2, Cv::kHex, &D1Record::alarm1, Ck::kRange, 0, 255},
        {42, 2, Cv::kHex, &D1Record::alarm2, Ck::kRange, 0, 255},
        {45, 2, Cv::kHex, &D1Record::alarm3, Ck::kRange, 0, 255},
        {48, 2, Cv::kHex, &D1Record::alarm4, Ck::kRange, 0, 255},
        {51, 2, Cv::kHex, &D1Record::alarm5, Ck::kRange, 0, 255},
        {55, 4, Cv::kSigned, &D1Record::c, Ck::kRange, -999, 999},
        {61, 7, Cv::kLong, &D1Record::freqTune, Ck::kRange, -999999, 999999},
        {69, 6, Cv::kFloat, &D1Record::pos21V, Ck::kRange, -100.0, 100.0},
        {79, 4, Cv::kFloat, &D1Record::ocxoTau, Ck::kRange, 0.1, 100.0},
        {86, 4, Cv::kSigned, &D1Record::cRamErr, Ck::kRange, -999, 999},
        {93, 5, Cv::kSigned, &D1Record::cRabErr, Ck::kRange, -9999, 9999},
        {99, 4, Cv::kSigned, &D1Record::zRamErr, Ck::kRange, -999, 999},
        {106, 5, Cv::kSigned, &D1Record::zRabErr, Ck::kRange, -9999, 9999},
        {113, 5, Cv::kSigned, &D1Record::vvcxo, Ck::kRange, -9999, 9999},
        {120, 4, Cv::kSigned, &D1Record::cLevel, Ck::kRange, 0, 9999},
        {126, 5, Cv::kSigned, &D1Record::vcField, Ck::kRange, -9999, 9999},
        {133, 4, Cv::kSigned, &D1Record::zLevel, Ck::kRange, 0, 9999},
        {139, 5, Cv::kSigned, &D1Record::dcLevel, Ck::kNone},
        {147, 4, Cv::kFloat, &D1Record::numGain, Ck::kRange, 0.1, 9.99},
        {153, 5, Cv::kSigned, &D1Record::la, Ck::kRange, -9999, 9999},
        {160, 5, Cv::kSigned, &D1Record::vuWave, Ck::kRange, -9999, 9999},
        {167, 5, Cv::kFloat, &D1Record::pos5V, Ck::kRange, -9.99, 9.99},
        {175, 5, Cv::kFloat, &D1Record::tChassis, Ck::kRange, -99.9, 99.9},
        {181, 5, Cv::kFloat, &D1Record::pos15V, Ck::kRange, -99.9, 99.9},
        {188, 5, Cv::kFloat, &D1Record::neg15V, Ck::kRange, -99.9, 99.9},
        {197, 1, Cv::kChar, &D1Record::oscState, Ck::kOvenState},
        {201, 4, Cv::kFloat, &D1Record::vCsOven, Ck::kRange, 0.0, 99.9},
        {208, 4, Cv::kFloat, &D1Record::vms, Ck::kRange, 0.0, 99.9},
        {215, 4, Cv::kFloat, &D1Record::vion, Ck::kRange, 0.0, 9.99},
        {222, 4, Cv::kFloat, &D1Record::icField, Ck::kRange, 0.0, 99.9},
        {229, 4, Cv::kFloat, &D1Record::vem, Ck::kRange, 0.0, 99.9},
        {236, 3, Cv::kSigned, &D1Record::iip, Ck::kRange, 0, 999},
        {240, 4, Cv::kSigned, &D1Record::stdDev, Ck::kRange, -999, 999},
    };
    return columns;
}

using C2 = Column<D2Record>;
// Row 17 (the model code) is read apart from the table; its index is kept for the flags.
constexpr std::size_t kD2ModelRow = 17;
constexpr std::size_t kD2ModelStart = 135;
constexpr std::size_t kD2ModelLength = 3;
const std::vector<C2>& D2Columns() {
    static const std::vector<C2> columns = {
        {5, 5, Cv::kUnsigned, &D2Record::serialNumber, Ck::kRange, 0, 99999},
        {11, 3, Cv::kUnsigned, &D2Record::days, Ck::kRange, 0, 999},
        {15, 2, Cv::kUnsigned, &D2Record::hours, Ck::kRange, 0, 23},
        {18, 2, Cv::kUnsigned, &D2Record::minutes, Ck::kRange, 0, 59},
        {22, 2, Cv::kUnsigned, &D2Record::seconds, Ck::kRange, 0, 59},
        {28, 4, Cv::kFloat, &D2Record::nomVms, Ck::kRange, 0.0, 99.9},
        {37, 4, Cv::kFloat, &D2Record::nomVion, Ck::kRange, 0.0, 9.99},
        {48, 3, Cv::kDacGain, &D2Record::dacGain, Ck::kRange, 1.0, 256.0},
        {56, 3, Cv::kSigned, &D2Record::offsetMinus15, Ck::kRange, -99, 99},
        {64, 3, Cv::kSigned, &D2Record::offsetPlus15, Ck::kRange, -99, 99},
        {72, 3, Cv::kSigned, &D2Record::offsetPlus45, Ck::kRange, -99, 99},
        {80, 3, Cv::kSigned, &D2Record::offsetPlus75, Ck::kRange, -99, 99},
        {87, 5, Cv::kSigned, &D2Record::pi, Ck::kRange, -9999, 9999},
        {95, 5, Cv::kSigned, &D2Record::nomZRabi, Ck::kRange, -9999, 9999},
        {104, 4, Cv::kFloat, &D2Record::ddsFrequencyMHz, Ck::kRange, 0.0, 999.0},
        {117, 2, Cv::kText, &D2Record::sweepCapability, Ck::kNone},
        {124, 10, Cv::kText, &D2Record::text, Ck::kNone},
        {kD2ModelStart, kD2ModelLength, Cv::kSigned, &D2Record::modelCode, Ck::kNone},
        {139, 3, Cv::kFloat, &D2Record::value18, Ck::kRange, 0.0, 999.0},
    };
    return columns;
}
constexpr std::size_t kD2DacGainRow = 7;

bool HasD2Header(std::string_view reply) {
    return reply.size() >= 5 && reply[0] == kStx && reply[1] == kCr && reply[2] == kLf &&
           reply[3] == 'I' && reply[4] == 'D';
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// Writes one of the constant status-record requests as a single write.
bool WriteRequest(CTolvexLink& link, const char* code) {
    return link.Port().WriteBytes(BuildFrame(code, 0, "", kModelBeforeIdentification));
}

}  // namespace

bool ParseD1Record(std::string_view reply, D1Record& record) {
    const CScopedCLocale numbers;  // the unit sends decimal points
    const auto& columns = D1Columns();
    constexpr std::size_t kSerialRow = 0;
    constexpr std::size_t kLastFaultRow = 12;
    constexpr std::size_t kDeviationRow = 40;
    // The serial number names the unit's telemetry file: one that does not scan (garbled on the
    // line) would keep an earlier record's number, or 0, and send the record to another file.
    bool serialScanned = false;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const bool scanned = ScanColumn(reply, columns[i], record);
        serialScanned = i == kSerialRow ? scanned : serialScanned;
    }
    for (std::size_t i = 0; i < columns.size(); ++i) {
        record.valid[i] = ColumnValid(columns[i], record);
    }
    record.valid[kSerialRow] = record.valid[kSerialRow] && serialScanned;
    return std::all_of(record.valid.begin(), record.valid.begin() + kLastFaultRow + 1,
                       [](bool valid) { return valid; }) &&
           record.valid[kDeviationRow];
}

bool ParseD2Record(std::string_view reply, D2Record& record, bool& instrumentSweep) {
    const CScopedCLocale numbers;  // the unit sends decimal points
    const bool header = HasD2Header(reply);
    const std::int32_t previousModel = record.modelCode;
    const auto& columns = D2Columns();
    bool dacGainScanned = false;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (i == kD2ModelRow) {
            const std::string_view model = reply.size() >= kD2ModelStart + kD2ModelLength
                                               ? reply.substr(kD2ModelStart, kD2ModelLength)
                                               : std::string_view();
            if (model == "ver" || model == "370") {
                record.modelCode = kModel7730A;
                continue;
            }
        }
        const bool scanned = ScanColumn(reply, columns[i], record);
        if (i == kD2DacGainRow) {
            dacGainScanned = scanned;
        }
    }
    // One garbled reply must not reshape the window, the menus and the telemetry.
    if (!IsKnownModel(record.modelCode)) {
        record.modelCode = previousModel;
    }
    // A 7730A reports its gain itself, not as a divisor. Only a gain read in this reply is
    // turned back: inverting a kept value would flip it on every poll.
    if (record.modelCode == kModel7730A && dacGainScanned) {
        record.dacGain = kDacGainDividend / record.dacGain;
    }
    instrumentSweep = EqualNoCase(record.sweepCapability, "US");
    bool good = true;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const bool judged = i <= 14 || i == 18;
        record.valid[i] = judged && ColumnValid(columns[i], record);
        good = good && (!judged || record.valid[i]);
    }
    return header && good;
}

bool ParseIdentity(std::string_view reply, D2Record& record) {
    const CScopedCLocale numbers;  // the unit sends decimal points
    const std::string text(reply);
    D2Record scanned = record;
    unsigned serial = scanned.serialNumber, days = scanned.days, hours = scanned.hours,
             minutes = scanned.minutes, seconds = scanned.seconds;
    int gainScratch = 0;
    char sweep[kScratchSize] = {};
    char label[kScratchSize] = {};
    std::sscanf(text.c_str(),
                "\x02 ID%u %u %uh %umn %u Vs %fV Vf %fV GDAC %d -15:%d +15:%d +45:%d +75:%d Pi%d "
                "Oz%d Fo:%f MHZ CDU:%2s TXT:%10s %3d %f",
                &serial, &days, &hours, &minutes, &seconds, &scanned.nomVms, &scanned.nomVion,
                &gainScratch, &scanned.offsetMinus15, &scanned.offsetPlus15, &scanned.offsetPlus45,
                &scanned.offsetPlus75, &scanned.pi, &scanned.nomZRabi, &scanned.ddsFrequencyMHz,
                sweep, label, &scanned.modelCode, &scanned.value18);
    if (!IsKnownModel(scanned.modelCode)) {
        scanned.modelCode = record.modelCode;
    }
    scanned.serialNumber = serial;
    scanned.days = days;
    scanned.hours = hours;
    scanned.minutes = minutes;
    scanned.seconds = seconds;
    if (sweep[0] != '\0') {
        scanned.sweepCapability = sweep;
    }
    if (label[0] != '\0') {
        scanned.text = label;
    }
    record = scanned;
    return HasD2Header(reply);
}

void ParseD5Record(std::string_view reply, D5Record& record) {
    const CScopedCLocale numbers;  // the unit sends decimal points
    // Field 19 is kept to its first kD5Field19Limit characters. The rest of a longer field is
    // cut out before the scan, which would otherwise stop there and leave fields 20 to 36 (the
    // restart fault level among them) at their old values.
    constexpr std::size_t kCommasBeforeField19 = 18;
    std::string text(reply);
    std::size_t start = 0;
    for (std::size_t comma = 0; comma < kCommasBeforeField19 && start != std::string::npos;
         ++comma) {
        start = text.find(',', start);
        start = start == std::string::npos ? start : start + 1;
    }
    if (start != std::string::npos) {
        const std::size_t end = std::min(text.find(',', start), text.size());
        if (end - start > kD5Field19Limit) {
            text.erase(start + kD5Field19Limit, end - start - kD5Field19Limit);
        }
    }
    D5Record& r = record;
    char field19[kD5Field19Limit + 1] = {};
    const int scanned = std::sscanf(
        text.c_str(),
        "\x02%ld,%d,%d,%d,%ld,%ld,%d,%d,%d,%d,%d,%d,%ld,%d,%d,%d,%f,%f,%11[^,],%d,%d,%x,%x,%x,%x,"
        "%x,%c,%c,%c,%x,%c,%c,%c,%x,%d,%d",
        &r.field1, &r.yearOfManufacture, &r.manufactureDateA, &r.manufactureDateB, &r.powerOnHours,
        &r.field6, &r.fields7to12[0], &r.fields7to12[1], &r.fields7to12[2], &r.fields7to12[3],
        &r.fields7to12[4], &r.fields7to12[5], &r.field13, &r.field14, &r.field15, &r.field16,
        &r.field17, &r.field18, field19, &r.field20, &r.restartFaultLevel, &r.fields22to26[0],
        &r.fields22to26[1], &r.fields22to26[2], &r.fields22to26[3], &r.fields22to26[4],
        &r.fields27to29[0], &r.fields27to29[1], &r.fields27to29[2], &r.field30, &r.fields31to33[0],
        &r.fields31to33[1], &r.fields31to33[2], &r.field34, &r.field35, &r.field36);
    constexpr int kField19 = 19;
    if (scanned >= kField19) {
        r.field19 = field19;
    }
}

bool ParseB20Record(std::string_view reply, B20Record& record) {
    const CScopedCLocale numbers;  // the unit sends decimal points
    if (reply.size() != kB20ReplyLength) {
        return false;
    }
    const std::string text(reply.substr(1, kB20TextEnd - 1));
    char token[8] = {};
    char source[kB20ReplyLength] = {};
    const int scanned =
        std::sscanf(text.c_str(), "%7s %f %f %f %f %d %38s ", token, &record.system24,
                    &record.acdc24, &record.dcin24, &record.batt24, &record.charge, source);
    if (scanned >= 1) {
        record.token = token;
    }
    if (scanned >= 7) {
        record.source = source;
    }
    return reply.front() == kStx && reply.back() == kEtx;
}

bool ReadD1Record(CTolvexLink& link, CUnitState& unit) {
    std::string reply;
    if (!WriteRequest(link, CommandCode(ECommand::kReportVariables)) ||
        !link.Port().ReadBytes(kD1ReplyLength, reply)) {
        return false;
    }
    bool good = false;
    unit.Update([&](UnitStateData& data) { good = ParseD1Record(reply, data.d1); });
    return good;
}

bool ReadD2Record(CTolvexLink& link, CUnitState& unit) {
    std::string reply;
    if (!WriteRequest(link, CommandCode(ECommand::kReportConstants)) ||
        !link.Port().ReadBytes(kD2ReplyLength, reply)) {
        return false;
    }
    bool good = false;
    std::int32_t model = 0;
    unit.Update([&](UnitStateData& data) {
        data.d2.modelCode = unit.InstrumentModel;
        good = ParseD2Record(reply, data.d2, data.instrumentSweep);
        model = data.d2.modelCode;
    });
    unit.InstrumentModel = model;
    return good;
}

bool CheckIdentity(CTolvexLink& link, CUnitState& unit) {
    std::string head;
    std::string rest;
    if (!WriteRequest(link, CommandCode(ECommand::kReportConstants)) ||
        !link.Port().ReadBytes(kIdentityHeadLength, head) ||
        !link.Port().ReadBytes(kD2ReplyLength - kIdentityHeadLength, rest)) {
        return false;
    }
    bool good = false;
    std::int32_t model = 0;
    unit.Update([&](UnitStateData& data) {
        data.d2.modelCode = unit.InstrumentModel;
        good = ParseIdentity(head + rest, data.d2);
        model = data.d2.modelCode;
    });
    unit.InstrumentModel = model;
    return good;
}

bool ReadD5Record(CTolvexLink& link, CUnitState& unit) {
    if (!WriteRequest(link, CommandCode(ECommand::kReportNvram))) {
        return false;
    }
    std::string reply;
    link.Port().ReadBytes(kD5ReadLength,
                          reply);  // the record's length varies: a short read is normal
    unit.Update([&](UnitStateData& data) { ParseD5Record(reply, data.d5); });
    return true;
}

bool ReadB20Record(CTolvexLink& link, CUnitState& unit) {
    std::string reply;
    if (!WriteRequest(link, CommandCode(ECommand::kGetDccStatus)) ||
        !link.Port().ReadBytes(kB20ReplyLength, reply)) {
        return false;
    }
    bool good = false;
    unit.Update([&](UnitStateData& data) { good = ParseB20Record(reply, data.b20); });
    return good;
}

std::string AlarmName(unsigned code) {
    struct Entry {
        unsigned code;
        const char* name;
    };
    static constexpr Entry kNames[] = {
        {0x01, "Clock Level"},
        {0x02, "Clock Rabi Symmetry"},
        {0x03, "Zeeman Rabi Symmetry"},
        {0x04, "Mass Spectrometer Supply"},
        {0x05, "C-field Current out of Range"},
        {0x06, "Electron Multiplier Supply"},
        {0x07, "Signal Quality"},
        {0x08, "VCXO Control Voltage at limit"},
        {0x09, "Case Temperature"},
        {0x10, "not used"},
        {0x11, "not used"},
        {0x12, "+5 V Supply"},
        {0x13, "+15 V Supply"},
        {0x14, "-15 V Supply"},
        {0x15, "not used"},
        {0x16, "Unit Restarted"},
        {0x17, "Module configuration not set"},
        {0x18, "Digital Gain at lower limit"},
        {0x26, "Fuse A open"},
        {0x27, "Fuse B open"},
        {0x80, "Software Failure"},
        {0x81, "Event Log Invalid"},
        {0xF1, "Cesium Oven Warm-up"},
        {0xF2, "OCXO Oven Warm-up"},
        {0xF3, "Ionizer Filament"},
        {0xF4, "Ion Pump current"},
        {0xF5, "+21 V Supply"},
    };
    constexpr std::size_t kPaddedNameLength = 29;
    for (const Entry& entry : kNames) {
        if (entry.code == code) {
            std::string name = entry.name;
            if (name.size() < kPaddedNameLength) {
                name.append(kPaddedNameLength - name.size(), ' ');
            }
            return name;
        }
    }
    return "";
}

}  // namespace corvane3
