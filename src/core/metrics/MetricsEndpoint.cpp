#include "core/metrics/MetricsEndpoint.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <charconv>

namespace corvane3 {

namespace {

bool ParsePort(const std::string& text, int& port) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, port);
    return !text.empty() && ec == std::errc() && ptr == end && port >= 0 && port <= kMaxMetricsPort;
}

}  // namespace

bool IsIpv6(const std::string& address) {
    return address.find(':') != std::string::npos;
}

bool ParseMetricsEndpoint(const std::string& text, MetricsEndpoint& endpoint, std::string& error) {
    MetricsEndpoint parsed;
    std::string port = text;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find("]:");
        if (close == std::string::npos) {
            error = "an IPv6 address is written [ADDRESS]:PORT";
            return false;
        }
        parsed.address = text.substr(1, close - 1);
        port = text.substr(close + 2);
    } else if (const std::size_t colon = text.rfind(':'); colon != std::string::npos) {
        parsed.address = text.substr(0, colon);
        port = text.substr(colon + 1);
        if (IsIpv6(parsed.address)) {
            error = "an IPv6 address is written in brackets: [ADDRESS]:PORT";
            return false;
        }
    }
    if (!ParsePort(port, parsed.port)) {
        error = "the port must be a whole number from 0 to 65535";
        return false;
    }
    unsigned char binary[sizeof(in6_addr)];
    if (::inet_pton(IsIpv6(parsed.address) ? AF_INET6 : AF_INET, parsed.address.c_str(), binary) !=
        1) {
        error =
            "the address must be a numeric IPv4 or IPv6 address, not \"" + parsed.address + "\"";
        return false;
    }
    endpoint = parsed;
    return true;
}

}  // namespace corvane3
