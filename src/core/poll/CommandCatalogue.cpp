#include "core/poll/CommandCatalogue.h"

#include <array>

#include "core/link/CommandFrame.h"
#include "core/link/Notification.h"
#include "core/link/TolvexLink.h"

namespace corvane3 {

namespace {

// The names and descriptions are shown to the user as they stand. Input lengths and pictures
// only describe the expected input (some do not match their default) and are never enforced.
// clang-format off
constexpr std::array<CatalogueRow, kCatalogueRowCount> kCatalogue{{
    {"W00", "Reset Alarms",
     "Reset the stored alarms data",
     0, "", ""},
    {"W01", "Set User Frequency Offset",
     " add parts e-15 frequency offset to the output",
     7, "snnnnn", "+000000"},
    {"W03", "Begin Time Updating",
     "slew output phase by K nanoseconds, 1ns/s",
     5, "snnnn", "+0000"},
    {"W04", "Reset Time Updating",
     "stop moving output phase",
     0, "", ""},
    {"W05", "Disable CField Servo",
     "disable C-Field tuning",
     0, "", ""},
    {"W06", "Enable CField Servo",
     "enable C-Field Tuning",
     0, "", ""},
    {"W07", "(7730) Set the TTL output Frequency",
     "Set the TTL output Frequency (7730b)\n   1=100KHz\n   2=1MHz\n   3=5MHz\n   4=10MHz",
     1, "1", "1"},
    {"W08", "Day And Time Entry",
     "obsolete",
     9, "dddhhmmss", "000120000"},
    {"W10", "Filter Order and TC",
     "Set VCXO Servo Filter Order And Time Constant",
     5, "n n.nn", "2 1.33"},
    {"W11", "Temp Freq Offset",
     "Set Temporary Frequency Offset (parts e-15)",
     7, "snnnnn", "+000000"},
    {"W12", "Mute",
     "Mute 10mhz output signal",
     0, "", ""},
    {"W13", "UnMute",
     "Restore 10mhz output signal",
     0, "", ""},
    {"W14", "Mute Override",
     "restore signal without affecting mute flag",
     0, "", ""},
    {"W15", "Set External Alarm",
     "Set the Alarm LEDs and Relays 1=minor 2=major",
     1, "1", "1"},
    {"W16", "Clear Internal Alarms",
     "Clear Internal Alarms, does not reset External Alarms",
     0, "", ""},
    {"W17", "AlarmRelayCutOff",
     " turn off the alarm relay",
     0, "", ""},
    {"W18", "Clear Event Log",
     "reset the event log",
     0, "", ""},
    {"W22", "PPS Sync Enable",
     "1 PPS Sync Enable",
     0, "", ""},
    {"T*2", "Remote On",
     "Remote Control On (obsolete)",
     0, "", ""},
    {"D*1", "Report Variables",
     "250 chars of status info",
     0, "", ""},
    {"D*2", "Report Constants",
     "120 chars of status info",
     0, "", ""},
    {"D*3", "Retrieve Event Log",
     "FIFO event log",
     0, "", ""},
    {"D*4", "Report Extended Status",
     "high resolution status info",
     0, "", ""},
    {"D*5", "Report nvram",
     "Non volatile Memory",
     0, "", ""},
    {"D*6", "Retrieve Factory Event Log",
     "FACTORY event log",
     0, "", ""},
    {"S01", "RamseyOnly",
     "Set Clock Servo Only Mode",
     1, "n", "1"},
    {"S02", "VCXO Servo",
     "Control VCXOServo (1 = enabled, 0 = disabled)",
     1, "n", "0"},
    {"S03", "C-Field Servo",
     "ControlCFieldServo (1 = enabled, 0 = disabled)",
     1, "n", "0"},
    {"S04", "Microwave Servo",
     "ControlMicrowavePwrServo (1 = enabled, 0 = disabled)",
     1, "n", "0"},
    {"S05", "Gain Servo",
     "Control signal gain servo (1 = enabled, 0 = disabled)",
     1, "n", "0"},
    {"S06", "Set_VCXO_CV",
     "Set the VCXO control voltage directly",
     10, "F", "+1.0000043"},
    {"S07", "Set_Gains",
     "Set the Numeric and Hardware Gain directly",
     5, "H,F", "4,1.424"},
    {"S08", "Set_CField_CV",
     "Set the C-Field control voltage directly",
     10, "F", "+1.0000041"},
    {"S09", "Set_Microwave Power",
     "Set the Microwave Attenuator control voltage directly",
     10, "F", "+1.0000042"},
    {"C01", "UnitID",
     "Set Unit Id (5 digits)",
     5, "nnnnn", "01010"},
    {"C02", "Nominals",
     "Set Nominals",
     0, "", ""},
    {"C03", "Version",
     "Report embedded firmware build number",
     0, "", ""},
    {"C04", "Language",
     "Set Interface language (e=english, f=french, d=german)",
     1, "a", "e"},
    {"C05", "Serial Parameters",
     "Set Serial Port Parameters (baud,data bits,parity, stop bits)",
     9, "0nnnn,n,a", "19200,8,n,1"},
    {"C06", "Tolvex Message",
     "Set Tolvex Message",
     9, "aaaaaaaaa", "---------"},
    {"C07", "Zeeman Rabi Tilt",
     "Set NVRAM Zeeman Rabi Tilt\n(sign + 4 digits)",
     5, "aaaaa", "+0000"},
    {"C09", "Clear Password",
     "Disable User Security",
     0, "", ""},
    {"C10", "Get Security Status",
     "0 if security is disabled; 1 otherwise",
     0, "", ""},
    {"A01", "Test Mode 1",
     "Test Mode1 DAC to ADC loopback ( 0= end test, 1 = do test)",
     1, "n", "0"},
    {"A02", "Test Mode 2",
     "Test Mode2 DDS tests ( 0= end test, 1-9 = do test)",
     1, "n", "0"},
    {"A03", "Test Mode 3",
     "Test Mode3 Gain DAC test ( 0= end test 1-255 = set dac)",
     1, "n", "0"},
    {"A04", "Single Point DDS",
     "off=restart clock\n?=repeat last interrogation\n entering a 12 digit hex frequency performs an interrogation ",
     12, "nnnnnnnnnnnn", "47DC59E511F8"},
    {"A05", "Sweep",
     "Control DDS (start, increment, number of steps)",
     30, "aaaaaaaaaaaa,aaaaaaaaaaaa,nnnn", "47DC59E511F8,000000000001,0099"},
    {"A06", "Set Date",
     "Set Date (month, day, year)",
     8, "mm/dd/yy", "01/01/00"},
    {"A07", "Set Time",
     "Set Time (hour, minute, second)",
     8, "hh,mm,ss", "12:00:00"},
    {"A08", "Get Date & Time",
     "Report Date And Time",
     0, "", ""},
    {"A09", "Set DaylightSavings",
     "Set Daylight Savings Mode (1 = adjust for daylight savings, 0 = don't adjust)",
     1, "n", "0"},
    {"A10", "Get Daylight Savings",
     "Report Daylight Savings Mode",
     0, "", ""},
    {"A11", "Arm Leap Sec",
     "Leap Second (1 = insert at next interval, 0 = don't insert at next interval)",
     1, "n", "0"},
    {"A12", "Leap Sec Status",
     "Report Leap Second Status",
     0, "", ""},
    {"A13", "Set POH",
     "Set Power On Hours",
     8, "nnnnn", "2000"},
    {"A14", "Get POH",
     "Report Power On Hours",
     0, "", ""},
    {"A15", "Set ResponseMode",
     "Set ResponseMode Mode (0 = no debug messages, 1 = debug messages enabled",
     1, "n", "0"},
    {"A16", "Reset NVRAM",
     "Reset NVRAM",
     0, "", ""},
    {"A17", "Set Manuf Date",
     "Set Manufacturing Date (MM/DD/YY)",
     8, "mm/dd/yy", "01/01/00"},
    {"A18", "Set Restart Fault Level",
     "Restart Fault Level",
     1, "n", "0"},
    {"A19", "Get BIU ID",
     "Returns the contents of the BIU register",
     0, "", ""},
    {"A20", "Set E1 pattern generator",
     "Configure the E1 Framing pattern Generator chip",
     1, "4,4,0010", "0"},
    {"A21", "Set T1 pattern generator",
     "Configure the T1 Framing pattern Generator chip",
     1, "2,2", "0"},
    {"A22", "Set Telecom Output",
     "Program a Telecom Output Channel",
     1, "n", "0"},
    {"A24", "Get Burps",
     "Get CBT Burps and OCXO Hops",
     0, "", ""},
    {"B01", "Set Tq9000 DCC Time",
     "Set Tq9000 DCC Time in seconds since the epoch (00:00:00 UTC, January 1, 1970)",
     10, "0000000000", "0000000000"},
    {"B02", "Get Tq9000 DCC Time",
     "Get Tq9000 DCC Time in seconds since the epoch (00:00:00 UTC, January 1, 1970)",
     0, "", ""},
    {"B03", "Adjust Tq9000 DCC Time",
     "Add/subtract seconds from Tq9000 DCC Time",
     6, "F", "+00000"},
    {"B10", "Set Tq9000 T1",
     "Set Tq9000 T1 Output",
     6, "ES SSM", "ES SSM"},
    {"B11", "Set Tq9000 E1",
     "Set Tq9000 E1 Output",
     6, "ES SSM", "ES SSM"},
    {"B12", "Set Tq9000 Ethernet",
     "Set Tq9000 Ethernet Settings",
     51, "EtherEnable DHCPEnable IP Netmask Gateway", "1 0 172.016.024.084 172.016.255.255 172.016.024.012"},
    {"B20", "Get Tq9000 Specific Status Data",
     "Retrieve Tq9000 Specific Status Data",
     0, "", ""},
    {"B21", "Get Tq9000 DCC Firmware Version",
     "Retrieve Tq9000 DCC Firmware Version",
     0, "", ""},
    {"B30", "Get Tq9000 T1",
     "Retrieve Tq9000 T1 Settings",
     0, "", ""},
    {"B31", "Get Tq9000 E1",
     "Retrieve Tq9000 T1 Settings",
     0, "", ""},
    {"B32", "Get Tq9000 Ethernet",
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
