#include "core/poll/CommandCatalogue.h"

#include <array>

#include "core/link/CommandCodes.h"
#include "core/link/CommandFrame.h"
#include "core/link/Notification.h"
#include "core/link/TolvexLink.h"

namespace corvane3 {

namespace {

// The names and descriptions are shown to the user as they stand. Input lengths and pictures
// only describe the expected input (some do not match their default) and are never enforced.
// clang-format off
constexpr std::array<CatalogueRow, kCatalogueRowCount> kCatalogue{{
    {CommandCode(ECommand::kResetAlarms), "Reset Alarms",
     "Reset the stored alarms data",
     0, "", ""},
    {CommandCode(ECommand::kSetUserFrequencyOffset), "Set User Frequency Offset",
     " add parts e-15 frequency offset to the output",
     7, "snnnnn", "+000000"},
    {CommandCode(ECommand::kBeginTimeUpdating), "Begin Time Updating",
     "slew output phase by K nanoseconds, 1ns/s",
     5, "snnnn", "+0000"},
    {CommandCode(ECommand::kResetTimeUpdating), "Reset Time Updating",
     "stop moving output phase",
     0, "", ""},
    {CommandCode(ECommand::kDisableCFieldServo), "Disable CField Servo",
     "disable C-Field tuning",
     0, "", ""},
    {CommandCode(ECommand::kEnableCFieldServo), "Enable CField Servo",
     "enable C-Field Tuning",
     0, "", ""},
    {CommandCode(ECommand::kSetTtlOutputFrequency), "(7730) Set the TTL output Frequency",
     "Set the TTL output Frequency (7730b)\n   1=100KHz\n   2=1MHz\n   3=5MHz\n   4=10MHz",
     1, "1", "1"},
    {CommandCode(ECommand::kDayAndTimeEntry), "Day And Time Entry",
     "obsolete",
     9, "dddhhmmss", "000120000"},
    {CommandCode(ECommand::kFilterOrderAndTimeConstant), "Filter Order and TC",
     "Set VCXO Servo Filter Order And Time Constant",
     5, "n n.nn", "2 1.33"},
    {CommandCode(ECommand::kTemporaryFrequencyOffset), "Temp Freq Offset",
     "Set Temporary Frequency Offset (parts e-15)",
     7, "snnnnn", "+000000"},
    {CommandCode(ECommand::kMute), "Mute",
     "Mute 10mhz output signal",
     0, "", ""},
    {CommandCode(ECommand::kUnmute), "UnMute",
     "Restore 10mhz output signal",
     0, "", ""},
    {CommandCode(ECommand::kMuteOverride), "Mute Override",
     "restore signal without affecting mute flag",
     0, "", ""},
    {CommandCode(ECommand::kSetExternalAlarm), "Set External Alarm",
     "Set the Alarm LEDs and Relays 1=minor 2=major",
     1, "1", "1"},
    {CommandCode(ECommand::kClearInternalAlarms), "Clear Internal Alarms",
     "Clear Internal Alarms, does not reset External Alarms",
     0, "", ""},
    {CommandCode(ECommand::kAlarmRelayCutOff), "AlarmRelayCutOff",
     " turn off the alarm relay",
     0, "", ""},
    {CommandCode(ECommand::kClearEventLog), "Clear Event Log",
     "reset the event log",
     0, "", ""},
    {CommandCode(ECommand::kPpsSyncEnable), "PPS Sync Enable",
     "1 PPS Sync Enable",
     0, "", ""},
    {CommandCode(ECommand::kRemoteOn), "Remote On",
     "Remote Control On (obsolete)",
     0, "", ""},
    {CommandCode(ECommand::kReportVariables), "Report Variables",
     "250 chars of status info",
     0, "", ""},
    {CommandCode(ECommand::kReportConstants), "Report Constants",
     "120 chars of status info",
     0, "", ""},
    {CommandCode(ECommand::kRetrieveEventLog), "Retrieve Event Log",
     "FIFO event log",
     0, "", ""},
    {CommandCode(ECommand::kReportExtendedStatus), "Report Extended Status",
     "high resolution status info",
     0, "", ""},
    {CommandCode(ECommand::kReportNvram), "Report nvram",
     "Non volatile Memory",
     0, "", ""},
    {CommandCode(ECommand::kRetrieveFactoryEventLog), "Retrieve Factory Event Log",
     "FACTORY event log",
     0, "", ""},
    {CommandCode(ECommand::kRamseyOnly), "RamseyOnly",
     "Set Clock Servo Only Mode",
     1, "n", "1"},
    {CommandCode(ECommand::kVcxoServo), "VCXO Servo",
     "Control VCXOServo (1 = enabled, 0 = disabled)",
     1, "n", "0"},
    {CommandCode(ECommand::kCFieldServo), "C-Field Servo",
     "ControlCFieldServo (1 = enabled, 0 = disabled)",
     1, "n", "0"},
    {CommandCode(ECommand::kMicrowaveServo), "Microwave Servo",
     "ControlMicrowavePwrServo (1 = enabled, 0 = disabled)",
     1, "n", "0"},
    {CommandCode(ECommand::kGainServo), "Gain Servo",
     "Control signal gain servo (1 = enabled, 0 = disabled)",
     1, "n", "0"},
    {CommandCode(ECommand::kSetVcxoControlVoltage), "Set_VCXO_CV",
     "Set the VCXO control voltage directly",
     10, "F", "+1.0000043"},
    {CommandCode(ECommand::kSetGains), "Set_Gains",
     "Set the Numeric and Hardware Gain directly",
     5, "H,F", "4,1.424"},
    {CommandCode(ECommand::kSetCFieldControlVoltage), "Set_CField_CV",
     "Set the C-Field control voltage directly",
     10, "F", "+1.0000041"},
    {CommandCode(ECommand::kSetMicrowavePower), "Set_Microwave Power",
     "Set the Microwave Attenuator control voltage directly",
     10, "F", "+1.0000042"},
    {CommandCode(ECommand::kSetUnitId), "UnitID",
     "Set Unit Id (5 digits)",
     5, "nnnnn", "01010"},
    {CommandCode(ECommand::kSetNominals), "Nominals",
     "Set Nominals",
     0, "", ""},
    {CommandCode(ECommand::kReportVersion), "Version",
     "Report embedded firmware build number",
     0, "", ""},
    {CommandCode(ECommand::kSetLanguage), "Language",
     "Set Interface language (e=english, f=french, d=german)",
     1, "a", "e"},
    {CommandCode(ECommand::kSetSerialParameters), "Serial Parameters",
     "Set Serial Port Parameters (baud,data bits,parity, stop bits)",
     9, "0nnnn,n,a", "19200,8,n,1"},
    {CommandCode(ECommand::kSetTolvexMessage), "Tolvex Message",
     "Set Tolvex Message",
     9, "aaaaaaaaa", "---------"},
    {CommandCode(ECommand::kSetZeemanRabiTilt), "Zeeman Rabi Tilt",
     "Set NVRAM Zeeman Rabi Tilt\n(sign + 4 digits)",
     5, "aaaaa", "+0000"},
    {CommandCode(ECommand::kClearPassword), "Clear Password",
     "Disable User Security",
     0, "", ""},
    {CommandCode(ECommand::kGetSecurityStatus), "Get Security Status",
     "0 if security is disabled; 1 otherwise",
     0, "", ""},
    {CommandCode(ECommand::kTestMode1), "Test Mode 1",
     "Test Mode1 DAC to ADC loopback ( 0= end test, 1 = do test)",
     1, "n", "0"},
    {CommandCode(ECommand::kTestMode2), "Test Mode 2",
     "Test Mode2 DDS tests ( 0= end test, 1-9 = do test)",
     1, "n", "0"},
    {CommandCode(ECommand::kTestMode3), "Test Mode 3",
     "Test Mode3 Gain DAC test ( 0= end test 1-255 = set dac)",
     1, "n", "0"},
    {CommandCode(ECommand::kSingleDdsPoint), "Single Point DDS",
     "off=restart clock\n?=repeat last interrogation\n entering a 12 digit hex frequency performs an interrogation ",
     12, "nnnnnnnnnnnn", "47DC59E511F8"},
    {CommandCode(ECommand::kDdsSweep), "Sweep",
     "Control DDS (start, increment, number of steps)",
     30, "aaaaaaaaaaaa,aaaaaaaaaaaa,nnnn", "47DC59E511F8,000000000001,0099"},
    {CommandCode(ECommand::kSetDate), "Set Date",
     "Set Date (month, day, year)",
     8, "mm/dd/yy", "01/01/00"},
    {CommandCode(ECommand::kSetTime), "Set Time",
     "Set Time (hour, minute, second)",
     8, "hh,mm,ss", "12:00:00"},
    {CommandCode(ECommand::kGetDateAndTime), "Get Date & Time",
     "Report Date And Time",
     0, "", ""},
    {CommandCode(ECommand::kSetDaylightSavings), "Set DaylightSavings",
     "Set Daylight Savings Mode (1 = adjust for daylight savings, 0 = don't adjust)",
     1, "n", "0"},
    {CommandCode(ECommand::kGetDaylightSavings), "Get Daylight Savings",
     "Report Daylight Savings Mode",
     0, "", ""},
    {CommandCode(ECommand::kArmLeapSecond), "Arm Leap Sec",
     "Leap Second (1 = insert at next interval, 0 = don't insert at next interval)",
     1, "n", "0"},
    {CommandCode(ECommand::kGetLeapSecondStatus), "Leap Sec Status",
     "Report Leap Second Status",
     0, "", ""},
    {CommandCode(ECommand::kSetPowerOnHours), "Set POH",
     "Set Power On Hours",
     8, "nnnnn", "2000"},
    {CommandCode(ECommand::kGetPowerOnHours), "Get POH",
     "Report Power On Hours",
     0, "", ""},
    {CommandCode(ECommand::kSetResponseMode), "Set ResponseMode",
     "Set ResponseMode Mode (0 = no debug messages, 1 = debug messages enabled",
     1, "n", "0"},
    {CommandCode(ECommand::kResetNvram), "Reset NVRAM",
     "Reset NVRAM",
     0, "", ""},
    {CommandCode(ECommand::kSetManufacturingDate), "Set Manuf Date",
     "Set Manufacturing Date (MM/DD/YY)",
     8, "mm/dd/yy", "01/01/00"},
    {CommandCode(ECommand::kSetRestartFaultLevel), "Set Restart Fault Level",
     "Restart Fault Level",
     1, "n", "0"},
    {CommandCode(ECommand::kGetBiuId), "Get BIU ID",
     "Returns the contents of the BIU register",
     0, "", ""},
    {CommandCode(ECommand::kSetE1PatternGenerator), "Set E1 pattern generator",
     "Configure the E1 Framing pattern Generator chip",
     1, "4,4,0010", "0"},
    {CommandCode(ECommand::kSetT1PatternGenerator), "Set T1 pattern generator",
     "Configure the T1 Framing pattern Generator chip",
     1, "2,2", "0"},
    {CommandCode(ECommand::kSetTelecomOutput), "Set Telecom Output",
     "Program a Telecom Output Channel",
     1, "n", "0"},
    {CommandCode(ECommand::kGetOutlierCounts), "Get Burps",
     "Get CBT Burps and OCXO Hops",
     0, "", ""},
    {CommandCode(ECommand::kSetDccTime), "Set Tq9000 DCC Time",
     "Set Tq9000 DCC Time in seconds since the epoch (00:00:00 UTC, January 1, 1970)",
     10, "0000000000", "0000000000"},
    {CommandCode(ECommand::kGetDccTime), "Get Tq9000 DCC Time",
     "Get Tq9000 DCC Time in seconds since the epoch (00:00:00 UTC, January 1, 1970)",
     0, "", ""},
    {CommandCode(ECommand::kAdjustDccTime), "Adjust Tq9000 DCC Time",
     "Add/subtract seconds from Tq9000 DCC Time",
     6, "F", "+00000"},
    {CommandCode(ECommand::kSetDccT1), "Set Tq9000 T1",
     "Set Tq9000 T1 Output",
     6, "ES SSM", "ES SSM"},
    {CommandCode(ECommand::kSetDccE1), "Set Tq9000 E1",
     "Set Tq9000 E1 Output",
     6, "ES SSM", "ES SSM"},
    {CommandCode(ECommand::kSetDccEthernet), "Set Tq9000 Ethernet",
     "Set Tq9000 Ethernet Settings",
     51, "EtherEnable DHCPEnable IP Netmask Gateway", "1 0 172.016.024.084 172.016.255.255 172.016.024.012"},
    {CommandCode(ECommand::kGetDccStatus), "Get Tq9000 Specific Status Data",
     "Retrieve Tq9000 Specific Status Data",
     0, "", ""},
    {CommandCode(ECommand::kGetDccFirmwareVersion), "Get Tq9000 DCC Firmware Version",
     "Retrieve Tq9000 DCC Firmware Version",
     0, "", ""},
    {CommandCode(ECommand::kGetDccT1), "Get Tq9000 T1",
     "Retrieve Tq9000 T1 Settings",
     0, "", ""},
    {CommandCode(ECommand::kGetDccE1), "Get Tq9000 E1",
     "Retrieve Tq9000 T1 Settings",
     0, "", ""},
    {CommandCode(ECommand::kGetDccEthernet), "Get Tq9000 Ethernet",
     "Get Tq9000 Ethernet Settings",
     0, "", ""},
}};
// clang-format on
// A missing row would leave an empty one at the end of the array.
static_assert(!kCatalogue.back().code.empty() && !kCatalogue.back().name.empty());

// Where the echo of the parameter field sits in a reply line (the STX is not part of the line):
// code, blank, then the five-character field.
constexpr std::size_t kEchoFieldStart = kCodeWidth + 1;
constexpr char kZeroParameterField[] = "00000";

void AddLine(std::vector<std::string>& lines, std::string& line, const std::string& factoryField) {
    if (line.size() >= kEchoFieldStart + kParameterFieldWidth &&
        line.compare(kEchoFieldStart, kParameterFieldWidth, factoryField) == 0) {
        line.replace(kEchoFieldStart, kParameterFieldWidth, kZeroParameterField);
    }
    lines.push_back(std::move(line));
    line.clear();
}

// The input as it is sent: its first kCatalogueInputLimit characters without STX and ETX,
// which would start the frame again or end it early at the unit.
std::string SentInput(std::string_view input) {
    std::string sent;
    for (const char c : input.substr(0, kCatalogueInputLimit)) {
        if (c != kStx && c != kEtx) {
            sent += c;
        }
    }
    return sent;
}

}  // namespace

std::span<const CatalogueRow> CommandCatalogue() {
    return kCatalogue;
}

std::uint32_t CatalogueParameter(std::int32_t modelCode) {
    return modelCode == kFactoryAccessModel ? kFactoryAccessOption : 0;
}

MailboxCommand CatalogueCommand(const CatalogueRow& row, std::string_view input,
                                std::uint32_t parameter) {
    MailboxCommand command;
    command.code = row.code;
    if (row.TakesInput()) {
        command.data = SentInput(input);
    }
    command.parameter = parameter;
    command.replyLimit = kCatalogueReplyLimit;
    command.notificationCode = kNotifyCatalogueReply;
    return command;
}

std::string CatalogueEchoLine(const CatalogueRow& row, std::string_view input) {
    std::string line(row.code);
    line += ' ';
    line += kZeroParameterField;
    line += ' ';
    if (row.TakesInput()) {
        line += SentInput(input);
    }
    return line;
}

bool SendCatalogueCommand(CCommandMailbox& mailbox, const CatalogueRow& row, std::string_view input,
                          std::int32_t modelCode) {
    return mailbox.TrySend(CatalogueCommand(row, input, CatalogueParameter(modelCode)));
}

std::vector<std::string> ReplyLines(std::string_view response, std::size_t replyLimit) {
    std::vector<std::string> lines;
    if (response.empty()) {
        return lines;
    }
    const std::string factoryField = FactoryAccessField();
    const std::string_view walked = response.substr(0, replyLimit);
    std::string line;
    for (const char c : walked) {
        if (c == kStx || c == kLf) {
            continue;
        }
        if (c == kCr) {
            AddLine(lines, line, factoryField);
            continue;
        }
        if (c == '\0' || c == kEtx) {
            AddLine(lines, line, factoryField);
            return lines;
        }
        if (line.size() >= kReplyLineLimit) {
            AddLine(lines, line, factoryField);
        }
        line += c;
    }
    // The reply ended without ETX (the text or the limit ran out): the line in progress is
    // still part of what the unit sent, so it is shown rather than dropped.
    AddLine(lines, line, factoryField);
    return lines;
}

}  // namespace corvane3
