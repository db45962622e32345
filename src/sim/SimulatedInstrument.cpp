#include "sim/SimulatedInstrument.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "core/base/CLocale.h"
#include "core/link/CommandFrame.h"
#include "core/link/UnitState.h"
#include "sim/SimulatedAlarms.h"
#include "sim/UnitClock.h"

// The unit's state over time (power-on, warm-up, reboot, event log) and the dispatch of each
// frame to its command's handler. The handlers live beside this file, one file per family.

namespace corvane3::sim {

namespace {

// After warm-up the beam signal of a healthy tube decays slowly as its cesium is used up: this
// time constant (hours since power-on, two years) loses about 0.14 % a day.
constexpr double kBeamDecayHours = 2 * 365.25 * 24;

double Seconds(SimClock::duration d) {
    return std::chrono::duration<double>(d).count();
}

}  // namespace

CSimulatedInstrument::CSimulatedInstrument(const InstrumentConfig& config,
                                           SimClock::time_point powerOn)
    : config_(config),
      noise_(config.seed),
      spectrum_(config.seed + 1),
      serial_(config.serial),
      password_(std::min(config.password, kMaxUserPassword)) {
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

const std::array<CSimulatedInstrument::Route, kCommandCount>& CSimulatedInstrument::Routes() {
    using C = CSimulatedInstrument;
    static const std::array<Route, kCommandCount> routes = [] {
        std::array<Route, kCommandCount> table{};
        const auto route = [&](ECommand command, Handler handler, bool needsDccBoard = false) {
            table[static_cast<std::size_t>(command)] = Route{handler, needsDccBoard};
        };
        route(ECommand::kResetAlarms, &C::ResetAlarms);
        route(ECommand::kSetUserFrequencyOffset, &C::SetUserFrequencyOffset);
        route(ECommand::kBeginTimeUpdating, &C::BeginTimeUpdating);
        route(ECommand::kResetTimeUpdating, &C::Accept);
        route(ECommand::kDisableCFieldServo, &C::Accept);
        route(ECommand::kEnableCFieldServo, &C::Accept);
        route(ECommand::kSetTtlOutputFrequency, &C::SetTtlOutputFrequency);
        route(ECommand::kDayAndTimeEntry, &C::Accept);
        route(ECommand::kFilterOrderAndTimeConstant, &C::FilterOrderAndTimeConstant);
        route(ECommand::kTemporaryFrequencyOffset, &C::TemporaryFrequencyOffset);
        route(ECommand::kMute, &C::Accept);
        route(ECommand::kUnmute, &C::Accept);
        route(ECommand::kMuteOverride, &C::Accept);
        route(ECommand::kSetExternalAlarm, &C::SetExternalAlarm);
        route(ECommand::kClearInternalAlarms, &C::Accept);
        route(ECommand::kAlarmRelayCutOff, &C::Accept);
        route(ECommand::kClearEventLog, &C::ClearEventLog);
        route(ECommand::kPpsSyncEnable, &C::Accept);
        route(ECommand::kRemoteOn, &C::Silent);
        route(ECommand::kReportVariables, &C::ReportVariables);
        route(ECommand::kReportConstants, &C::ReportConstants);
        route(ECommand::kRetrieveEventLog, &C::RetrieveEventLog);
        route(ECommand::kReportExtendedStatus, &C::ReportExtendedStatus);
        route(ECommand::kReportNvram, &C::ReportNvram);
        route(ECommand::kRetrieveFactoryEventLog, &C::RetrieveFactoryEventLog);
        route(ECommand::kRamseyOnly, &C::ServoSwitch);
        route(ECommand::kVcxoServo, &C::ServoSwitch);
        route(ECommand::kCFieldServo, &C::ServoSwitch);
        route(ECommand::kMicrowaveServo, &C::ServoSwitch);
        route(ECommand::kGainServo, &C::ServoSwitch);
        route(ECommand::kSetVcxoControlVoltage, &C::ControlVoltage);
        route(ECommand::kSetGains, &C::SetGains);
        route(ECommand::kSetCFieldControlVoltage, &C::ControlVoltage);
        route(ECommand::kSetMicrowavePower, &C::ControlVoltage);
        route(ECommand::kSetUnitId, &C::SetUnitId);
        route(ECommand::kSetNominals, &C::SetNominals);
        route(ECommand::kReportVersion, &C::ReportVersion);
        route(ECommand::kSetLanguage, &C::SetLanguage);
        route(ECommand::kSetSerialParameters, &C::SetSerialParameters);
        route(ECommand::kSetTolvexMessage, &C::RequireData);
        route(ECommand::kSetZeemanRabiTilt, &C::SetZeemanRabiTilt);
        route(ECommand::kSetPassword, &C::SetPassword);
        route(ECommand::kClearPassword, &C::ClearPassword);
        route(ECommand::kGetSecurityStatus, &C::GetSecurityStatus);
        route(ECommand::kTestMode1, &C::TestMode1);
        route(ECommand::kTestMode2, &C::TestMode2);
        route(ECommand::kTestMode3, &C::TestMode3);
        route(ECommand::kSingleDdsPoint, &C::SingleDdsPoint);
        route(ECommand::kDdsSweep, &C::DdsSweep);
        route(ECommand::kSetDate, &C::SetDate);
        route(ECommand::kSetTime, &C::SetTime);
        route(ECommand::kGetDateAndTime, &C::GetDateAndTime);
        route(ECommand::kSetDaylightSavings, &C::SetDaylightSavings);
        route(ECommand::kGetDaylightSavings, &C::GetDaylightSavings);
        route(ECommand::kArmLeapSecond, &C::ArmLeapSecond);
        route(ECommand::kGetLeapSecondStatus, &C::GetLeapSecondStatus);
        route(ECommand::kSetPowerOnHours, &C::SetPowerOnHours);
        route(ECommand::kGetPowerOnHours, &C::GetPowerOnHours);
        route(ECommand::kSetResponseMode, &C::SetResponseMode);
        route(ECommand::kResetNvram, &C::ResetNvram);
        route(ECommand::kSetManufacturingDate, &C::SetManufacturingDate);
        route(ECommand::kSetRestartFaultLevel, &C::SetRestartFaultLevel);
        route(ECommand::kGetBiuId, &C::GetBiuId);
        route(ECommand::kSetE1PatternGenerator, &C::RequireData);
        route(ECommand::kSetT1PatternGenerator, &C::RequireData);
        route(ECommand::kSetTelecomOutput, &C::RequireData);
        route(ECommand::kGetOutlierCounts, &C::GetOutlierCounts);
        // Without the DCC board (every model but the Tq9000) these are not understood; B30 and
        // B31 then report the interface absent.
        route(ECommand::kSetDccTime, &C::SetDccTime, true);
        route(ECommand::kGetDccTime, &C::GetDccTime, true);
        route(ECommand::kAdjustDccTime, &C::AdjustDccTime, true);
        route(ECommand::kSetDccT1, &C::SetDccT1, true);
        route(ECommand::kSetDccE1, &C::SetDccE1, true);
        route(ECommand::kSetDccEthernet, &C::SetDccEthernet, true);
        route(ECommand::kGetDccStatus, &C::GetDccStatus, true);
        route(ECommand::kGetDccFirmwareVersion, &C::GetDccFirmwareVersion, true);
        route(ECommand::kGetDccT1, &C::GetDccT1, true);
        route(ECommand::kGetDccE1, &C::GetDccE1, true);
        route(ECommand::kGetDccEthernet, &C::GetDccEthernet, true);
        route(ECommand::kGetDccHostName, &C::GetDccHostName, true);
        route(ECommand::kGetDccDomain, &C::GetDccDomain, true);
        return table;
    }();
    return routes;
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
    const std::optional<ECommand> command = CommandForCode(frame.code);
    if (!command) {
        return NotUnderstood(frame);
    }
    const Route& route = Routes()[static_cast<std::size_t>(*command)];
    if (route.handler == nullptr || (route.needsDccBoard && !HasDcc())) {
        return NotUnderstood(frame);
    }
    return (this->*(route.handler))(frame, now);
}

std::optional<std::string> CSimulatedInstrument::Silent(const ReceivedFrame&,
                                                        SimClock::time_point) {
    return std::nullopt;
}

std::optional<std::string> CSimulatedInstrument::Accept(const ReceivedFrame& frame,
                                                        SimClock::time_point) {
    return Accepted(frame);
}

void CSimulatedInstrument::RaiseAlarm(unsigned code) {
    latchedAlarms_.push_back(code);
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

}  // namespace corvane3::sim
