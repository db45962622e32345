#include "sim/SimulatedInstrument.h"

#include <cstdio>
#include <ctime>

#include "core/base/Text.h"
#include "sim/CommandArguments.h"
#include "sim/UnitClock.h"

// The simulated unit's settings: outputs and alarms, servos, NVRAM values, its clock, its serial
// line and the user password. Each checks its data as the unit does and answers "OK" or "?".

namespace corvane3::sim {

namespace {

// A 0 or 1 flag; nullopt for anything else.
std::optional<int> ParseFlag(std::string_view data) {
    const auto flag = ParseLong(data, 0, 1);
    return flag ? std::optional<int>(static_cast<int>(*flag)) : std::nullopt;
}

}  // namespace

std::optional<std::string> CSimulatedInstrument::ResetAlarms(const ReceivedFrame& frame,
                                                             SimClock::time_point) {
    latchedAlarms_.clear();
    return Accepted(frame);
}

std::optional<std::string> CSimulatedInstrument::SetUserFrequencyOffset(const ReceivedFrame& frame,
                                                                        SimClock::time_point) {
    const auto offset = ParseLong(frame.data, -999999, 999999);
    if (!offset) {
        return NotUnderstood(frame);
    }
    freqTune_ = *offset;
    return Accepted(frame);
}

std::optional<std::string> CSimulatedInstrument::BeginTimeUpdating(const ReceivedFrame& frame,
                                                                   SimClock::time_point) {
    return ParseLong(frame.data, -99999, 99999, "f") ? Accepted(frame) : NotUnderstood(frame);
}

std::optional<std::string> CSimulatedInstrument::SetTtlOutputFrequency(const ReceivedFrame& frame,
                                                                       SimClock::time_point) {
    return ParseLong(frame.data, 1, 4) ? Accepted(frame) : NotUnderstood(frame);
}

std::optional<std::string> CSimulatedInstrument::FilterOrderAndTimeConstant(
    const ReceivedFrame& frame, SimClock::time_point) {
    int order = 0;
    double tau = 0;
    if (std::sscanf(frame.data.c_str(), "%d %lf", &order, &tau) != 2 || order < 1 || order > 2 ||
        tau < 0.1 || tau > 99.99) {
        return NotUnderstood(frame);
    }
    ocxoTau_ = tau;
    return Accepted(frame);
}

std::optional<std::string> CSimulatedInstrument::TemporaryFrequencyOffset(
    const ReceivedFrame& frame, SimClock::time_point) {
    return ParseLong(frame.data, -999999, 999999) ? Accepted(frame) : NotUnderstood(frame);
}

std::optional<std::string> CSimulatedInstrument::SetExternalAlarm(const ReceivedFrame& frame,
                                                                  SimClock::time_point) {
    return ParseLong(frame.data, 1, 2) ? Accepted(frame) : NotUnderstood(frame);
}

std::optional<std::string> CSimulatedInstrument::ClearEventLog(const ReceivedFrame& frame,
                                                               SimClock::time_point) {
    events_.clear();
    return Accepted(frame);
}

std::optional<std::string> CSimulatedInstrument::ServoSwitch(const ReceivedFrame& frame,
                                                             SimClock::time_point) {
    return ParseLong(frame.data, 0, 1) ? Accepted(frame) : NotUnderstood(frame);
}

std::optional<std::string> CSimulatedInstrument::ControlVoltage(const ReceivedFrame& frame,
                                                                SimClock::time_point) {
    return ParseDouble(frame.data, -10.0, 10.0) ? Accepted(frame) : NotUnderstood(frame);
}

std::optional<std::string> CSimulatedInstrument::SetGains(const ReceivedFrame& frame,
                                                          SimClock::time_point) {
    int hardwareGain = 0;
    double gain = 0;
    if (std::sscanf(frame.data.c_str(), "%d,%lf", &hardwareGain, &gain) != 2 || gain < 0.1 ||
        gain > 9.99) {
        return NotUnderstood(frame);
    }
    numericGain_ = gain;
    return Accepted(frame);
}

std::optional<std::string> CSimulatedInstrument::SetUnitId(const ReceivedFrame& frame,
                                                           SimClock::time_point) {
    const auto id = ParseLong(frame.data, 0, 99999);
    if (!id) {
        return NotUnderstood(frame);
    }
    serial_ = static_cast<unsigned>(*id);
    return Accepted(frame);
}

std::optional<std::string> CSimulatedInstrument::SetNominals(const ReceivedFrame& frame,
                                                             SimClock::time_point now) {
    const D1Values d1 = ReadingsD1(now);
    nominalMassSpectrometer_ = d1.massSpectrometer;
    nominalIonizer_ = d1.ionizer;
    return Accepted(frame);
}

std::optional<std::string> CSimulatedInstrument::SetLanguage(const ReceivedFrame& frame,
                                                             SimClock::time_point) {
    const std::string_view data = TrimBlanks(frame.data);
    if (data.size() != 1 || std::string_view("efd").find(data[0]) == std::string_view::npos) {
        return NotUnderstood(frame);
    }
    nvram_.language = data[0];
    return Accepted(frame);
}

std::optional<std::string> CSimulatedInstrument::SetSerialParameters(const ReceivedFrame& frame,
                                                                     SimClock::time_point) {
    const auto line = ParseLineSettings(frame.data);
    if (!line) {
        return NotUnderstood(frame);
    }
    lineChange_ = *line;
    return Accepted(frame);
}

std::optional<std::string> CSimulatedInstrument::RequireData(const ReceivedFrame& frame,
                                                             SimClock::time_point) {
    return TrimBlanks(frame.data).empty() ? NotUnderstood(frame) : Accepted(frame);
}

std::optional<std::string> CSimulatedInstrument::SetZeemanRabiTilt(const ReceivedFrame& frame,
                                                                   SimClock::time_point) {
    const auto tilt = ParseLong(frame.data, -9999, 9999);
    if (!tilt) {
        return NotUnderstood(frame);
    }
    zeemanRabiTilt_ = static_cast<int>(*tilt);
    return Accepted(frame);
}

std::optional<std::string> CSimulatedInstrument::SetPassword(const ReceivedFrame& frame,
                                                             SimClock::time_point) {
    const auto password = ParseLong(frame.data, 1, kMaxUserPassword);
    if (!password) {
        return NotUnderstood(frame);
    }
    password_ = static_cast<unsigned>(*password);
    return Accepted(frame);
}

std::optional<std::string> CSimulatedInstrument::ClearPassword(const ReceivedFrame& frame,
                                                               SimClock::time_point) {
    password_ = 0;
    return Accepted(frame);
}

std::optional<std::string> CSimulatedInstrument::SetDate(const ReceivedFrame& frame,
                                                         SimClock::time_point) {
    return SetClock(frame, true);
}

std::optional<std::string> CSimulatedInstrument::SetTime(const ReceivedFrame& frame,
                                                         SimClock::time_point) {
    return SetClock(frame, false);
}

// date: "mm/dd/yy"; otherwise the time of day "hh:mm:ss" (or with commas).
std::optional<std::string> CSimulatedInstrument::SetClock(const ReceivedFrame& frame, bool date) {
    std::tm unit = Broken(UnitTime());
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

std::optional<std::string> CSimulatedInstrument::SetDaylightSavings(const ReceivedFrame& frame,
                                                                    SimClock::time_point) {
    const auto flag = ParseFlag(frame.data);
    if (!flag) {
        return NotUnderstood(frame);
    }
    daylightSavings_ = *flag;
    return Accepted(frame);
}

std::optional<std::string> CSimulatedInstrument::ArmLeapSecond(const ReceivedFrame& frame,
                                                               SimClock::time_point) {
    const auto flag = ParseFlag(frame.data);
    if (!flag) {
        return NotUnderstood(frame);
    }
    leapSecond_ = *flag;
    return Accepted(frame);
}

std::optional<std::string> CSimulatedInstrument::SetResponseMode(const ReceivedFrame& frame,
                                                                 SimClock::time_point) {
    return ParseFlag(frame.data) ? Accepted(frame) : NotUnderstood(frame);
}

std::optional<std::string> CSimulatedInstrument::SetRestartFaultLevel(const ReceivedFrame& frame,
                                                                      SimClock::time_point) {
    const auto flag = ParseFlag(frame.data);
    if (!flag) {
        return NotUnderstood(frame);
    }
    nvram_.restartFaultLevel = *flag;
    return Accepted(frame);
}

std::optional<std::string> CSimulatedInstrument::SetPowerOnHours(const ReceivedFrame& frame,
                                                                 SimClock::time_point now) {
    const auto hours = ParseLong(frame.data, 1, 99999);
    if (!hours) {
        return NotUnderstood(frame);
    }
    nvram_.powerOnHours = *hours - static_cast<long>(Hours(now));
    return Accepted(frame);
}

std::optional<std::string> CSimulatedInstrument::ResetNvram(const ReceivedFrame& frame,
                                                            SimClock::time_point) {
    const long restarts = nvram_.restartCount;
    nvram_ = D5Values{};
    nvram_.restartCount = restarts;
    return Accepted(frame);
}

std::optional<std::string> CSimulatedInstrument::SetManufacturingDate(const ReceivedFrame& frame,
                                                                      SimClock::time_point) {
    const auto date = ParseTriple(frame.data, "/");
    if (!date || (*date)[0] < 1 || (*date)[0] > 12 || (*date)[1] < 1 || (*date)[1] > 31) {
        return NotUnderstood(frame);
    }
    nvram_.manufactureMonth = (*date)[0];
    nvram_.manufactureDay = (*date)[1];
    nvram_.manufactureYear = 2000 + (*date)[2];
    return Accepted(frame);
}

}  // namespace corvane3::sim
