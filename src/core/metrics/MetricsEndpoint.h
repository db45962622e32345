#pragma once
// Where the headless run serves its Prometheus metrics, as --metrics names it.

#include <string>

namespace corvane3 {

struct MetricsEndpoint {
    std::string address = "127.0.0.1";  // numeric IPv4 or IPv6 address, without brackets
    int port = 0;                       // 0: any free port
};

inline constexpr int kMaxMetricsPort = 65535;

// "[ADDR:]PORT" as --metrics takes it: "9123", "0.0.0.0:9123", "[::1]:9123". False, with the
// reason in error, for anything else (a port outside 0..65535, a host name, an empty address).
bool ParseMetricsEndpoint(const std::string& text, MetricsEndpoint& endpoint, std::string& error);

// An address with a colon is IPv6.
bool IsIpv6(const std::string& address);

}  // namespace corvane3
