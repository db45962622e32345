#include "core/settings/SettingsEntries.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "core/base/CLocale.h"
#include "core/base/Text.h"
#include "core/link/CommandFrame.h"
#include "core/settings/SettingsText.h"

namespace corvane3 {

namespace {

// Largest value of one address field.
constexpr int kMaxOctet = 255;
// Digits of one address field.
constexpr std::size_t kMaxOctetDigits = 3;
// "mm/dd/yy": its length and where the slashes are.
constexpr std::size_t kDateLength = 8;
constexpr std::size_t kFirstSlash = 2;
constexpr std::size_t kSecondSlash = 5;
// Manufacturing years are two-digit years of this century.
constexpr int kCentury = 2000;

// The A20 fault flag of each remembered E1 fault strategy.
constexpr unsigned kFlagCrc4 = 0x0001, kFlagTs16 = 0x0010, kFlagSsm = 0x0100, kFlagMute = 0x1000;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

int TwoDigits(std::string_view text, std::size_t at) {
    return (text[at] - '0') * 10 + (text[at + 1] - '0');
}

std::string Join(const std::vector<std::string>& names) {
    std::string joined;
    for (const std::string& name : names) {
        if (!joined.empty()) {
            joined += ", ";
        }
        joined += name;
    }
    return joined;
}

}  // namespace

std::optional<long> ParseWholeNumber(std::string_view text) {
    const std::string trimmed(TrimBlanks(text));
    if (trimmed.empty()) {
        return std::nullopt;
    }
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(trimmed.c_str(), &end, 10);
    // The whole text must be the number: a NUL inside it is junk too.
    if (errno == ERANGE || end == trimmed.c_str() || end != trimmed.c_str() + trimmed.size() ||
        !(IsDigit(trimmed.front()) || trimmed.front() == '+' || trimmed.front() == '-')) {
        return std::nullopt;
    }
    return value;
}

std::optional<Ipv4Octets> ParseIpv4Address(std::string_view text) {
    text = TrimBlanks(text);
    Ipv4Octets octets{};
    if (text.empty()) {
        return octets;
    }
    std::size_t field = 0;
    std::size_t digits = 0;
    for (char c : text) {
        if (c == '.') {
            if (digits == 0 || ++field == octets.size()) {
                return std::nullopt;
            }
            digits = 0;
        } else if (IsDigit(c) && digits < kMaxOctetDigits) {
            octets[field] = octets[field] * 10 + (c - '0');
            ++digits;
        } else {
            return std::nullopt;
        }
    }
    if (digits == 0 || field != octets.size() - 1) {
        return std::nullopt;
    }
    for (int octet : octets) {
        if (octet > kMaxOctet) {
            return std::nullopt;
        }
    }
    return octets;
}

std::string ShowIpv4Address(const Ipv4Octets& octets) {
    if (octets == Ipv4Octets{}) {
        return {};
    }
    return std::to_string(octets[0]) + '.' + std::to_string(octets[1]) + '.' +
           std::to_string(octets[2]) + '.' + std::to_string(octets[3]);
}

std::string EthernetArgument(bool portEnabled, bool dhcp, const Ipv4Octets& ip,
                             const Ipv4Octets& netmask, const Ipv4Octets& gateway) {
    std::string argument = std::string(portEnabled ? "1" : "0") + ' ' + (dhcp ? "1" : "0") + ' ';
    for (const Ipv4Octets* address : {&ip, &netmask, &gateway}) {
        char field[sizeof "000.000.000.000 "];
        std::snprintf(field, sizeof field, "%03d.%03d.%03d.%03d ", (*address)[0], (*address)[1],
                      (*address)[2], (*address)[3]);
        argument += field;
    }
    return argument;
}

bool HasDateLayout(std::string_view text) {
    return text.size() == kDateLength && text[kFirstSlash] == '/' && text[kSecondSlash] == '/';
}

bool IsExistingDate(std::string_view text) {
    if (!HasDateLayout(text)) {
        return false;
    }
    for (std::size_t at : {0u, 1u, 3u, 4u, 6u, 7u}) {
        if (!IsDigit(text[at])) {
            return false;
        }
    }
    const int month = TwoDigits(text, 0);
    const int day = TwoDigits(text, kFirstSlash + 1);
    const int year = kCentury + TwoDigits(text, kSecondSlash + 1);
    static constexpr int kDaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1) {
        return false;
    }
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return day <= kDaysInMonth[month - 1] + (month == 2 && leap ? 1 : 0);
}

