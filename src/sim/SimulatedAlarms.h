#pragma once
// Alarm codes the simulated unit raises, in its D*1 record and in its event log.

namespace corvane3::sim {

inline constexpr unsigned kAlarmUnitRestarted = 0x16;
inline constexpr unsigned kAlarmCaseTemperature = 0x09;
inline constexpr unsigned kAlarmCesiumOvenWarmup = 0xF1;
inline constexpr unsigned kAlarmOcxoOvenWarmup = 0xF2;
inline constexpr unsigned kAlarmFuseA = 0x26;

}  // namespace corvane3::sim
