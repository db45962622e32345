#include "sim/SimulatedInstrument.h"
#include "core/base/CLocale.h"
#include "core/base/Text.h"
#include "core/link/UnitState.h"

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <numbers>

#include "core/base/Text.h"
#include "core/link/CommandFrame.h"
#include "core/link/UnitState.h"

namespace corvane3::sim {

namespace {

using namespace std::chrono_literals;

// Alarm codes the simulated unit raises.
constexpr unsigned kAlarmUnitRestarted = 0x16;
constexpr unsigned kAlarmCaseTemperature = 0x09;
constexpr unsigned kAlarmCesiumOvenWarmup = 0xF1;
constexpr unsigned kAlarmOcxoOvenWarmup = 0xF2;
constexpr unsigned kAlarmFuseA = 0x26;

// A minor fault (case temperature) comes and goes once in every period of operation.
constexpr auto kMinorFaultPeriod = 15min;
constexpr auto kMinorFaultStart = 10min;
constexpr auto kMinorFaultLength = 20s;
// After warm-up the beam signal of a healthy tube decays slowly as its cesium is used up: this
// time constant (hours since power-on, two years) loses about 0.14 % a day.
constexpr double kBeamDecayHours = 2 * 365.25 * 24;
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
// Largest point count an A05 sweep accepts (the program offers up to 100001 points).
constexpr long kMaxSweepPoints = 100001;
constexpr double kMaxVoltsInFiveCharacters = 9.999;
constexpr unsigned kMaxPassword = 99999;
constexpr std::size_t kDdsWordDigits = 12;
constexpr int kSecondsPerDay = 86400;

const char* ModelText(int model) {
    switch (model) {
        case 400:
            return "CS7750-STD";
        case kModelChronoBeam:
            return "CHRONOBEAM";
        case 402:
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
        case 400:
            return {'A', 7};
        case kModelChronoBeam:
            return {'C', 21};
        case 402:
            return {'B', 9};
        case kModel7730A:
            return {'A', 3};
        default:
            return {'B', 12};
    }
}

std::string Echo(const ReceivedFrame& frame) {
    std::string parameter = frame.parameter;
    parameter.resize(kParameterFieldWidth, ' ');
    std::string code = frame.code;
    code.resize(kCodeWidth, ' ');
    return std::string(1, kStx) + code + ' ' + parameter + ' ';
}

// Echo, text, CR LF, ETX: the usual reply shape.
std::string EchoReply(const ReceivedFrame& frame, const std::string& text) {
    return Echo(frame) + text + "\r\n" + kEtx;
}

std::string Accepted(const ReceivedFrame& frame) {
    return EchoReply(frame, "OK");
}
std::string NotUnderstood(const ReceivedFrame& frame) {
    return EchoReply(frame, "?");
}

// STX, text, ETX without an echo: the replies the program scans from character 1.
std::string Bare(const std::string& text) {
    return kStx + text + kEtx;
}

// A decimal number in [min, max], optionally followed by suffix (W03 sends "+00020f").
std::optional<long> ParseLong(std::string_view text, long min, long max,
                              std::string_view suffix = {}) {
    const std::string trimmed(TrimBlanks(text));
    if (trimmed.empty()) {
        return std::nullopt;
    }
    char* end = nullptr;
    const long value = std::strtol(trimmed.c_str(), &end, 10);
    if (end == trimmed.c_str() || (*end != '\0' && std::string_view(end) != suffix) ||
        value < min || value > max) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> ParseDouble(std::string_view text, double min, double max) {
    const std::string trimmed(TrimBlanks(text));
    char* end = nullptr;
    const double value = std::strtod(trimmed.c_str(), &end);
    if (trimmed.empty() || *end != '\0' || !(value >= min && value <= max)) {
        return std::nullopt;
    }
    return value;
}

std::optional<unsigned long long> ParseDdsWord(std::string_view text) {
    if (text.empty() || text.size() > kDdsWordDigits ||
        !std::all_of(text.begin(), text.end(),
                     [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; })) {
        return std::nullopt;
    }
    return std::strtoull(std::string(text).c_str(), nullptr, 16);
}

// Three two-digit numbers separated by one of the given characters: "mm/dd/yy", "hh:mm:ss".
std::optional<std::array<int, 3>> ParseTriple(std::string_view text, std::string_view separators) {
    text = TrimBlanks(text);
    if (text.size() != 8 || separators.find(text[2]) == std::string_view::npos ||
        separators.find(text[5]) == std::string_view::npos) {
        return std::nullopt;
    }
    std::array<int, 3> parts{};
    for (std::size_t i = 0; i < 3; ++i) {
        const char high = text[3 * i], low = text[3 * i + 1];
        if (!std::isdigit(static_cast<unsigned char>(high)) ||
            !std::isdigit(static_cast<unsigned char>(low))) {
            return std::nullopt;
        }
        parts[i] = (high - '0') * 10 + (low - '0');
    }
    return parts;
}

std::int64_t SystemSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::tm Broken(std::int64_t seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    ::gmtime_r(&t, &tm);
    return tm;
}

std::string DateTimeText(std::int64_t seconds) {
    const std::tm tm = Broken(seconds);
    char text[64];
    std::snprintf(text, sizeof text, "%02d/%02d/%02d %02d:%02d:%02d", tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_year % 100, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return text;
}

// The unit reports its clock year first, so the date reads as a time of day and not as a
// running time.
std::string ClockText(std::int64_t seconds) {
    const std::tm tm = Broken(seconds);
    char text[64];
    std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d:%02d", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return text;
}

double Seconds(SimClock::duration d) {
    return std::chrono::duration<double>(d).count();
}

}  // namespace

bool IsProtectedCommand(const std::string& code) {
    static const char* const kProtected[] = {"A06", "A07", "W18", "A20", "A21",
                                             "A22", "C05", "C08", "C09"};
    return std::find(std::begin(kProtected), std::end(kProtected), code) != std::end(kProtected);
}

std::string RefusalReply(const ReceivedFrame& frame) {
    return EchoReply(frame, "!");
}

CSimulatedInstrument::CSimulatedInstrument(const InstrumentConfig& config,
                                           SimClock::time_point powerOn)
    : config_(config),
      noise_(config.seed),
      spectrum_(config.seed + 1),
      serial_(config.serial),
      password_(std::min(config.password, kMaxPassword)) {
    // The unit's clock starts on the PC's local time.
    const std::time_t now = static_cast<std::time_t>(SystemSeconds());
    std::tm local{};
    ::localtime_r(&now, &local);
    clockOffset_ = local.tm_gmtoff;
    if (config.alarm != 0) {
        latchedAlarms_.push_back(config.alarm);
    }
    nvram_.serial = serial_;
    nvram_.powerOnHours = 5120;
    nvram_.restartCount = 16;
    const std::int64_t unitNow = UnitTime();
    events_.push_back({unitNow - 41 * kSecondsPerDay, kAlarmFuseA, "Fuse A open"});
    events_.push_back({unitNow - 41 * kSecondsPerDay + 3600, kAlarmFuseA, "Fuse A cleared"});
    factoryEvents_.push_back({unitNow - 400 * kSecondsPerDay, 0, "Factory calibration done"});
    factoryEvents_.push_back({unitNow - 399 * kSecondsPerDay, 0, "Final test passed"});
    Restart(powerOn);
}

void CSimulatedInstrument::Restart(SimClock::time_point at) {
    powerOn_ = at;
    rebooting_ = false;
    warmupLogged_ = config_.warmup <= SimClock::duration::zero();
    ddsWord_ = 0;
    sweep_ = Sweep{};
    std::fill(std::begin(testArgument_), std::end(testArgument_), 0);
    ++nvram_.restartCount;
    AddEvent(kAlarmUnitRestarted, "Unit Restarted");
    if (!warmupLogged_) {
        AddEvent(kAlarmCesiumOvenWarmup, "Cesium Oven Warm-up");
        AddEvent(kAlarmOcxoOvenWarmup, "OCXO Oven Warm-up");
    }
}

void CSimulatedInstrument::AddEvent(unsigned code, const std::string& text) {
    events_.push_back({UnitTime(), code, text});
}

std::int64_t CSimulatedInstrument::UnitTime() const {
    return SystemSeconds() + clockOffset_;
}

bool CSimulatedInstrument::IsWarmingUp(SimClock::time_point now) const {
    return now - powerOn_ < config_.warmup;
}

bool CSimulatedInstrument::IsRebooting(SimClock::time_point now) const {
    return rebooting_ && now < rebootUntil_;
}

bool CSimulatedInstrument::HasDcc() const {
    return config_.model == kModelTq9000;
}

double CSimulatedInstrument::Hours(SimClock::time_point now) const {
    return Seconds(now - powerOn_) / 3600.0;
}

double CSimulatedInstrument::WarmFraction(SimClock::time_point now) const {
    return config_.warmup > SimClock::duration::zero()
               ? std::min(1.0, Seconds(now - powerOn_) / Seconds(config_.warmup))
               : 1.0;
}

double CSimulatedInstrument::BeamFraction(SimClock::time_point now) const {
    return WarmFraction(now) * std::exp(-Hours(now) / kBeamDecayHours);
}

void CSimulatedInstrument::Update(SimClock::time_point now) {
    if (rebooting_ && now >= rebootUntil_) {
        Restart(rebootUntil_);
    }
    if (!warmupLogged_ && !IsWarmingUp(now)) {
        warmupLogged_ = true;
        AddEvent(kAlarmCesiumOvenWarmup, "Cesium Oven Warm-up cleared");
        AddEvent(kAlarmOcxoOvenWarmup, "OCXO Oven Warm-up cleared");
    }
}

std::optional<LineSettings> CSimulatedInstrument::TakeLineChange() {
    auto change = lineChange_;
    lineChange_.reset();
    return change;
}

bool CSimulatedInstrument::Authorised(const ReceivedFrame& frame) const {
    if (password_ == 0) {
        return true;
    }
    char field[16];
    std::snprintf(field, sizeof field, "%05u", password_);
    return frame.parameter == field ||
           (config_.model == kModelChronoBeam && frame.parameter == FactoryAccessField());
}

const std::map<std::string, CSimulatedInstrument::Handler>& CSimulatedInstrument::Handlers() {
    using C = CSimulatedInstrument;
    static const std::map<std::string, Handler> handlers = {
        {"W00", &C::OutputSetting},
        {"W01", &C::OutputSetting},
        {"W03", &C::OutputSetting},
        {"W04", &C::OutputSetting},
        {"W05", &C::OutputSetting},
        {"W06", &C::OutputSetting},
        {"W07", &C::OutputSetting},
        {"W08", &C::OutputSetting},
        {"W10", &C::OutputSetting},
        {"W11", &C::OutputSetting},
        {"W12", &C::OutputSetting},
        {"W13", &C::OutputSetting},
        {"W14", &C::OutputSetting},
        {"W15", &C::OutputSetting},
        {"W16", &C::OutputSetting},
        {"W17", &C::OutputSetting},
        {"W18", &C::OutputSetting},
        {"W22", &C::OutputSetting},
        {"T*2", &C::Silent},
        {"D*1", &C::StatusRecord},
        {"D*2", &C::StatusRecord},
        {"D*5", &C::StatusRecord},
        {"D*3", &C::EventLog},
        {"D*6", &C::EventLog},
        {"D*4", &C::ExtendedStatus},
        {"S01", &C::ServoSetting},
        {"S02", &C::ServoSetting},
        {"S03", &C::ServoSetting},
        {"S04", &C::ServoSetting},
        {"S05", &C::ServoSetting},
        {"S06", &C::ServoSetting},
        {"S07", &C::ServoSetting},
        {"S08", &C::ServoSetting},
        {"S09", &C::ServoSetting},
        {"C01", &C::NvramSetting},
        {"C02", &C::NvramSetting},
        {"C03", &C::Version},
        {"C04", &C::NvramSetting},
        {"C05", &C::SerialParameters},
        {"C06", &C::NvramSetting},
        {"C07", &C::NvramSetting},
        {"C08", &C::Security},
        {"C09", &C::Security},
        {"C10", &C::Security},
        {"A01", &C::TestMode},
        {"A02", &C::TestMode},
        {"A03", &C::TestMode},
        {"A04", &C::SingleDds},
        {"A05", &C::DdsSweep},
        {"A06", &C::Clock},
        {"A07", &C::Clock},
        {"A08", &C::Clock},
        {"A09", &C::NvramSetting},
        {"A10", &C::Query},
        {"A11", &C::NvramSetting},
        {"A12", &C::Query},
        {"A13", &C::NvramSetting},
        {"A14", &C::Query},
        {"A15", &C::NvramSetting},
        {"A16", &C::NvramSetting},
        {"A17", &C::NvramSetting},
        {"A18", &C::NvramSetting},
        {"A19", &C::Query},
        {"A20", &C::NvramSetting},
        {"A21", &C::NvramSetting},
        {"A22", &C::NvramSetting},
        {"A24", &C::Outliers},
        {"B01", &C::Dcc},
        {"B02", &C::Dcc},
        {"B03", &C::Dcc},
        {"B10", &C::Dcc},
        {"B11", &C::Dcc},
        {"B12", &C::Dcc},
        {"B20", &C::Dcc},
        {"B21", &C::Dcc},
        {"B30", &C::Dcc},
        {"B31", &C::Dcc},
        {"B32", &C::Dcc},
        {"B33", &C::Dcc},
        {"B34", &C::Dcc},
    };
    return handlers;
}

std::optional<std::string> CSimulatedInstrument::HandleFrame(const ReceivedFrame& frame,
                                                             SimClock::time_point now) {
    const CScopedCLocale numbers;  // replies have decimal points, on any thread
    Update(now);
    if (IsRebooting(now)) {
        return std::nullopt;
    }
    if (IsProtectedCommand(frame.code) && !Authorised(frame)) {
        return RefusalReply(frame);
    }
    const auto& handlers = Handlers();
    const auto handler = handlers.find(frame.code);
    if (handler == handlers.end()) {
        return NotUnderstood(frame);
    }
    return (this->*(handler->second))(frame, now);
}

std::optional<std::string> CSimulatedInstrument::Silent(const ReceivedFrame&,
                                                        SimClock::time_point) {
    return std::nullopt;
}

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

std::optional<std::string> CSimulatedInstrument::StatusRecord(const ReceivedFrame& frame,
                                                              SimClock::time_point now) {
    if (frame.code == "D*1") {
        return BuildD1Record(ReadingsD1(now));
    }
    if (frame.code == "D*2") {
        return BuildD2Record(ReadingsD2(now));
    }
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

std::optional<std::string> CSimulatedInstrument::EventLog(const ReceivedFrame& frame,
                                                          SimClock::time_point) {
    if (frame.code == "D*3") {
        return EventLogReply(frame, events_);
    }
    if (config_.model != kModelChronoBeam) {
        return NotUnderstood(frame);  // only the ChronoBeam keeps a factory log
    }
    if (frame.parameter != FactoryAccessField()) {
        return RefusalReply(frame);
    }
    return EventLogReply(frame, factoryEvents_);
}

std::optional<std::string> CSimulatedInstrument::ExtendedStatus(const ReceivedFrame& frame,
                                                                SimClock::time_point now) {
    const D1Values d1 = ReadingsD1(now);
    char text[160];
    std::snprintf(text, sizeof text, "CRam %+8.3f CRab %+8.3f ZRam %+8.3f ZRab %+8.3f",
                  d1.clockRamseyError / 10.0, d1.clockRabiError / 10.0, d1.zeemanRamseyError / 10.0,
                  d1.zeemanRabiError / 10.0);
    return EchoReply(frame, text);
}

void CSimulatedInstrument::RaiseAlarm(unsigned code) {
    latchedAlarms_.push_back(code);
}

std::optional<std::string> CSimulatedInstrument::OutputSetting(const ReceivedFrame& frame,
                                                               SimClock::time_point) {
    const std::string& code = frame.code;
    if (code == "W01") {
        const auto offset = ParseLong(frame.data, -999999, 999999);
        if (!offset) {
            return NotUnderstood(frame);
        }
        freqTune_ = *offset;
    } else if (code == "W03") {
        if (!ParseLong(frame.data, -99999, 99999, "f")) {
            return NotUnderstood(frame);
        }
    } else if (code == "W07") {
        if (!ParseLong(frame.data, 1, 4)) {
            return NotUnderstood(frame);
        }
    } else if (code == "W15") {
        if (!ParseLong(frame.data, 1, 2)) {
            return NotUnderstood(frame);
        }
    } else if (code == "W10") {
        int order = 0;
        double tau = 0;
        if (std::sscanf(frame.data.c_str(), "%d %lf", &order, &tau) != 2 || order < 1 ||
            order > 2 || tau < 0.1 || tau > 99.99) {
            return NotUnderstood(frame);
        }
        ocxoTau_ = tau;
    } else if (code == "W11") {
        if (!ParseLong(frame.data, -999999, 999999)) {
            return NotUnderstood(frame);
        }
    } else if (code == "W18") {
        events_.clear();
    } else if (code == "W00") {
        latchedAlarms_.clear();
    }
    return Accepted(frame);
}

std::optional<std::string> CSimulatedInstrument::ServoSetting(const ReceivedFrame& frame,
                                                              SimClock::time_point) {
    const std::string& code = frame.code;
    if (code <= "S05") {
        if (!ParseLong(frame.data, 0, 1)) {
            return NotUnderstood(frame);
        }
    } else if (code == "S07") {
        int hardwareGain = 0;
        double gain = 0;
        if (std::sscanf(frame.data.c_str(), "%d,%lf", &hardwareGain, &gain) != 2 || gain < 0.1 ||
            gain > 9.99) {
            return NotUnderstood(frame);
        }
        numericGain_ = gain;
    } else if (!ParseDouble(frame.data, -10.0, 10.0)) {
        return NotUnderstood(frame);
    }
    return Accepted(frame);
}

std::optional<std::string> CSimulatedInstrument::NvramSetting(const ReceivedFrame& frame,
                                                              SimClock::time_point now) {
    const std::string& code = frame.code;
    const std::string_view data = TrimBlanks(frame.data);
    if (code == "C01") {
        const auto id = ParseLong(data, 0, 99999);
        if (!id) {
            return NotUnderstood(frame);
        }
        serial_ = static_cast<unsigned>(*id);
    } else if (code == "C02") {
        const D1Values d1 = ReadingsD1(now);
        nominalMassSpectrometer_ = d1.massSpectrometer;
        nominalIonizer_ = d1.ionizer;
    } else if (code == "C04") {
        if (data.size() != 1 || std::string_view("efd").find(data[0]) == std::string_view::npos) {
            return NotUnderstood(frame);
        }
        nvram_.language = data[0];
    } else if (code == "C07") {
        const auto tilt = ParseLong(data, -9999, 9999);
        if (!tilt) {
            return NotUnderstood(frame);
        }
        zeemanRabiTilt_ = static_cast<int>(*tilt);
    } else if (code == "A09" || code == "A11" || code == "A15" || code == "A18") {
        const auto flag = ParseLong(data, 0, 1);
        if (!flag) {
            return NotUnderstood(frame);
        }
        if (code == "A09") {
            daylightSavings_ = static_cast<int>(*flag);
        } else if (code == "A11") {
            leapSecond_ = static_cast<int>(*flag);
        } else if (code == "A18") {
            nvram_.restartFaultLevel = static_cast<int>(*flag);
        }
    } else if (code == "A13") {
        const auto hours = ParseLong(data, 1, 99999);
        if (!hours) {
            return NotUnderstood(frame);
        }
        nvram_.powerOnHours = *hours - static_cast<long>(Hours(now));
    } else if (code == "A16") {
        const long restarts = nvram_.restartCount;
        nvram_ = D5Values{};
        nvram_.restartCount = restarts;
    } else if (code == "A17") {
        const auto date = ParseTriple(data, "/");
        if (!date || (*date)[0] < 1 || (*date)[0] > 12 || (*date)[1] < 1 || (*date)[1] > 31) {
            return NotUnderstood(frame);
        }
        nvram_.manufactureMonth = (*date)[0];
        nvram_.manufactureDay = (*date)[1];
        nvram_.manufactureYear = 2000 + (*date)[2];
    } else if ((code == "C06" || code == "A20" || code == "A21" || code == "A22") && data.empty()) {
        return NotUnderstood(frame);
    }
    return Accepted(frame);
}

std::optional<std::string> CSimulatedInstrument::Security(const ReceivedFrame& frame,
                                                          SimClock::time_point) {
    if (frame.code == "C10") {
        return EchoReply(frame, password_ != 0 ? "1" : "0");
    }
    if (frame.code == "C09") {
        password_ = 0;
        return Accepted(frame);
    }
    const auto password = ParseLong(frame.data, 1, kMaxPassword);
    if (!password) {
        return NotUnderstood(frame);
    }
    password_ = static_cast<unsigned>(*password);
    return Accepted(frame);
}

std::optional<std::string> CSimulatedInstrument::SerialParameters(const ReceivedFrame& frame,
                                                                  SimClock::time_point) {
    const auto line = ParseLineSettings(frame.data);
    if (!line) {
        return NotUnderstood(frame);
    }
    lineChange_ = *line;
    return Accepted(frame);
}

std::optional<std::string> CSimulatedInstrument::Version(const ReceivedFrame& frame,
                                                         SimClock::time_point) {
    const auto [letter, number] = FirmwareRevision(config_.model);
    char text[32];
    std::snprintf(text, sizeof text, "Version %c %d", letter, number);
    return EchoReply(frame, text);
}

std::optional<std::string> CSimulatedInstrument::TestMode(const ReceivedFrame& frame,
                                                          SimClock::time_point now) {
    const int test = frame.code[2] - '1';  // 0, 1, 2 for A01, A02, A03
    const long highest[] = {1, 9, 255};
    const auto argument = ParseLong(frame.data, 0, highest[test]);
    if (!argument) {
        return NotUnderstood(frame);
    }
    if (test == 1 && *argument == 0) {
        // Leaving the DDS test restarts the unit: it answers, goes silent, then warms up.
        rebooting_ = true;
        rebootUntil_ = now + config_.rebootSilence;
        sweep_ = Sweep{};
        std::fill(std::begin(testArgument_), std::end(testArgument_), 0);
        return EchoReply(frame, "Rebooting");
    }
    const bool anyRunning = std::any_of(std::begin(testArgument_), std::end(testArgument_),
                                        [](int a) { return a != 0; });
    testArgument_[test] = static_cast<int>(*argument);
    if (*argument != 0 && !anyRunning) {
        nextTestLine_ = now + config_.testLineInterval;
    }
    return EchoReply(frame,
                     "Test " + std::to_string(test + 1) + (*argument != 0 ? " started" : " ended"));
}

std::optional<std::string> CSimulatedInstrument::SingleDds(const ReceivedFrame& frame,
                                                           SimClock::time_point now) {
    const std::string_view data = TrimBlanks(frame.data);
    if (data == "?") {
        // The detector's signal in volts, five characters and ETX without STX.
        const double hz = ddsWord_ != 0 ? DdsWordToHz(ddsWord_) : kClockLineDdsHz;
        const double volts = std::clamp(spectrum_.SignalVolts(hz, BeamFraction(now)), 0.0,
                                        kMaxVoltsInFiveCharacters);
        char text[16];
        std::snprintf(text, sizeof text, "%5.3f", volts);
        return std::string(text) + kEtx;
    }
    if (data == "off") {
        ddsWord_ = 0;
        return Accepted(frame);
    }
    const auto word = data.size() == kDdsWordDigits ? ParseDdsWord(data) : std::nullopt;
    if (!word) {
        return NotUnderstood(frame);
    }
    ddsWord_ = *word;
    return std::nullopt;  // the program reads nothing after setting the synthesizer
}

std::optional<std::string> CSimulatedInstrument::DdsSweep(const ReceivedFrame& frame,
                                                          SimClock::time_point now) {
    if (!config_.instrumentSweep) {
        return NotUnderstood(frame);
    }
    const std::string_view data = TrimBlanks(frame.data);
    // The echo of a sweep command is a line of its own: ETX and LF end it.
    const std::string echoLine = Echo(frame) + frame.data + kEtx;
    if (data == "off") {
        if (!sweep_.active) {
            return echoLine;
        }
        sweep_ = Sweep{};
        return echoLine + kLf + "Sweep Off" + kLf;
    }
    const std::size_t first = data.find(',');
    const std::size_t second = first == std::string_view::npos ? first : data.find(',', first + 1);
    if (second == std::string_view::npos) {
        return NotUnderstood(frame);
    }
    const auto start = ParseDdsWord(data.substr(0, first));
    const auto step = ParseDdsWord(data.substr(first + 1, second - first - 1));
    const auto count = ParseLong(data.substr(second + 1), 1, kMaxSweepPoints);
    if (!start || !step || !count) {
        return NotUnderstood(frame);
    }
    sweep_ = Sweep{true, *start, *step, *count, 0, now + config_.sweepPointInterval};
    return echoLine + kLf;
}

std::optional<std::string> CSimulatedInstrument::Clock(const ReceivedFrame& frame,
                                                       SimClock::time_point) {
    if (frame.code == "A08") {
        // The date and time start at character 26, after "Date and Time: ".
        return EchoReply(frame, "Date and Time: " + ClockText(UnitTime()));
    }
    std::tm unit = Broken(UnitTime());
    const bool date = frame.code == "A06";
    const auto parts = ParseTriple(frame.data, date ? "/" : ":,");
    if (!parts) {
        return NotUnderstood(frame);
    }
    const auto [a, b, c] = *parts;
    if (date ? (a < 1 || a > 12 || b < 1 || b > 31) : (a > 23 || b > 59 || c > 59)) {
        return NotUnderstood(frame);
    }
    if (date) {
        unit.tm_mon = a - 1;
        unit.tm_mday = b;
        unit.tm_year = c + 100;  // two-digit years are 2000 to 2099
    } else {
        unit.tm_hour = a;
        unit.tm_min = b;
        unit.tm_sec = c;
    }
    clockOffset_ = static_cast<std::int64_t>(::timegm(&unit)) - SystemSeconds();
    return Accepted(frame);
}

std::optional<std::string> CSimulatedInstrument::Query(const ReceivedFrame& frame,
                                                       SimClock::time_point now) {
    if (frame.code == "A10") {
        return EchoReply(frame, std::to_string(daylightSavings_));
    }
    if (frame.code == "A12") {
        return EchoReply(frame, std::to_string(leapSecond_));
    }
    if (frame.code == "A14") {
        return EchoReply(frame, std::to_string(ReadingsD5(now).powerOnHours));
    }
    return EchoReply(frame, "BIU 3A5C");
}

std::optional<std::string> CSimulatedInstrument::Outliers(const ReceivedFrame& frame,
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

std::optional<std::string> CSimulatedInstrument::Dcc(const ReceivedFrame& frame,
                                                     SimClock::time_point now) {
    if (!HasDcc()) {
        return NotUnderstood(frame);  // no DCC board: B30/B31 report the interface absent
    }
    const std::string& code = frame.code;
    const std::string_view data = TrimBlanks(frame.data);
    char text[128];
    if (code == "B01") {
        const auto seconds = ParseLong(data, 0, 4294967295L);
        if (!seconds || data.size() != 10) {
            return NotUnderstood(frame);
        }
        dccOffset_ = *seconds - SystemSeconds();
    } else if (code == "B02") {
        std::snprintf(text, sizeof text, "%" PRId64, SystemSeconds() + dccOffset_);
        return Bare(text);
    } else if (code == "B03") {
        const auto seconds = ParseLong(data, -99999, 99999);
        if (!seconds) {
            return NotUnderstood(frame);
        }
        dccOffset_ += *seconds;
    } else if (code == "B10") {
        if (data.size() != 6 || data[2] != ' ') {
            return NotUnderstood(frame);
        }
        t1Settings_ = std::string(data);
    } else if (code == "B11") {
        int crc = 0, ts16 = 0, channel = 0;
        char fault[4] = {};
        if (std::sscanf(std::string(data).c_str(), "CRC4%1d TS16%1d %3s SSM%1d", &crc, &ts16, fault,
                        &channel) != 4 ||
            channel < 4 || channel > 8) {
            return NotUnderstood(frame);
        }
        e1Settings_ = std::string(data);
    } else if (code == "B12") {
        int n[14] = {};
        if (std::sscanf(std::string(data).c_str(), "%d %d %d.%d.%d.%d %d.%d.%d.%d %d.%d.%d.%d",
                        &n[0], &n[1], &n[2], &n[3], &n[4], &n[5], &n[6], &n[7], &n[8], &n[9],
                        &n[10], &n[11], &n[12], &n[13]) != 14 ||
            !std::all_of(n, n + 14, [](int x) { return x >= 0 && x <= 255; })) {
            return NotUnderstood(frame);
        }
        ethernetEnable_ = n[0] != 0;
        dhcpEnable_ = n[1] != 0;
        std::copy(n + 2, n + 6, ip_);
        std::copy(n + 6, n + 10, netmask_);
        std::copy(n + 10, n + 14, gateway_);
    } else if (code == "B20") {
        return BuildB20Record(ReadingsB20(now));
    } else if (code == "B21") {
        return Bare("V2.10b");  // the display firmware in characters 1 to 6
    } else if (code == "B30") {
        return Bare(t1Settings_);
    } else if (code == "B31") {
        return Bare(e1Settings_);
    } else if (code == "B32") {
        std::snprintf(
            text, sizeof text, "%d %d %03d.%03d.%03d.%03d %03d.%03d.%03d.%03d %03d.%03d.%03d.%03d",
            ethernetEnable_, dhcpEnable_, ip_[0], ip_[1], ip_[2], ip_[3], netmask_[0], netmask_[1],
            netmask_[2], netmask_[3], gateway_[0], gateway_[1], gateway_[2], gateway_[3]);
        return Bare(text);
    } else if (code == "B33") {
        std::snprintf(text, sizeof text, "1 Tq9000-%05u", serial_);
        return Bare(text);
    } else if (code == "B34") {
        return Bare("0 local");
    }
    return Accepted(frame);
}

std::vector<std::string> CSimulatedInstrument::EventLogLines() const {
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < events_.size(); ++i) {
        char line[160];
        std::snprintf(line, sizeof line, "%03zu\t%s\t%02X %s", i + 1,
                      DateTimeText(events_[i].unitTime).c_str(), events_[i].code,
                      events_[i].text.c_str());
        lines.push_back(line);
    }
    return lines;
}

std::string CSimulatedInstrument::TakeUnsolicited(SimClock::time_point now) {
    Update(now);
    std::string out;
    if (IsRebooting(now)) {
        return out;
    }
    while (sweep_.active && now >= sweep_.due) {
        const unsigned long long word =
            (sweep_.start + sweep_.next * sweep_.step) & 0xFFFFFFFFFFFFULL;
        const double volts = std::clamp(spectrum_.SignalVolts(DdsWordToHz(word), BeamFraction(now)),
                                        0.0, kMaxVoltsInFiveCharacters);
        char line[48];
        // Twelve hexadecimal digits, a comma at index 12, six characters of volts, LF.
        std::snprintf(line, sizeof line, "%012llX,%6.4f\n", word, volts);
        out += line;
        sweep_.due += config_.sweepPointInterval;
        if (++sweep_.next == sweep_.count) {
            out += "Sweep End\n";
            sweep_ = Sweep{};
        }
    }
    const bool testing = std::any_of(std::begin(testArgument_), std::end(testArgument_),
                                     [](int a) { return a != 0; });
    while (testing && now >= nextTestLine_) {
        ++testCounter_;
        char line[96];
        if (testArgument_[0] != 0) {
            const unsigned dac = (testCounter_ * 0x111u) & 0xFFFu;
            std::snprintf(line, sizeof line, "DAC %03X ADC %03X\n", dac,
                          (dac + testCounter_ % 3) & 0xFFFu);
            out += line;
        }
        if (testArgument_[1] != 0) {
            std::snprintf(line, sizeof line, "DDS test %d pass %u OK\n", testArgument_[1],
                          testCounter_);
            out += line;
        }
        if (testArgument_[2] != 0) {
            std::snprintf(line, sizeof line, "Gain DAC %02X signal %4.2f V\n", testArgument_[2],
                          testArgument_[2] / 255.0 * 4.0);
            out += line;
        }
        nextTestLine_ += config_.testLineInterval;
    }
    return out;
}

std::optional<SimClock::time_point> CSimulatedInstrument::NextUnsolicited() const {
    std::optional<SimClock::time_point> next;
    if (sweep_.active) {
        next = sweep_.due;
    }
    if (std::any_of(std::begin(testArgument_), std::end(testArgument_),
                    [](int a) { return a != 0; })) {
        next = next ? std::min(*next, nextTestLine_) : nextTestLine_;
    }
    if (rebooting_) {
        next = next ? std::min(*next, rebootUntil_) : rebootUntil_;
    }
    return next;
}

}  // namespace corvane3::sim
