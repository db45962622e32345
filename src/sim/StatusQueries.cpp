#include "sim/SimulatedInstrument.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

#include "core/link/CommandFrame.h"
#include "core/link/UnitState.h"
#include "sim/SimulatedAlarms.h"
#include "sim/UnitClock.h"

// The simulated unit's status records, event logs and read-only queries.

namespace corvane3::sim {

namespace {

using namespace std::chrono_literals;

// A minor fault (case temperature) comes and goes once in every period of operation.
constexpr auto kMinorFaultPeriod = 15min;
constexpr auto kMinorFaultStart = 10min;
constexpr auto kMinorFaultLength = 20s;
// The clock line's level (mV) of a fresh tube at full beam.
constexpr double kFullBeamClockLevel = 3200.0;
// The D*2 record's DAC gain number; the program reads the DAC gain as 256 divided by it.
constexpr int kDacGainNumber = 128;
constexpr double kDacGain = 256.0 / kDacGainNumber;
// The detector's background (scattered atoms, the multiplier's dark current) in the units of the
// program's Signal (CLevel / (NumGain x DACGain)), as a share of a fresh tube's signal: the DC
// level carries signal and background, so Flop/Background (2 x Signal / background) starts near
// 3.3 and falls slowly with the beam.
constexpr double kBackgroundShareOfFullSignal = 0.6;
// Outlier counters: one burp and one hop every so many minutes of running.
constexpr double kMinutesPerBurp = 7.0;
constexpr double kMinutesPerHop = 23.0;
constexpr int kBurpsBeforePowerOn = 41;
constexpr int kHopsBeforePowerOn = 9;

const char* ModelText(int model) {
    switch (model) {
        case kModel7750:
            return "CS7750-STD";
        case kModelChronoBeam:
            return "CHRONOBEAM";
        case kModel7730B:
            return "CS7730B-01";
        case kModelTq9000:
            return "TQ9000-DCC";
        case kModel7730A:
            return "CS7730A-01";
        default:
            return "CS-UNKNOWN";
    }
}

// Servo firmware revision letter and number per model.
std::pair<char, int> FirmwareRevision(int model) {
    switch (model) {
        case kModel7750:
            return {'A', 7};
        case kModelChronoBeam:
            return {'C', 21};
        case kModel7730B:
            return {'B', 9};
        case kModel7730A:
            return {'A', 3};
        default:
            return {'B', 12};
    }
}

}  // namespace

D1Values CSimulatedInstrument::ReadingsD1(SimClock::time_point now) {
    Update(now);
    std::normal_distribution<double> unit(0.0, 1.0);
    const auto noise = [&](double sigma) { return sigma * unit(noise_); };
    const auto running = std::chrono::duration_cast<std::chrono::seconds>(now - powerOn_).count();
    const bool warming = IsWarmingUp(now);
    const auto operating = now - powerOn_ - config_.warmup;
    const bool minorFault = !warming && operating % kMinorFaultPeriod >= kMinorFaultStart &&
                            operating % kMinorFaultPeriod < kMinorFaultStart + kMinorFaultLength;
    const double beam = BeamFraction(now);
    const double hours = Hours(now);
    const double servoNoise = warming ? 120.0 : 12.0;

    D1Values v;
    v.serial = serial_;
    v.days = static_cast<unsigned>(running / kSecondsPerDay % 1000);
    v.hours = static_cast<unsigned>(running / 3600 % 24);
    v.minutes = static_cast<unsigned>(running / 60 % 60);
    v.seconds = static_cast<unsigned>(running % 60);
    v.modeNumber = 1;
    v.modeText = modeText_;
    if (warming) {
        v.unitStatus = kStatusWarmingUp;
        v.alarms = {kAlarmCesiumOvenWarmup, kAlarmOcxoOvenWarmup, 0, 0, 0};
    } else if (minorFault) {
        v.unitStatus = kStatusMinorFault;
        v.alarms = {kAlarmCaseTemperature, 0, 0, 0, 0};
    }
    // Latched alarms take the free slots.
    std::size_t slot = 0;
    for (const unsigned alarm : latchedAlarms_) {
        while (slot < v.alarms.size() && v.alarms[slot] != 0) {
            ++slot;
        }
        if (slot < v.alarms.size()) {
            v.alarms[slot] = alarm;
        }
    }
    v.valueC = static_cast<int>(std::lround(12 + noise(2)));
    v.freqTune = freqTune_;
    v.pos21V = 21.3 + noise(0.02);
    v.ocxoTau = ocxoTau_;
    v.clockRamseyError = static_cast<int>(std::lround(noise(servoNoise)));
    v.clockRabiError = static_cast<int>(std::lround(noise(servoNoise * 4)));
    v.zeemanRamseyError = static_cast<int>(std::lround(noise(servoNoise)));
    v.zeemanRabiError = static_cast<int>(std::lround(noise(servoNoise * 4)));
    v.vcxoControl = static_cast<int>(std::lround(1250 + 15 * hours + noise(2)));
    v.clockLevel = static_cast<int>(std::lround(kFullBeamClockLevel * beam + noise(5)));
    v.cFieldControl = static_cast<int>(std::lround(-340 + noise(2)));
    v.zeemanLevel = static_cast<int>(std::lround(1750 * beam + noise(5)));
    // DC level = DACGain x (Signal + background), with the clock level's own noise in Signal.
    const double background =
        kBackgroundShareOfFullSignal * kFullBeamClockLevel / (numericGain_ * kDacGain);
    v.dcLevel = static_cast<int>(
        std::lround(std::max(0, v.clockLevel) / numericGain_ + kDacGain * background + noise(3)));
    v.numericGain = numericGain_;
    v.valueLA = 85;
    v.microwaveControl = static_cast<int>(std::lround(2100 + noise(3)));
    v.pos5V = 5.02 + noise(0.005);
    v.chassisTemperature =
        (minorFault ? 41.0 : 35.0) + 1.5 * std::sin(2 * std::numbers::pi * hours) + noise(0.03);
    v.pos15V = 15.04 + noise(0.01);
    v.neg15V = -15.03 + noise(0.01);
    v.oscillatorState = warming ? 'f' : 'c';
    v.cesiumOven = 5.6 * WarmFraction(now) + noise(0.01);
    v.massSpectrometer = nominalMassSpectrometer_ + noise(0.05);
    v.ionizer = nominalIonizer_ + noise(0.01);
    v.cFieldCurrent = 11.2 + noise(0.02);
    v.electronMultiplier = 24.5 + 10.0 * (1.0 - beam) + noise(0.05);
    v.ionPumpCurrent = static_cast<int>(std::lround(12 + noise(0.5)));
    v.deviation = std::clamp(static_cast<int>(std::lround(noise(25))), -999, 999);
    v.cesiumOven = std::max(0.0, v.cesiumOven);
    v.electronMultiplier = std::max(0.0, v.electronMultiplier);
    v.clockLevel = std::max(0, v.clockLevel);
    v.zeemanLevel = std::max(0, v.zeemanLevel);
    return v;
}

D2Values CSimulatedInstrument::ReadingsD2(SimClock::time_point now) {
    const D1Values d1 = ReadingsD1(now);
    D2Values v;
    v.serial = serial_;
    v.days = d1.days;
    v.hours = d1.hours;
    v.minutes = d1.minutes;
    v.seconds = d1.seconds;
    v.nominalMassSpectrometer = nominalMassSpectrometer_;
    v.nominalIonizer = nominalIonizer_;
    v.dacGainNumber = kDacGainNumber;
    v.supplyOffsets = {3, -2, 1, 0};
    v.valuePi = 150;
    v.nominalZeemanRabiTilt = zeemanRabiTilt_;
    v.ddsMHz = (ddsWord_ != 0 ? DdsWordToHz(ddsWord_) : kClockLineDdsHz) / 1e6;
    v.sweepText = config_.instrumentSweep ? "US" : "NS";
    v.text = ModelText(config_.model);
    v.modelCode = config_.model;
    v.value18 = 2.5;
    return v;
}

D5Values CSimulatedInstrument::ReadingsD5(SimClock::time_point now) {
    D5Values v = nvram_;
    v.serial = serial_;
    v.powerOnHours = nvram_.powerOnHours + static_cast<long>(Hours(now));
    v.nominalTau = ocxoTau_;
    v.numericGain = numericGain_;
    return v;
}

B20Values CSimulatedInstrument::ReadingsB20(SimClock::time_point) {
    std::normal_distribution<double> noise(0.0, 0.05);
    B20Values v;
    v.token = "PS24";
    v.system24 = 24.1 + noise(noise_);
    v.acdc24 = 24.3 + noise(noise_);
    v.dcIn24 = 0.0;
    v.battery24 = 26.8 + noise(noise_);
    v.chargeCurrent = 15;
    v.source = "AC";
    return v;
}

std::optional<std::string> CSimulatedInstrument::ReportVariables(const ReceivedFrame&,
                                                                 SimClock::time_point now) {
    return BuildD1Record(ReadingsD1(now));
}

std::optional<std::string> CSimulatedInstrument::ReportConstants(const ReceivedFrame&,
                                                                 SimClock::time_point now) {
    return BuildD2Record(ReadingsD2(now));
}

std::optional<std::string> CSimulatedInstrument::ReportNvram(const ReceivedFrame& frame,
                                                             SimClock::time_point now) {
    if (config_.model == kModel7730A) {
        return NotUnderstood(frame);  // the 7730A has no D*5 record
    }
    return BuildD5Record(ReadingsD5(now));
}

std::string CSimulatedInstrument::EventLogReply(const ReceivedFrame& frame,
                                                const std::vector<Event>& events) const {
    // Header "Event Count:N" ended by LF (the count starts at character 23), then one line per
    // event: number, TAB, date and time, TAB, code and text, CR LF.
    std::string reply = Echo(frame) + "Event Count:" + std::to_string(events.size()) + kLf;
    for (std::size_t i = 0; i < events.size(); ++i) {
        char line[160];
        std::snprintf(line, sizeof line, "%03zu\t%s\t%02X %s\r\n", i + 1,
                      DateTimeText(events[i].unitTime).c_str(), events[i].code,
                      events[i].text.c_str());
        reply += line;
    }
    return reply + kEtx;
}

std::optional<std::string> CSimulatedInstrument::RetrieveEventLog(const ReceivedFrame& frame,
                                                                  SimClock::time_point) {
    return EventLogReply(frame, events_);
}

std::optional<std::string> CSimulatedInstrument::RetrieveFactoryEventLog(const ReceivedFrame& frame,
                                                                         SimClock::time_point) {
    if (config_.model != kModelChronoBeam) {
        return NotUnderstood(frame);  // only the ChronoBeam keeps a factory log
    }
    if (frame.parameter != FactoryAccessField()) {
        return RefusalReply(frame);
    }
    return EventLogReply(frame, factoryEvents_);
}

std::optional<std::string> CSimulatedInstrument::ReportExtendedStatus(const ReceivedFrame& frame,
                                                                      SimClock::time_point now) {
    const D1Values d1 = ReadingsD1(now);
    char text[160];
    std::snprintf(text, sizeof text, "CRam %+8.3f CRab %+8.3f ZRam %+8.3f ZRab %+8.3f",
                  d1.clockRamseyError / 10.0, d1.clockRabiError / 10.0, d1.zeemanRamseyError / 10.0,
                  d1.zeemanRabiError / 10.0);
    return EchoReply(frame, text);
}

std::optional<std::string> CSimulatedInstrument::ReportVersion(const ReceivedFrame& frame,
                                                               SimClock::time_point) {
    const auto [letter, number] = FirmwareRevision(config_.model);
    char text[32];
    std::snprintf(text, sizeof text, "Version %c %d", letter, number);
    return EchoReply(frame, text);
}

std::optional<std::string> CSimulatedInstrument::GetSecurityStatus(const ReceivedFrame& frame,
                                                                   SimClock::time_point) {
    return EchoReply(frame, password_ != 0 ? "1" : "0");
}

std::optional<std::string> CSimulatedInstrument::GetDateAndTime(const ReceivedFrame& frame,
                                                                SimClock::time_point) {
    // The date and time start at character 26, after "Date and Time: ".
    return EchoReply(frame, "Date and Time: " + ClockText(UnitTime()));
}

std::optional<std::string> CSimulatedInstrument::GetDaylightSavings(const ReceivedFrame& frame,
                                                                    SimClock::time_point) {
    return EchoReply(frame, std::to_string(daylightSavings_));
}

std::optional<std::string> CSimulatedInstrument::GetLeapSecondStatus(const ReceivedFrame& frame,
                                                                     SimClock::time_point) {
    return EchoReply(frame, std::to_string(leapSecond_));
}

std::optional<std::string> CSimulatedInstrument::GetPowerOnHours(const ReceivedFrame& frame,
                                                                 SimClock::time_point now) {
    return EchoReply(frame, std::to_string(ReadingsD5(now).powerOnHours));
}

std::optional<std::string> CSimulatedInstrument::GetBiuId(const ReceivedFrame& frame,
                                                          SimClock::time_point) {
    return EchoReply(frame, "BIU 3A5C");
}

std::optional<std::string> CSimulatedInstrument::GetOutlierCounts(const ReceivedFrame& frame,
                                                                  SimClock::time_point now) {
    if (config_.model == kModel7730A) {
        return NotUnderstood(frame);  // the 7730A keeps no outlier counts
    }
    const double minutes = Hours(now) * 60.0;
    const int burps = static_cast<int>(minutes / kMinutesPerBurp);
    const int hops = static_cast<int>(minutes / kMinutesPerHop);
    char text[64];
    std::snprintf(text, sizeof text, "%d,%d,%d,%d", burps, kBurpsBeforePowerOn + burps, hops,
                  kHopsBeforePowerOn + hops);
    return Bare(text);
}

}  // namespace corvane3::sim
