#include "sim/SimulatedInstrument.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "core/base/Text.h"
#include "sim/CommandArguments.h"
#include "sim/UnitClock.h"

// The Tq9000's DCC board: its clock, its T1, E1 and Ethernet settings, its status record and its
// firmware version. The dispatch answers "?" for these on a unit without the board.

namespace corvane3::sim {

namespace {

constexpr std::size_t kDccTimeDigits = 10;
constexpr long kMaxDccTime = 4294967295L;
constexpr long kMaxDccAdjustment = 99999;

}  // namespace

std::optional<std::string> CSimulatedInstrument::SetDccTime(const ReceivedFrame& frame,
                                                            SimClock::time_point) {
    const std::string_view data = TrimBlanks(frame.data);
    const auto seconds = ParseLong(data, 0, kMaxDccTime);
    if (!seconds || data.size() != kDccTimeDigits) {
        return NotUnderstood(frame);
    }
    dccOffset_ = *seconds - SystemSeconds();
    return Accepted(frame);
}

std::optional<std::string> CSimulatedInstrument::GetDccTime(const ReceivedFrame&,
                                                            SimClock::time_point) {
    char text[32];
    std::snprintf(text, sizeof text, "%" PRId64, SystemSeconds() + dccOffset_);
    return Bare(text);
}

std::optional<std::string> CSimulatedInstrument::AdjustDccTime(const ReceivedFrame& frame,
                                                               SimClock::time_point) {
    const auto seconds = ParseLong(frame.data, -kMaxDccAdjustment, kMaxDccAdjustment);
    if (!seconds) {
        return NotUnderstood(frame);
    }
    dccOffset_ += *seconds;
    return Accepted(frame);
}

std::optional<std::string> CSimulatedInstrument::SetDccT1(const ReceivedFrame& frame,
                                                          SimClock::time_point) {
    // "FF SSS": framing, a blank, the SSM setting.
    const std::string_view data = TrimBlanks(frame.data);
    if (data.size() != 6 || data[2] != ' ') {
        return NotUnderstood(frame);
    }
    t1Settings_ = std::string(data);
    return Accepted(frame);
}

std::optional<std::string> CSimulatedInstrument::SetDccE1(const ReceivedFrame& frame,
                                                          SimClock::time_point) {
    const std::string data(TrimBlanks(frame.data));
    int crc = 0, ts16 = 0, channel = 0;
    char fault[4] = {};
    if (std::sscanf(data.c_str(), "CRC4%1d TS16%1d %3s SSM%1d", &crc, &ts16, fault, &channel) !=
            4 ||
        channel < 4 || channel > 8) {
        return NotUnderstood(frame);
    }
    e1Settings_ = data;
    return Accepted(frame);
}

std::optional<std::string> CSimulatedInstrument::SetDccEthernet(const ReceivedFrame& frame,
                                                                SimClock::time_point) {
    // Two flags, then the address, netmask and gateway as dotted quads.
    int n[14] = {};
    if (std::sscanf(std::string(TrimBlanks(frame.data)).c_str(),
                    "%d %d %d.%d.%d.%d %d.%d.%d.%d %d.%d.%d.%d", &n[0], &n[1], &n[2], &n[3], &n[4],
                    &n[5], &n[6], &n[7], &n[8], &n[9], &n[10], &n[11], &n[12], &n[13]) != 14 ||
        !std::all_of(n, n + 14, [](int x) { return x >= 0 && x <= 255; })) {
        return NotUnderstood(frame);
    }
    ethernetEnable_ = n[0] != 0;
    dhcpEnable_ = n[1] != 0;
    std::copy(n + 2, n + 6, ip_);
    std::copy(n + 6, n + 10, netmask_);
    std::copy(n + 10, n + 14, gateway_);
    return Accepted(frame);
}

std::optional<std::string> CSimulatedInstrument::GetDccStatus(const ReceivedFrame&,
                                                              SimClock::time_point now) {
    return BuildB20Record(ReadingsB20(now));
}

std::optional<std::string> CSimulatedInstrument::GetDccFirmwareVersion(const ReceivedFrame&,
                                                                       SimClock::time_point) {
    return Bare("V2.10b");  // the display firmware in characters 1 to 6
}

std::optional<std::string> CSimulatedInstrument::GetDccT1(const ReceivedFrame&,
                                                          SimClock::time_point) {
    return Bare(t1Settings_);
}

std::optional<std::string> CSimulatedInstrument::GetDccE1(const ReceivedFrame&,
                                                          SimClock::time_point) {
    return Bare(e1Settings_);
}

std::optional<std::string> CSimulatedInstrument::GetDccEthernet(const ReceivedFrame&,
                                                                SimClock::time_point) {
    char text[128];
    std::snprintf(
        text, sizeof text, "%d %d %03d.%03d.%03d.%03d %03d.%03d.%03d.%03d %03d.%03d.%03d.%03d",
        ethernetEnable_, dhcpEnable_, ip_[0], ip_[1], ip_[2], ip_[3], netmask_[0], netmask_[1],
        netmask_[2], netmask_[3], gateway_[0], gateway_[1], gateway_[2], gateway_[3]);
    return Bare(text);
}

std::optional<std::string> CSimulatedInstrument::GetDccHostName(const ReceivedFrame&,
                                                                SimClock::time_point) {
    char text[64];
    std::snprintf(text, sizeof text, "1 Tq9000-%05u", serial_);
    return Bare(text);
}

std::optional<std::string> CSimulatedInstrument::GetDccDomain(const ReceivedFrame&,
                                                              SimClock::time_point) {
    return Bare("0 local");
}

}  // namespace corvane3::sim
