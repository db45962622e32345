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

enum class ECommand {
    kResetAlarms,                 // W00
    kSetUserFrequencyOffset,      // W01
    kBeginTimeUpdating,           // W03
    kResetTimeUpdating,           // W04
    kDisableCFieldServo,          // W05
    kEnableCFieldServo,           // W06
    kSetTtlOutputFrequency,       // W07
    kDayAndTimeEntry,             // W08
    kFilterOrderAndTimeConstant,  // W10
    kTemporaryFrequencyOffset,    // W11
    kMute,                        // W12
    kUnmute,                      // W13
    kMuteOverride,                // W14
    kSetExternalAlarm,            // W15
    kClearInternalAlarms,         // W16
    kAlarmRelayCutOff,            // W17
    kClearEventLog,               // W18
    kPpsSyncEnable,               // W22
    kRemoteOn,                    // T*2
    kReportVariables,             // D*1
    kReportConstants,             // D*2
    kRetrieveEventLog,            // D*3
    kReportExtendedStatus,        // D*4
    kReportNvram,                 // D*5
    kRetrieveFactoryEventLog,     // D*6
    kRamseyOnly,                  // S01
    kVcxoServo,                   // S02
    kCFieldServo,                 // S03
    kMicrowaveServo,              // S04
    kGainServo,                   // S05
    kSetVcxoControlVoltage,       // S06
    kSetGains,                    // S07
    kSetCFieldControlVoltage,     // S08
    kSetMicrowavePower,           // S09
    kSetUnitId,                   // C01
    kSetNominals,                 // C02
    kReportVersion,               // C03
    kSetLanguage,                 // C04
    kSetSerialParameters,         // C05
    kSetTolvexMessage,            // C06
    kSetZeemanRabiTilt,           // C07
    kSetPassword,                 // C08
    kClearPassword,               // C09
    kGetSecurityStatus,           // C10
    kTestMode1,                   // A01
    kTestMode2,                   // A02
    kTestMode3,                   // A03
    kSingleDdsPoint,              // A04
    kDdsSweep,                    // A05
    kSetDate,                     // A06
    kSetTime,                     // A07
    kGetDateAndTime,              // A08
    kSetDaylightSavings,          // A09
    kGetDaylightSavings,          // A10
    kArmLeapSecond,               // A11
    kGetLeapSecondStatus,         // A12
    kSetPowerOnHours,             // A13
    kGetPowerOnHours,             // A14
    kSetResponseMode,             // A15
    kResetNvram,                  // A16
    kSetManufacturingDate,        // A17
    kSetRestartFaultLevel,        // A18
    kGetBiuId,                    // A19
    kSetE1PatternGenerator,       // A20
    kSetT1PatternGenerator,       // A21
    kSetTelecomOutput,            // A22
    kGetOutlierCounts,            // A24
    kSetDccTime,                  // B01
    kGetDccTime,                  // B02
    kAdjustDccTime,               // B03
    kSetDccT1,                    // B10
    kSetDccE1,                    // B11
    kSetDccEthernet,              // B12
    kGetDccStatus,                // B20
    kGetDccFirmwareVersion,       // B21
    kGetDccT1,                    // B30
    kGetDccE1,                    // B31
    kGetDccEthernet,              // B32
    kGetDccHostName,              // B33
    kGetDccDomain,                // B34
};

// Reply limits of the table, besides the link's: an echo and a word or two ("OK", "!"), a short
// text, and replies that may run to several lines.
inline constexpr int kEchoReplyLimit = 32;
inline constexpr int kShortReplyLimit = 64;
inline constexpr int kLongReplyLimit = 1024;

struct CommandEntry {
    ECommand command;
    const char* code;  // three characters, written into the frame
    bool isProtected;  // refused without the user password once one is set
    // What the program reads of the reply when it sends the command on its own (a dialog, a
    // poll). The command list reads every reply with kCatalogueReplyLimit, and the Test and
    // Diagnostics dialog every reply with kDiagnosticsReplyLimit, whatever the command.
    int replyLimit;
};

// kGetDccDomain is the last command.
inline constexpr std::size_t kCommandCount = static_cast<std::size_t>(ECommand::kGetDccDomain) + 1;

