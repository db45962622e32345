#pragma once
// Port names that reach the instrument through a serial device server on the network:
// "rfc2217://HOST:PORT" (telnet with the COM-PORT-OPTION, so the remote line can be set) and
// "tcp://HOST:PORT" (raw bytes; the line is whatever the server set). HOST is a name, an IPv4
// address or an IPv6 address in brackets ("rfc2217://[::1]:2000").

#include <optional>
#include <string>

namespace corvane3 {

enum class ENetworkProtocol { kRfc2217, kRawTcp };

struct NetworkPortAddress {
    ENetworkProtocol protocol = ENetworkProtocol::kRawTcp;
    std::string host;  // without brackets
    bool ipv6 = false;
    unsigned port = 0;
};

// True when name starts with one of the network schemes (in either case), well formed or not.
bool IsNetworkPortName(const std::string& name);

// The address a network port name gives, or nullopt when it is malformed: no port or a port
// outside 1..65535, an empty host, or a character a host name cannot have (a comma or a
// parenthesis would otherwise change the connection string the library is given).
std::optional<NetworkPortAddress> ParseNetworkPortName(const std::string& name);

// The connection string of the network library: "telnet(rfc2217),tcp(nodelay),HOST,PORT" or
// "tcp(nodelay),HOST,PORT" ("tcp(nodelay),ipv6,HOST,PORT" for an IPv6 address).
std::string NetworkConnectionString(const NetworkPortAddress& address);

// The reason given for a name with a network scheme that cannot be parsed.
inline constexpr char kBadNetworkAddress[] =
    "not a network address (rfc2217://HOST:PORT or tcp://HOST:PORT)";

// Why a raw TCP port refuses line changes (a serial reconfiguration, auto-detect).
inline constexpr char kRawTcpLineFixed[] =
    "a raw TCP port cannot change its line settings: they are set on the server";

}  // namespace corvane3