std::string Tq9000E1Argument(const Tq9000TelecomChoice& choice) {
    static const char* const kFormats[] = {"CRC40 TS160 ", "CRC41 TS160 ", "CRC40 TS161 ",
                                           "CRC41 TS161 "};
    return std::string(kFormats[choice.e1Format & 3]) + (choice.e1Fault == 0 ? "MUT " : "SSM ") +
           "SSM" + std::to_string(choice.e1SaChannel);
}

std::string Tq9000T1Argument(const Tq9000TelecomChoice& choice) {
    static const char* const kFaults[] = {"SSM", "MUT", "AIS"};
    return std::string(choice.t1Format == 0 ? "ES " : "D4 ") +
           kFaults[choice.t1Fault >= 0 && choice.t1Fault < 3 ? choice.t1Fault : 2];
}

std::string ChronoBeamE1Argument(const ChronoBeamTelecomSettings& settings) {
    unsigned flags = 0;
    switch (settings.e1Fault) {
        case kE1FaultCrc4:
            flags = kFlagCrc4;
            break;
        case kE1FaultTs16:
            flags = kFlagTs16;
            break;
        case kE1FaultSsm:
            flags = kFlagSsm;
            break;
        case kE1FaultMute:
            flags = kFlagMute;
            break;
        default:
            break;
    }
    char text[64];
    std::snprintf(text, sizeof text, "%d,%d,%04x", settings.e1Format, settings.e1SaChannel, flags);
    return text;
}

std::string ChronoBeamT1Argument(const ChronoBeamTelecomSettings& settings) {
    const int fault = settings.t1Fault == 0 ? kT1FaultMute : settings.t1Fault;
    return std::to_string(settings.t1Format) + ',' + std::to_string(fault);
}

std::string ChronoBeamChannelArgument(const ChronoBeamTelecomSettings& settings, int channel) {
    const ChronoBeamOutputChannel& c = settings.channels[channel == 2 ? 1 : 0];
    char text[32];
    std::snprintf(text, sizeof text, "%d,%c,%c,%c,%d", channel == 2 ? 2 : 1,
                  c.type == 'T' ? 'T' : 'E', c.mode == 'F' ? 'F' : 'C', c.line == 'B' ? 'B' : 'U',
                  c.liu);
    return text;
}

LoopTimeConstant ReadLoopTimeConstant(std::string_view text) {
    LoopTimeConstant tau;
    const double typed = LeadingNumber(text);
    if (!(typed >= kMinLoopTimeConstant)) {
        tau.correction = LoopTimeConstant::ECorrection::kRaised;
    } else if (typed > kMaxLoopTimeConstant) {
        tau.seconds = kMaxLoopTimeConstant;
        tau.correction = LoopTimeConstant::ECorrection::kLowered;
    } else {
        tau.seconds = typed;
    }
    return tau;
}

std::string ShowLoopTimeConstant(double seconds) {
    const CScopedCLocale numbers;
    char text[32];
    std::snprintf(text, sizeof text, "%4.2f", seconds);
    return text;
}

std::string LoopTimeConstantArgument(double seconds) {
    return std::to_string(kLoopFilterOrder) + " " + ShowLoopTimeConstant(seconds);
}

std::string DescribeOutcomes(const std::vector<std::string>& names,
                             const std::vector<EStepOutcome>& outcomes) {
    static const std::pair<EStepOutcome, const char*> kLines[] = {
        {EStepOutcome::kAccepted, "Accepted: "},
        {EStepOutcome::kRefused, "Refused by the unit: "},
        {EStepOutcome::kNotUnderstood, "Not understood by the unit: "},
        {EStepOutcome::kUnanswered, "No answer from the unit: "},
        {EStepOutcome::kNotSent, "Not sent: "},
    };
    std::string text;
    for (const auto& [outcome, heading] : kLines) {
        std::vector<std::string> named;
        for (std::size_t i = 0; i < names.size() && i < outcomes.size(); ++i) {
            if (outcomes[i] == outcome) {
                named.push_back(names[i]);
            }
        }
        if (!named.empty()) {
            if (!text.empty()) {
                text += '\n';
            }
            text += heading;
            text += Join(named);
        }
    }
    return text;
}

}  // namespace corvane3