// clang-format off
inline constexpr std::array<CommandEntry, kCommandCount> kCommands{{
    // An echo and a short text: a tighter limit would cut the reply and count the reset as failed.
    {ECommand::kResetAlarms, "W00", false, kOrdinaryReplyLimit},
    {ECommand::kSetUserFrequencyOffset, "W01", false, kShortReplyLimit},
    {ECommand::kBeginTimeUpdating, "W03", false, kLongReplyLimit},
    {ECommand::kResetTimeUpdating, "W04", false, kLongReplyLimit},
    {ECommand::kDisableCFieldServo, "W05", false, kOrdinaryReplyLimit},
    {ECommand::kEnableCFieldServo, "W06", false, kOrdinaryReplyLimit},
    {ECommand::kSetTtlOutputFrequency, "W07", false, kEchoReplyLimit},
    {ECommand::kDayAndTimeEntry, "W08", false, kOrdinaryReplyLimit},
    {ECommand::kFilterOrderAndTimeConstant, "W10", false, kShortReplyLimit},
    {ECommand::kTemporaryFrequencyOffset, "W11", false, kOrdinaryReplyLimit},
    {ECommand::kMute, "W12", false, kOrdinaryReplyLimit},
    {ECommand::kUnmute, "W13", false, kOrdinaryReplyLimit},
    {ECommand::kMuteOverride, "W14", false, kOrdinaryReplyLimit},
    {ECommand::kSetExternalAlarm, "W15", false, kOrdinaryReplyLimit},
    {ECommand::kClearInternalAlarms, "W16", false, kOrdinaryReplyLimit},
    {ECommand::kAlarmRelayCutOff, "W17", false, kOrdinaryReplyLimit},
    {ECommand::kClearEventLog, "W18", true, kEchoReplyLimit},
    {ECommand::kPpsSyncEnable, "W22", false, kEchoReplyLimit},
    {ECommand::kRemoteOn, "T*2", false, kOrdinaryReplyLimit},
    {ECommand::kReportVariables, "D*1", false, kOrdinaryReplyLimit},
    {ECommand::kReportConstants, "D*2", false, kOrdinaryReplyLimit},
    {ECommand::kRetrieveEventLog, "D*3", false, kEventLogReplyLimit},
    {ECommand::kReportExtendedStatus, "D*4", false, kOrdinaryReplyLimit},
    {ECommand::kReportNvram, "D*5", false, kOrdinaryReplyLimit},
    {ECommand::kRetrieveFactoryEventLog, "D*6", false, kEventLogReplyLimit},
    {ECommand::kRamseyOnly, "S01", false, kOrdinaryReplyLimit},
    {ECommand::kVcxoServo, "S02", false, kOrdinaryReplyLimit},
    {ECommand::kCFieldServo, "S03", false, kOrdinaryReplyLimit},
    {ECommand::kMicrowaveServo, "S04", false, kOrdinaryReplyLimit},
    {ECommand::kGainServo, "S05", false, kOrdinaryReplyLimit},
    {ECommand::kSetVcxoControlVoltage, "S06", false, kOrdinaryReplyLimit},
    {ECommand::kSetGains, "S07", false, kOrdinaryReplyLimit},
    {ECommand::kSetCFieldControlVoltage, "S08", false, kOrdinaryReplyLimit},
    {ECommand::kSetMicrowavePower, "S09", false, kOrdinaryReplyLimit},
    {ECommand::kSetUnitId, "C01", false, kShortReplyLimit},
    {ECommand::kSetNominals, "C02", false, kShortReplyLimit},
    {ECommand::kReportVersion, "C03", false, kOrdinaryReplyLimit},
    {ECommand::kSetLanguage, "C04", false, kOrdinaryReplyLimit},
    {ECommand::kSetSerialParameters, "C05", true, kLongReplyLimit},
    {ECommand::kSetTolvexMessage, "C06", false, kOrdinaryReplyLimit},
    {ECommand::kSetZeemanRabiTilt, "C07", false, kShortReplyLimit},
    {ECommand::kSetPassword, "C08", true, kShortReplyLimit},
    {ECommand::kClearPassword, "C09", true, kShortReplyLimit},
    {ECommand::kGetSecurityStatus, "C10", false, kOrdinaryReplyLimit},
    {ECommand::kTestMode1, "A01", false, kShortReplyLimit},
    {ECommand::kTestMode2, "A02", false, kShortReplyLimit},
    {ECommand::kTestMode3, "A03", false, kShortReplyLimit},
    {ECommand::kSingleDdsPoint, "A04", false, kOrdinaryReplyLimit},
    {ECommand::kDdsSweep, "A05", false, kShortReplyLimit},
    {ECommand::kSetDate, "A06", true, kEchoReplyLimit},
    {ECommand::kSetTime, "A07", true, kEchoReplyLimit},
    {ECommand::kGetDateAndTime, "A08", false, kOrdinaryReplyLimit},
    {ECommand::kSetDaylightSavings, "A09", false, kOrdinaryReplyLimit},
    {ECommand::kGetDaylightSavings, "A10", false, kOrdinaryReplyLimit},
    {ECommand::kArmLeapSecond, "A11", false, kOrdinaryReplyLimit},
    {ECommand::kGetLeapSecondStatus, "A12", false, kOrdinaryReplyLimit},
    {ECommand::kSetPowerOnHours, "A13", false, kShortReplyLimit},
    {ECommand::kGetPowerOnHours, "A14", false, kOrdinaryReplyLimit},
    {ECommand::kSetResponseMode, "A15", false, kOrdinaryReplyLimit},
    {ECommand::kResetNvram, "A16", false, kOrdinaryReplyLimit},
    {ECommand::kSetManufacturingDate, "A17", false, kShortReplyLimit},
    {ECommand::kSetRestartFaultLevel, "A18", false, kShortReplyLimit},
    {ECommand::kGetBiuId, "A19", false, kOrdinaryReplyLimit},
    {ECommand::kSetE1PatternGenerator, "A20", true, kLongReplyLimit},
    {ECommand::kSetT1PatternGenerator, "A21", true, kLongReplyLimit},
    {ECommand::kSetTelecomOutput, "A22", true, kLongReplyLimit},
    {ECommand::kGetOutlierCounts, "A24", false, kOrdinaryReplyLimit},
    {ECommand::kSetDccTime, "B01", false, kLongReplyLimit},
    {ECommand::kGetDccTime, "B02", false, kOrdinaryReplyLimit},
    {ECommand::kAdjustDccTime, "B03", false, kShortReplyLimit},
    {ECommand::kSetDccT1, "B10", false, kLongReplyLimit},
    {ECommand::kSetDccE1, "B11", false, kLongReplyLimit},
    {ECommand::kSetDccEthernet, "B12", false, kShortReplyLimit},
    {ECommand::kGetDccStatus, "B20", false, kOrdinaryReplyLimit},
    {ECommand::kGetDccFirmwareVersion, "B21", false, kOrdinaryReplyLimit},
    {ECommand::kGetDccT1, "B30", false, kOrdinaryReplyLimit},
    {ECommand::kGetDccE1, "B31", false, kOrdinaryReplyLimit},
    {ECommand::kGetDccEthernet, "B32", false, kEthernetReplyLimit},
    {ECommand::kGetDccHostName, "B33", false, kEthernetReplyLimit},
    {ECommand::kGetDccDomain, "B34", false, kEthernetReplyLimit},
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

constexpr const CommandEntry& Entry(ECommand command) {
    return kCommands[static_cast<std::size_t>(command)];
}
constexpr const char* CommandCode(ECommand command) {
    return Entry(command).code;
}
constexpr int ReplyLimit(ECommand command) {
    return Entry(command).replyLimit;
}

// The command with this code; nullopt for a code the instrument does not know.
constexpr std::optional<ECommand> CommandForCode(std::string_view code) {
    for (const CommandEntry& entry : kCommands) {
        if (code == entry.code) {
            return entry.command;
        }
    }
    return std::nullopt;
}

// True for a code a set user password guards.
constexpr bool IsProtectedCommand(std::string_view code) {
    const auto command = CommandForCode(code);
    return command && Entry(*command).isProtected;
}

}  // namespace corvane3
