#include "core/link/NetworkPortName.h"

#include <cctype>
#include <string_view>

namespace corvane3 {

namespace {

constexpr std::string_view kRfc2217Scheme = "rfc2217://";
constexpr std::string_view kRawTcpScheme = "tcp://";
constexpr unsigned kLargestPort = 65535;
// A DNS name is at most this long; anything longer is a typing mistake or an attack.
constexpr std::size_t kLongestHost = 253;

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) {
            return false;
        }
    }
    return true;
}

// Letters, digits, '-', '_' and '.' in names and IPv4 addresses; hexadecimal digits, ':' and
// '.' in IPv6 addresses, with '%' and a scope name after it.
bool HostCharactersValid(std::string_view host, bool ipv6) {
    bool scope = false;
    for (char c : host) {
        const unsigned char u = static_cast<unsigned char>(c);
        bool allowed;
        if (ipv6 && !scope) {
            allowed = std::isxdigit(u) || c == ':' || c == '.' || c == '%';
            scope = c == '%';
        } else {
            allowed = std::isalnum(u) || c == '-' || c == '_' || c == '.';
        }
        if (!allowed || u >= 0x80) {
            return false;
        }
    }
    return !host.empty() && host.size() <= kLongestHost;
}

std::optional<unsigned> ParsePort(std::string_view text) {
    if (text.empty() || text.size() > 5) {
        return std::nullopt;
    }
    unsigned port = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) {
            return std::nullopt;
        }
        port = port * 10 + static_cast<unsigned>(c - '0');
    }
    if (port == 0 || port > kLargestPort) {
        return std::nullopt;
    }
    return port;
}

}  // namespace

bool IsNetworkPortName(const std::string& name) {
    return StartsWithNoCase(name, kRfc2217Scheme) || StartsWithNoCase(name, kRawTcpScheme);
}

std::optional<NetworkPortAddress> ParseNetworkPortName(const std::string& name) {
    NetworkPortAddress address;
    std::string_view rest;
    if (StartsWithNoCase(name, kRfc2217Scheme)) {
        address.protocol = ENetworkProtocol::kRfc2217;
        rest = std::string_view(name).substr(kRfc2217Scheme.size());
    } else if (StartsWithNoCase(name, kRawTcpScheme)) {
        rest = std::string_view(name).substr(kRawTcpScheme.size());
    } else {
        return std::nullopt;
    }
    std::string_view host;
    if (rest.starts_with('[')) {
        const std::size_t close = rest.find(']');
        if (close == std::string_view::npos || rest.substr(close + 1, 1) != ":") {
            return std::nullopt;
        }
        host = rest.substr(1, close - 1);
        rest = rest.substr(close + 2);
        address.ipv6 = true;
    } else {
        const std::size_t colon = rest.rfind(':');
        if (colon == std::string_view::npos) {
            return std::nullopt;
        }
        host = rest.substr(0, colon);
        rest = rest.substr(colon + 1);
    }
    const std::optional<unsigned> port = ParsePort(rest);
    if (!port || !HostCharactersValid(host, address.ipv6)) {
        return std::nullopt;
    }
    address.host = std::string(host);
    address.port = *port;
    return address;
}

std::string NetworkConnectionString(const NetworkPortAddress& address) {
    // Without nodelay, a frame's end written on its own would wait for the server's delayed
    // acknowledgement of the frame's head: tens of milliseconds on every exchange.
    std::string text = address.protocol == ENetworkProtocol::kRfc2217
                           ? "telnet(rfc2217),tcp(nodelay),"
                           : "tcp(nodelay),";
    if (address.ipv6) {
        text += "ipv6,";
    }
    return text + address.host + "," + std::to_string(address.port);
}

}  // namespace corvane3
