#pragma once
// What the installation and factory settings dialogs read from their entries and send to the
// unit: strict parsers for typed numbers, addresses and dates, the argument texts of the telecom,
// Ethernet and factory commands, and the judgement of a command's reply. No Qt here.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane3 {

// A whole decimal number, optionally signed, with blanks allowed around it and nothing else.
// nullopt for an empty text, trailing junk ("12ab") or a number beyond long.
std::optional<long> ParseWholeNumber(std::string_view text);

using Ipv4Octets = std::array<int, 4>;

// "a.b.c.d", blanks around it allowed: exactly four fields of one to three digits, each 0 to
// 255. An empty text is the cleared address 0.0.0.0. nullopt otherwise (a fifth field, an
// octet above 255, a letter, an empty field).
std::optional<Ipv4Octets> ParseIpv4Address(std::string_view text);
// "a.b.c.d" for showing; the empty text when all four are 0 (a cleared address).
std::string ShowIpv4Address(const Ipv4Octets& octets);

// The B12 argument: "%d %d " for the two check boxes, then "%03d.%03d.%03d.%03d " for the IP
// address, the netmask and the gateway, in that order.
std::string EthernetArgument(bool portEnabled, bool dhcp, const Ipv4Octets& ip,
                             const Ipv4Octets& netmask, const Ipv4Octets& gateway);

// True when the text has the form "mm/dd/yy" (eight characters, '/' at 2 and 5).
bool HasDateLayout(std::string_view text);
// True when a "mm/dd/yy" text names a day that exists (the year read as 2000 + yy).
bool IsExistingDate(std::string_view text);

// The loop time constant of the factory settings, in seconds, as the unit takes it.
inline constexpr double kMinLoopTimeConstant = 0.1;
inline constexpr double kMaxLoopTimeConstant = 99.99;
// The loop filter order W10 sets along with the time constant.
inline constexpr int kLoopFilterOrder = 1;

struct LoopTimeConstant {
    enum class ECorrection { kNone, kRaised, kLowered };
    double seconds = kMinLoopTimeConstant;  // within the unit's range
    ECorrection correction = ECorrection::kNone;
};
// The typed time constant: the number at the start of text, read as LeadingNumber reads it. One
// below the range, a text without a number and "nan" are raised to the minimum; one above it,
// "inf" too, is lowered to the maximum.
LoopTimeConstant ReadLoopTimeConstant(std::string_view text);
// The time constant as the entry shows it ("%4.2f").
std::string ShowLoopTimeConstant(double seconds);
// The W10 argument: the filter order, a blank and the time constant ("1 10.00").
std::string LoopTimeConstantArgument(double seconds);

// Tq9000 telecom list indexes, in the order of the dialog's lists.
struct Tq9000TelecomChoice {
    int e1Format = 0;     // 0 Basic E1, 1 CRC-4, 2 TS-16, 3 CRC-4 and TS16
    int e1Fault = 0;      // 0 MUTE, 1 SSM
    int e1SaChannel = 4;  // 4 ... 8
    int t1Format = 0;     // 0 ESF, 1 D4
    int t1Fault = 0;      // 0 SSM, 1 MUTE, 2 AIS
};
// "CRC4x TS16y " + "MUT "/"SSM " + "SSM%d", for B11.
std::string Tq9000E1Argument(const Tq9000TelecomChoice& choice);
// "ES "/"D4 " + "SSM"/"MUT"/"AIS", for B10.
std::string Tq9000T1Argument(const Tq9000TelecomChoice& choice);

// The ChronoBeam telecom settings the program remembers while it runs; zero means not chosen.
struct ChronoBeamOutputChannel {
    char type = 0;  // 'T' or 'E'
    char mode = 0;  // 'F' framed or 'C' clocked
    char line = 0;  // 'B' balanced or 'U' unbalanced
    int liu = 0;    // 0 ... 7
};
enum EChronoBeamE1Fault : int {
    kE1FaultCrc4 = 1,
    kE1FaultTs16 = 2,
    kE1FaultSsm = 4,
    kE1FaultMute = 8
};
enum EChronoBeamT1Fault : int { kT1FaultMute = 1, kT1FaultSsm = 2, kT1FaultAis = 3 };
struct ChronoBeamTelecomSettings {
    int e1Format = 0;     // 1 ... 4
    int e1SaChannel = 0;  // 4 ... 8
    int e1Fault = 0;      // a ChronoBeamE1Fault
    int t1Format = 0;     // 1 ... 3
    int t1Fault = 0;      // a ChronoBeamT1Fault
    std::array<ChronoBeamOutputChannel, 2> channels{};
};
// "%d,%d,%04x": E1 format, SA channel and the fault flag (Mute 0x1000, SSM 0x0100, TS-16 0x0010,
// CRC-4 0x0001, none 0), for A20.
std::string ChronoBeamE1Argument(const ChronoBeamTelecomSettings& settings);
// "%d,%d": T1 format and fault strategy (Mute when none is chosen), for A21.
std::string ChronoBeamT1Argument(const ChronoBeamTelecomSettings& settings);
// "n,%c,%c,%c,%d" for channel n (1 or 2): type, mode and line (E, C and U when not chosen) and
// the LIU setting, for A22.
std::string ChronoBeamChannelArgument(const ChronoBeamTelecomSettings& settings, int channel);

// What became of one command of several sent in a row.
enum class EStepOutcome { kAccepted, kRefused, kNotUnderstood, kUnanswered, kNotSent };
// A few lines for the user naming which settings went through and which did not, in the order
// given: "Accepted: a, b", "Refused by the unit: c", "Not understood by the unit: ...",
// "No answer from the unit: ...", "Not sent: d, e". Empty lines are left out.
std::string DescribeOutcomes(const std::vector<std::string>& names,
                             const std::vector<EStepOutcome>& outcomes);

}  // namespace corvane3
