#include "sim/StatusRecords.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/link/CommandCodes.h"
#include "core/link/CommandFrame.h"

namespace corvane3::sim {

namespace {

struct Label {
    std::size_t column;
    const char* text;
};

// A record of the given length: STX, blanks, CR LF and ETX at the end.
std::string BlankRecord(std::size_t length, const char* code) {
    std::string record(length, ' ');
    record.front() = kStx;
    record.replace(1, 3, code);
    record[length - 3] = kCr;
    record[length - 2] = kLf;
    record.back() = kEtx;
    return record;
}

void Put(std::string& record, std::size_t column, std::size_t width, const std::string& text) {
    std::string field = text.substr(0, width);
    field.insert(0, width - field.size(), ' ');
    record.replace(column, width, field);
}

void PutLabels(std::string& record, std::initializer_list<Label> labels) {
    for (const Label& label : labels) {
        const std::string text = label.text;
        record.replace(label.column, text.size(), text);
    }
}

long LargestFitting(std::size_t digits) {
    long largest = 1;
    for (std::size_t i = 0; i < digits; ++i) {
        largest *= 10;
    }
    return largest - 1;
}

// Zero-padded, no sign.
std::string Unsigned(long value, std::size_t width) {
    value = std::clamp(value, 0L, LargestFitting(width));
    char text[32];
    std::snprintf(text, sizeof text, "%0*ld", static_cast<int>(width), value);
    return text;
}

// Sign and zero-padded digits, for example "+0042".
std::string Signed(long value, std::size_t width) {
    const long largest = LargestFitting(width - 1);
    value = std::clamp(value, -largest, largest);
    char text[32];
    std::snprintf(text, sizeof text, "%+0*ld", static_cast<int>(width), value);
    return text;
}

// As many decimals as fit in width.
std::string Float(double value, std::size_t width) {
    if (!std::isfinite(value)) {
        value = 0;
    }
    const double largest = static_cast<double>(LargestFitting(value < 0 ? width - 1 : width));
    value = std::clamp(value, -largest, largest);
    char text[64];
    for (int decimals = 3; decimals > 0; --decimals) {
        if (std::snprintf(text, sizeof text, "%*.*f", static_cast<int>(width), decimals, value) <=
            static_cast<int>(width)) {
            return text;
        }
    }
    std::snprintf(text, sizeof text, "%*.0f", static_cast<int>(width), value);
    return text;
}

std::string Hex(unsigned value, std::size_t width) {
    char text[32];
    std::snprintf(text, sizeof text, "%0*X", static_cast<int>(width), std::min(value, 0xFFu));
    return text;
}

// Text of exactly width characters; blanks inside would end a scan early, so they become '-'.
std::string Word(std::string text, std::size_t width) {
    text.resize(width, '-');
    std::replace(text.begin(), text.end(), ' ', '-');
    return text;
}

// At most width characters, with no blank or comma (either would end a scan early).
std::string Token(std::string text, std::size_t width) {
    text = text.substr(0, width);
    std::replace(text.begin(), text.end(), ' ', '-');
    std::replace(text.begin(), text.end(), ',', '-');
    return text.empty() ? std::string("-") : text;
}

}  // namespace

std::string BuildD1Record(const D1Values& v) {
    std::string r = BlankRecord(kD1RecordLength, CommandCode(ECommand::kReportVariables));
    PutLabels(r, {{14, "d"},   {17, "h"},   {20, "mn"},  {24, "s"},   {32, "ST:"},  {54, "C"},
                  {60, "F"},   {75, "V"},   {77, "Tc"},  {84, "CR"},  {91, "Cr"},   {104, "Zr"},
                  {112, "V"},  {119, "L"},  {125, "F"},  {132, "Z"},  {138, "D"},   {145, "NG"},
                  {151, "LA"}, {159, "W"},  {172, "V"},  {174, "T"},  {194, "OSC"}, {199, "Cs"},
                  {206, "MS"}, {213, "IO"}, {220, "CF"}, {227, "EM"}, {234, "IP"}});
    Put(r, 5, 5, Unsigned(v.serial, 5));
    Put(r, 11, 3, Unsigned(v.days, 3));
    Put(r, 15, 2, Unsigned(v.hours, 2));
    Put(r, 18, 2, Unsigned(v.minutes, 2));
    Put(r, 22, 2, Unsigned(v.seconds, 2));
    Put(r, 26, 1, Unsigned(v.modeNumber, 1));
    Put(r, kD1ModeTextColumn, 3, Word(v.modeText, 3));
    Put(r, kD1UnitStatusColumn, 2, Unsigned(v.unitStatus, 2));
    for (std::size_t i = 0; i < v.alarms.size(); ++i) {
        Put(r, 39 + 3 * i, 2, Hex(v.alarms[i], 2));
    }
    Put(r, 55, 4, Signed(v.valueC, 4));
    Put(r, 61, 7, Signed(v.freqTune, 7));
    Put(r, 69, 6, Float(v.pos21V, 6));
    Put(r, 79, 4, Float(v.ocxoTau, 4));
    Put(r, 86, 4, Signed(v.clockRamseyError, 4));
    Put(r, 93, 5, Signed(v.clockRabiError, 5));
    Put(r, 99, 4, Signed(v.zeemanRamseyError, 4));
    Put(r, 106, 5, Signed(v.zeemanRabiError, 5));
    Put(r, 113, 5, Signed(v.vcxoControl, 5));
    Put(r, 120, 4, Unsigned(v.clockLevel, 4));
    Put(r, 126, 5, Signed(v.cFieldControl, 5));
    Put(r, 133, 4, Unsigned(v.zeemanLevel, 4));
    Put(r, 139, 5, Signed(v.dcLevel, 5));
    Put(r, 147, 4, Float(v.numericGain, 4));
    Put(r, 153, 5, Signed(v.valueLA, 5));
    Put(r, 160, 5, Signed(v.microwaveControl, 5));
    Put(r, 167, 5, Float(v.pos5V, 5));
    Put(r, 175, 5, Float(v.chassisTemperature, 5));
    Put(r, 181, 5, Float(v.pos15V, 5));
    Put(r, 188, 5, Float(v.neg15V, 5));
    r[197] = v.oscillatorState;
    Put(r, 201, 4, Float(v.cesiumOven, 4));
    Put(r, 208, 4, Float(v.massSpectrometer, 4));
    Put(r, 215, 4, Float(v.ionizer, 4));
    Put(r, 222, 4, Float(v.cFieldCurrent, 4));
    Put(r, 229, 4, Float(v.electronMultiplier, 4));
    Put(r, 236, 3, Unsigned(v.ionPumpCurrent, 3));
    Put(r, 240, 4, Signed(v.deviation, 4));
    return r;
}

// The layout serves two readers: one cuts fixed columns, the other scans the whole text with
// " ID%u %u %uh %umn %u Vs %fV Vf %fV GDAC %d -15:%d +15:%d +45:%d +75:%d Pi%d Oz%d Fo:%f MHZ
// CDU:%2s TXT:%10s %3d %f" after the STX. Labels sit in the gaps between the columns.
std::string BuildD2Record(const D2Values& v) {
    std::string r = BlankRecord(kD2RecordLength, "   ");
    r[1] = kCr;
    r[2] = kLf;
    PutLabels(r, {{3, "ID"},
                  {17, "h"},
                  {20, "mn"},
                  {25, "Vs"},
                  {32, "V"},
                  {34, "Vf"},
                  {41, "V"},
                  {43, "GDAC"},
                  {52, "-15:"},
                  {60, "+15:"},
                  {68, "+45:"},
                  {76, "+75:"},
                  {85, "Pi"},
                  {93, "Oz"},
                  {101, "Fo:"},
                  {109, "MHZ"},
                  {113, "CDU:"},
                  {120, "TXT:"}});
    Put(r, 5, 5, Unsigned(v.serial, 5));
    Put(r, 11, 3, Unsigned(v.days, 3));
    Put(r, 15, 2, Unsigned(v.hours, 2));
    Put(r, 18, 2, Unsigned(v.minutes, 2));
    Put(r, 22, 2, Unsigned(v.seconds, 2));
    Put(r, 28, 4, Float(v.nominalMassSpectrometer, 4));
    Put(r, 37, 4, Float(v.nominalIonizer, 4));
    Put(r, 48, 3, Unsigned(v.dacGainNumber, 3));
    for (std::size_t i = 0; i < v.supplyOffsets.size(); ++i) {
        Put(r, 56 + 8 * i, 3, Signed(v.supplyOffsets[i], 3));
    }
    Put(r, 87, 5, Signed(v.valuePi, 5));
    Put(r, 95, 5, Signed(v.nominalZeemanRabiTilt, 5));
    Put(r, 104, 4, Float(v.ddsMHz, 4));
    Put(r, 117, 2, Word(v.sweepText, 2));
    Put(r, 124, 10, Word(v.text, 10));
    Put(r, 135, 3, Unsigned(v.modelCode, 3));
    Put(r, 139, 3, Float(v.value18, 3));
    return r;
}

std::string BuildD5Record(const D5Values& v) {
    // Fields 6 to 36 that no reader interprets carry fixed plausible values.
    char text[256];
    std::snprintf(text, sizeof text,
                  "%c%ld,%d,%d,%d,%ld,%ld,%d,%d,%d,%d,%d,%d,%ld,%d,%d,%d,%.3f,%.3f,%s,%d,%d,"
                  "%X,%X,%X,%X,%X,%c,%c,%c,%X,%c,%c,%c,%X,%d,%d%c",
                  kStx, v.serial, v.manufactureYear, v.manufactureMonth, v.manufactureDay,
                  v.powerOnHours, v.restartCount, 1, 1, 1, 1, 0, 2, 0L, 0, 0, 0, v.nominalTau,
                  v.numericGain, Token(v.firmwareText, 11).c_str(), 0, v.restartFaultLevel, 0x1F, 0,
                  0, 0x80, 0, v.language, 'N', 'N', 0, 'Y', 'N', 'N', 0, 0, 0, kEtx);
    return text;
}

std::string BuildB20Record(const B20Values& v) {
    std::string r(kB20RecordLength, ' ');
    char text[64];
    std::snprintf(text, sizeof text, "%s %4.1f %4.1f %4.1f %4.1f %3d %s", Token(v.token, 7).c_str(),
                  std::clamp(v.system24, 0.0, 99.9), std::clamp(v.acdc24, 0.0, 99.9),
                  std::clamp(v.dcIn24, 0.0, 99.9), std::clamp(v.battery24, 0.0, 99.9),
                  std::clamp(v.chargeCurrent, 0, 999), Token(v.source, 4).c_str());
    // Characters 1 to 36 carry the text; 37 is a CR the reader drops, 38 the ETX.
    const std::size_t textEnd = kB20RecordLength - 2;
    std::string body = text;
    body.resize(textEnd - 1, ' ');
    r.replace(1, body.size(), body);
    r.front() = kStx;
    r[textEnd] = kCr;
    r.back() = kEtx;
    return r;
}

}  // namespace corvane3::sim
