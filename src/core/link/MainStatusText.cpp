#include "core/link/MainStatusText.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/base/CLocale.h"
#include "core/link/SerialPort.h"

namespace corvane3 {

namespace {

// A time text whose first four characters read as a year from this one on is a date.
constexpr int kFirstDateYear = 2001;
constexpr int kYearDigits = 4;
constexpr int kCentury = 100;

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    const CScopedCLocale numbers;
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

double Wide(float value) {
    return static_cast<double>(value);
}

using D = const UnitStateData&;
constexpr const char kMv[] = "mV";
constexpr const char kV[] = "V";
constexpr const char kNone[] = "";
constexpr auto kAlways = EValueVisibility::kAlways;
constexpr auto kTq9000 = EValueVisibility::kTq9000Only;

}  // namespace

const std::vector<ValueBox>& MainStatusValueBoxes() {
    static const std::vector<ValueBox> boxes = {
        {"Clock Servo", "Ramsey Error", kMv, "valueCRamErr", kAlways,
         [](D d) { return Format("% 4d", d.d1.cRamErr); }},
        {"Clock Servo", "Rabi Error", kMv, "valueCRabErr", kAlways,
         [](D d) { return Format("% 4d", d.d1.cRabErr); }},
        {"Clock Servo", "OCXO CV", kMv, "valueVVCXO", kAlways,
         [](D d) { return Format("%4d", d.d1.vvcxo); }},
        {"Clock Servo", "Deviation", kNone, "valueStdDev", kAlways,
         [](D d) { return Format("% 4d", d.d1.stdDev); }},
        {"Zeeman Servo", "Ramsey Error", kMv, "valueZRamErr", kAlways,
         [](D d) { return Format("% 4d", d.d1.zRamErr); }},
        {"Zeeman Servo", "Rabi Error", kMv, "valueZRabErr", kAlways,
         [](D d) { return Format("% 4d", d.d1.zRabErr); }},
        {"Zeeman Servo", "C Field CV", kMv, "valueVCField", kAlways,
         [](D d) { return Format("%4d", d.d1.vcField); }},
        {"Gain Servo", "DC Level", kMv, "valueDCLevel", kAlways,
         [](D d) { return Format("%4d", d.d1.dcLevel); }},
        {"Gain Servo", "DAC Gain", kNone, "valueDACGain", kAlways,
         [](D d) { return Format("%5.2f", Wide(d.d2.dacGain)); }},
        {"Gain Servo", "Numeric Gain", kNone, "valueNumGain", kAlways,
         [](D d) { return Format("%5.2f", Wide(d.d1.numGain)); }},
        {"Gain Servo", "Clock Signal", kMv, "valueCLevel", kAlways,
         [](D d) { return Format("% 4d", d.d1.cLevel); }},
        {"Gain Servo", "Zeeman Signal", kMv, "valueZLevel", kAlways,
         [](D d) { return Format("% 4d", d.d1.zLevel); }},
        {"Microwave Power Servo", "Attenuator CV", kMv, "valueVuWave", kAlways,
         [](D d) { return Format("%4d", d.d1.vuWave); }},
        {"Frequency Offset", "Delta-F", "E-15", "valueFreqTune", kAlways,
         [](D d) { return Format("%+07d", d.d1.freqTune); }},
        {"CBT Supplies", "OCXO Oven", kNone, "valueOSCState", kAlways,
         [](D d) { return std::string(d.d1.oscState == 'c' ? "Ready" : "Cold"); }},
        {"CBT Supplies", "Cesium Oven", kV, "valueVCsOven", kAlways,
         [](D d) { return Format("%5.2f", Wide(d.d1.vCsOven)); }},
        {"CBT Supplies", "EM Voltage", kV, "valueVEM", kAlways,
         [](D d) { return Format("%5.2f", Wide(d.d1.vem)); }},
        {"CBT Supplies", "Ion Pump", "uA", "valueIIP", kAlways,
         [](D d) { return Format("% 4d", d.d1.iip); }},
        {"CBT Supplies", "C-Field", "mA", "valueICField", kAlways,
         [](D d) { return Format("%5.2f", Wide(d.d1.icField)); }},
        {"CBT Supplies", "Ionizer", kV, "valueVION", kAlways,
         [](D d) { return Format("%5.2f", Wide(d.d1.vion)); }},
        {"CBT Supplies", "Mass Spec", kV, "valueVMS", kAlways,
         [](D d) { return Format("%5.2f", Wide(d.d1.vms)); }},
        {"Power Supplies", "+21 VDC", kNone, "valuePos21V", kAlways,
         [](D d) { return Format("%5.2f", Wide(d.d1.pos21V)); }},
        {"Power Supplies", "+15 VDC", kNone, "valuePos15V", kAlways,
         [](D d) { return Format("%5.2f", Wide(d.d1.pos15V)); }},
        {"Power Supplies", "-15 VDC", kNone, "valueNeg15V", kAlways,
         [](D d) { return Format("%5.2f", Wide(d.d1.neg15V)); }},
        {"Power Supplies", "+5 VDC", kNone, "valuePos5V", kAlways,
         [](D d) { return Format("%5.2f", Wide(d.d1.pos5V)); }},
        {"System Information", "Chassis Temp", kNone, "valueTChassis", kAlways,
         [](D d) {
             return Format(
                 "%5.2f\u00BA"
                 "C",
                 Wide(d.d1.tChassis));
         }},
        {"System Information", "Fault List", kNone, "valueFaultList", kAlways,
         [](D d) {
             return Format("%02X,%02X,%02X,%02X,%02X", d.d1.alarm1, d.d1.alarm2, d.d1.alarm3,
                           d.d1.alarm4, d.d1.alarm5);
         }},
        {"System Information", "Power On Hours", kNone, "valuePowerOnHours", kAlways,
         [](D d) { return Format("%ld", d.d5.powerOnHours); }},
        {"System Information", "Manufacture Date", kNone, "valueManufactureDate", kAlways,
         [](D d) {
             return Format("%02d/%02d/%02d", d.d5.manufactureDateA, d.d5.manufactureDateB,
                           d.d5.yearOfManufacture % kCentury);
         }},
        {"System Information", "Servo Firmware", kNone, "valueVersion", kAlways,
         [](D d) { return Format("%c %d", d.firmwareRevisionLetter, d.firmwareRevision); }},
        {"System Information", "Display Firmware", kNone, "valueDisplayFirmware", kTq9000,
         [](D d) { return d.displayFirmware; }},
        {"SIgnal Quality", "Burps: Total", kNone, "valueCBTT", kAlways,
         [](D d) { return Format("%d", d.outliers.burpsTotal); }},
        {"SIgnal Quality", "Burps: Today", kNone, "valueCBTD", kAlways,
         [](D d) { return Format("%d", d.outliers.burpsToday); }},
        {"SIgnal Quality", "Hops: Total", kNone, "valueOCXOT", kAlways,
         [](D d) { return Format("%d", d.outliers.hopsTotal); }},
        {"SIgnal Quality", "Hops: Today", kNone, "valueOCXOD", kAlways,
         [](D d) { return Format("%d", d.outliers.hopsToday); }},
        {"System 24 VDC", "System", kNone, "valueSystem24", kTq9000,
         [](D d) { return Format("%5.2f", Wide(d.b20.system24)); }},
        {"System 24 VDC", "Source", kNone, "valueSource", kTq9000,
         [](D d) { return "   " + d.b20.source; }},
        {"System 24 VDC", "DC from AC", kNone, "valueACDC24", kTq9000,
         [](D d) { return Format("%5.2f", Wide(d.b20.acdc24)); }},
        {"System 24 VDC", "DC Input", kNone, "valueDCIN24", kTq9000,
         [](D d) { return Format("%5.2f", Wide(d.b20.dcin24)); }},
        {"System 24 VDC", "Battery", kNone, "valueBatt24", kTq9000,
         [](D d) { return Format("%5.2f", Wide(d.b20.batt24)); }},
        {"System 24 VDC", "Charge", "mA", "valueCharge", kTq9000,
         [](D d) { return Format("%4d", d.b20.charge); }},
        {"Nominals", "Rabi Tilt", kNone, "valueNOMZRabi", kAlways,
         [](D d) { return Format("%.0f", static_cast<double>(d.d2.nomZRabi)); }},
        {"Nominals", "Ionizer", kNone, "valueNOMVION", kAlways,
         [](D d) { return Format("%5.2f", Wide(d.d2.nomVion)); }},
        {"Nominals", "Mass Spec", kNone, "valueNOMVMS", kAlways,
         [](D d) { return Format("%5.2f", Wide(d.d2.nomVms)); }},
    };
    return boxes;
}

std::string ModelText(std::int32_t model) {
    switch (model) {
        case kModel7750:
            return "7750";
        case kModelChronoBeam:
            return "ChronoBeam/QRT-60";
        case kModel7730B:
            return "7730B";
        case kModelTq9000:
            return "Tq9000";
        case kModel7730A:
            return "7730A";
        default:
            return "";
    }
}

std::string UnitStatusText(std::uint32_t state) {
    switch (state) {
        case 0:
            return "Operating";
        case 1:
            return "Warming up";
        case 10:
            return "Minor Fault";
        case 11:
            return "Major Fault";
        default:
            return "";
    }
}

std::string TimePaneText(const std::string& timeText) {
    const int year = std::atoi(timeText.substr(0, kYearDigits).c_str());
    return (year >= kFirstDateYear ? "Cesium TOD: " : "Uptime: ") + timeText;
}

std::string MainSupplyLabel(std::int32_t model) {
    return model == kModel7730B || model == kModel7730A ? "+24 VDC" : "+21 VDC";
}

std::string PortPaneText(const std::string& portName, const std::string& openError) {
    const std::string device = CSerialPort::DevicePathForName(portName);
    if (!openError.empty()) {
        // The device alone, so that the longest reason still fits the wide window's pane.
        return device + ": " + openError;
    }
    return "Port " + (device == portName ? portName : portName + " (" + device + ")");
}

std::string MainWindowTitle(const TitleInputs& in) {
    const std::string via = in.viaService ? std::string(" ") + kViaService : "";
    if (!in.online) {
        return "Corvane3" + via;
    }
    if (in.minimised || !in.moreView) {
        return Format("%s: SN %u", in.portName.c_str(), in.serialNumber) + via;
    }
    return Format("%s Model %s SN %u on %s", in.brand.c_str(), ModelText(in.model).c_str(),
                  in.serialNumber, in.portName.c_str()) +
           via;
}

std::string ValueBoxText(const ValueBox& box, const UnitStateData& data, std::int32_t model) {
    if (model == kModel7730A && std::strcmp(box.group, "SIgnal Quality") == 0) {
        return "";
    }
    return box.format(data);
}

}  // namespace corvane3
