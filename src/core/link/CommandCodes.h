#pragma once
// The instrument's command codes: one name for each three-character code the program sends and
// the simulated instrument answers, and one table that gives each its code on the wire, whether a
// set user password guards it and how much of its reply the program reads. Plain data, safe on
// any thread.

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

#include "core/link/TolvexLink.h"

namespace corvane3 {

enum class Command {
    ResetAlarms,                 // W00
    SetUserFrequencyOffset,      // W01
    BeginTimeUpdating,           // W03
    ResetTimeUpdating,           // W04
    DisableCFieldServo,          // W05
    EnableCFieldServo,           // W06
    SetTtlOutputFrequency,       // W07
    DayAndTimeEntry,             // W08
    FilterOrderAndTimeConstant,  // W10
    TemporaryFrequencyOffset,    // W11
    Mute,                        // W12
    Unmute,                      // W13
    MuteOverride,                // W14
    SetExternalAlarm,            // W15
    ClearInternalAlarms,         // W16
    AlarmRelayCutOff,            // W17
    ClearEventLog,               // W18
    PpsSyncEnable,               // W22
    RemoteOn,                    // T*2
    ReportVariables,             // D*1
    ReportConstants,             // D*2
    RetrieveEventLog,            // D*3
    ReportExtendedStatus,        // D*4
    ReportNvram,                 // D*5
    RetrieveFactoryEventLog,     // D*6
    RamseyOnly,                  // S01
    VcxoServo,                   // S02
    CFieldServo,                 // S03
    MicrowaveServo,              // S04
    GainServo,                   // S05
    SetVcxoControlVoltage,       // S06
    SetGains,                    // S07
    SetCFieldControlVoltage,     // S08
    SetMicrowavePower,           // S09
    SetUnitId,                   // C01
    SetNominals,                 // C02
    ReportVersion,               // C03
    SetLanguage,                 // C04
    SetSerialParameters,         // C05
    SetTolvexMessage,            // C06
    SetZeemanRabiTilt,           // C07
    SetPassword,                 // C08
    ClearPassword,               // C09
    GetSecurityStatus,           // C10
    TestMode1,                   // A01
    TestMode2,                   // A02
    TestMode3,                   // A03
    SingleDdsPoint,              // A04
    DdsSweep,                    // A05
    SetDate,                     // A06
    SetTime,                     // A07
    GetDateAndTime,              // A08
    SetDaylightSavings,          // A09
    GetDaylightSavings,          // A10
    ArmLeapSecond,               // A11
    GetLeapSecondStatus,         // A12
    SetPowerOnHours,             // A13
    GetPowerOnHours,             // A14
    SetResponseMode,             // A15
    ResetNvram,                  // A16
    SetManufacturingDate,        // A17
    SetRestartFaultLevel,        // A18
    GetBiuId,                    // A19
    SetE1PatternGenerator,       // A20
    SetT1PatternGenerator,       // A21
    SetTelecomOutput,            // A22
    GetOutlierCounts,            // A24
    SetDccTime,                  // B01
    GetDccTime,                  // B02
    AdjustDccTime,               // B03
    SetDccT1,                    // B10
    SetDccE1,                    // B11
    SetDccEthernet,              // B12
    GetDccStatus,                // B20
    GetDccFirmwareVersion,       // B21
    GetDccT1,                    // B30
    GetDccE1,                    // B31
    GetDccEthernet,              // B32
    GetDccHostName,              // B33
    GetDccDomain,                // B34
};

// Reply limits of the table, besides the link's: an echo and a word or two ("OK", "!"), a short
// text, and replies that may run to several lines.
inline constexpr int kEchoReplyLimit = 32;
inline constexpr int kShortReplyLimit = 64;
inline constexpr int kLongReplyLimit = 1024;

struct CommandSpec {
    Command command;
    const char* code;  // three characters, written into the frame
    bool isProtected;  // refused without the user password once one is set
    // What the program reads of the reply when it sends the command on its own (a dialog, a
    // poll). The command list reads every reply with kCatalogueReplyLimit, and the Test and
    // Diagnostics dialog every reply with kDiagnosticsReplyLimit, whatever the command.
    int replyLimit;
};

// GetDccDomain is the last command.
inline constexpr std::size_t kCommandCount = static_cast<std::size_t>(Command::GetDccDomain) + 1;

// clang-format off
inline constexpr std::array<CommandSpec, kCommandCount> kCommands{{
    // An echo and a short text: a tighter limit would cut the reply and count the reset as failed.
    {Command::ResetAlarms, "W00", false, kOrdinaryReplyLimit},
    {Command::SetUserFrequencyOffset, "W01", false, kShortReplyLimit},
    {Command::BeginTimeUpdating, "W03", false, kLongReplyLimit},
    {Command::ResetTimeUpdating, "W04", false, kLongReplyLimit},
    {Command::DisableCFieldServo, "W05", false, kOrdinaryReplyLimit},
    {Command::EnableCFieldServo, "W06", false, kOrdinaryReplyLimit},
    {Command::SetTtlOutputFrequency, "W07", false, kEchoReplyLimit},
    {Command::DayAndTimeEntry, "W08", false, kOrdinaryReplyLimit},
    {Command::FilterOrderAndTimeConstant, "W10", false, kShortReplyLimit},
    {Command::TemporaryFrequencyOffset, "W11", false, kOrdinaryReplyLimit},
    {Command::Mute, "W12", false, kOrdinaryReplyLimit},
    {Command::Unmute, "W13", false, kOrdinaryReplyLimit},
    {Command::MuteOverride, "W14", false, kOrdinaryReplyLimit},
    {Command::SetExternalAlarm, "W15", false, kOrdinaryReplyLimit},
    {Command::ClearInternalAlarms, "W16", false, kOrdinaryReplyLimit},
    {Command::AlarmRelayCutOff, "W17", false, kOrdinaryReplyLimit},
    {Command::ClearEventLog, "W18", true, kEchoReplyLimit},
    {Command::PpsSyncEnable, "W22", false, kEchoReplyLimit},
    {Command::RemoteOn, "T*2", false, kOrdinaryReplyLimit},
    {Command::ReportVariables, "D*1", false, kOrdinaryReplyLimit},
    {Command::ReportConstants, "D*2", false, kOrdinaryReplyLimit},
    {Command::RetrieveEventLog, "D*3", false, kEventLogReplyLimit},
    {Command::ReportExtendedStatus, "D*4", false, kOrdinaryReplyLimit},
    {Command::ReportNvram, "D*5", false, kOrdinaryReplyLimit},
    {Command::RetrieveFactoryEventLog, "D*6", false, kEventLogReplyLimit},
    {Command::RamseyOnly, "S01", false, kOrdinaryReplyLimit},
    {Command::VcxoServo, "S02", false, kOrdinaryReplyLimit},
    {Command::CFieldServo, "S03", false, kOrdinaryReplyLimit},
    {Command::MicrowaveServo, "S04", false, kOrdinaryReplyLimit},
    {Command::GainServo, "S05", false, kOrdinaryReplyLimit},
    {Command::SetVcxoControlVoltage, "S06", false, kOrdinaryReplyLimit},
    {Command::SetGains, "S07", false, kOrdinaryReplyLimit},
    {Command::SetCFieldControlVoltage, "S08", false, kOrdinaryReplyLimit},
    {Command::SetMicrowavePower, "S09", false, kOrdinaryReplyLimit},
    {Command::SetUnitId, "C01", false, kShortReplyLimit},
    {Command::SetNominals, "C02", false, kShortReplyLimit},
    {Command::ReportVersion, "C03", false, kOrdinaryReplyLimit},
    {Command::SetLanguage, "C04", false, kOrdinaryReplyLimit},
    {Command::SetSerialParameters, "C05", true, kLongReplyLimit},
    {Command::SetTolvexMessage, "C06", false, kOrdinaryReplyLimit},
    {Command::SetZeemanRabiTilt, "C07", false, kShortReplyLimit},
    {Command::SetPassword, "C08", true, kShortReplyLimit},
    {Command::ClearPassword, "C09", true, kShortReplyLimit},
    {Command::GetSecurityStatus, "C10", false, kOrdinaryReplyLimit},
    {Command::TestMode1, "A01", false, kShortReplyLimit},
    {Command::TestMode2, "A02", false, kShortReplyLimit},
    {Command::TestMode3, "A03", false, kShortReplyLimit},
    {Command::SingleDdsPoint, "A04", false, kOrdinaryReplyLimit},
    {Command::DdsSweep, "A05", false, kShortReplyLimit},
    {Command::SetDate, "A06", true, kEchoReplyLimit},
    {Command::SetTime, "A07", true, kEchoReplyLimit},
    {Command::GetDateAndTime, "A08", false, kOrdinaryReplyLimit},
    {Command::SetDaylightSavings, "A09", false, kOrdinaryReplyLimit},
    {Command::GetDaylightSavings, "A10", false, kOrdinaryReplyLimit},
    {Command::ArmLeapSecond, "A11", false, kOrdinaryReplyLimit},
    {Command::GetLeapSecondStatus, "A12", false, kOrdinaryReplyLimit},
    {Command::SetPowerOnHours, "A13", false, kShortReplyLimit},
    {Command::GetPowerOnHours, "A14", false, kOrdinaryReplyLimit},
    {Command::SetResponseMode, "A15", false, kOrdinaryReplyLimit},
    {Command::ResetNvram, "A16", false, kOrdinaryReplyLimit},
    {Command::SetManufacturingDate, "A17", false, kShortReplyLimit},
    {Command::SetRestartFaultLevel, "A18", false, kShortReplyLimit},
    {Command::GetBiuId, "A19", false, kOrdinaryReplyLimit},
    {Command::SetE1PatternGenerator, "A20", true, kLongReplyLimit},
    {Command::SetT1PatternGenerator, "A21", true, kLongReplyLimit},
    {Command::SetTelecomOutput, "A22", true, kLongReplyLimit},
    {Command::GetOutlierCounts, "A24", false, kOrdinaryReplyLimit},
    {Command::SetDccTime, "B01", false, kLongReplyLimit},
    {Command::GetDccTime, "B02", false, kOrdinaryReplyLimit},
    {Command::AdjustDccTime, "B03", false, kShortReplyLimit},
    {Command::SetDccT1, "B10", false, kLongReplyLimit},
    {Command::SetDccE1, "B11", false, kLongReplyLimit},
    {Command::SetDccEthernet, "B12", false, kShortReplyLimit},
    {Command::GetDccStatus, "B20", false, kOrdinaryReplyLimit},
    {Command::GetDccFirmwareVersion, "B21", false, kOrdinaryReplyLimit},
    {Command::GetDccT1, "B30", false, kOrdinaryReplyLimit},
    {Command::GetDccE1, "B31", false, kOrdinaryReplyLimit},
    {Command::GetDccEthernet, "B32", false, kEthernetReplyLimit},
    {Command::GetDccHostName, "B33", false, kEthernetReplyLimit},
    {Command::GetDccDomain, "B34", false, kEthernetReplyLimit},
}};
// clang-format on

namespace detail {
constexpr bool InEnumOrder() {
    for (std::size_t i = 0; i < kCommands.size(); ++i) {
        if (static_cast<std::size_t>(kCommands[i].command) != i || kCommands[i].code == nullptr) {
            return false;
        }
    }
    return true;
}
constexpr bool CodesDistinctAndWellFormed() {
    for (std::size_t i = 0; i < kCommands.size(); ++i) {
        if (std::string_view(kCommands[i].code).size() != 3) {
            return false;
        }
        for (std::size_t j = 0; j < i; ++j) {
            if (std::string_view(kCommands[i].code) == kCommands[j].code) {
                return false;
            }
        }
    }
    return true;
}
}  // namespace detail
// Every command has exactly one row, at its own index (a missing row would leave an empty one at
// the end), so the lookups below are plain indexing.
static_assert(detail::InEnumOrder());
static_assert(detail::CodesDistinctAndWellFormed());

constexpr const CommandSpec& Spec(Command command) {
    return kCommands[static_cast<std::size_t>(command)];
}
constexpr const char* CommandCode(Command command) {
    return Spec(command).code;
}
constexpr int ReplyLimit(Command command) {
    return Spec(command).replyLimit;
}

// The command with this code; nullopt for a code the instrument does not know.
constexpr std::optional<Command> CommandForCode(std::string_view code) {
    for (const CommandSpec& spec : kCommands) {
        if (code == spec.code) {
            return spec.command;
        }
    }
    return std::nullopt;
}

// True for a code a set user password guards.
constexpr bool IsProtectedCommand(std::string_view code) {
    const auto command = CommandForCode(code);
    return command && Spec(*command).isProtected;
}

}  // namespace corvane3
