#pragma once
// Plain HTTP requests to a server on the loopback address, through real sockets.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>

namespace corvane3::testing {

// A connected socket to 127.0.0.1:port (::1:port with ipv6), or -1.
inline int Connect(int port, bool ipv6 = false) {
    const int fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sockaddr_in6 address6{};
    address6.sin6_family = AF_INET6;
    address6.sin6_port = address.sin_port;
    address6.sin6_addr = in6addr_loopback;
    const int connected =
        ipv6 ? ::connect(fd, reinterpret_cast<sockaddr*>(&address6), sizeof address6)
             : ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    if (connected != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A socket listening on 127.0.0.1 at a port the system chose, which port is set to (0 when the
// socket could not listen).
inline int LoopbackListener(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    const bool listening = ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
                           ::listen(fd, 1) == 0 &&
                           ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    port = listening ? ntohs(address.sin_port) : 0;
    return fd;
}

// Everything the server sends until it closes, waiting at most timeoutMs for each piece; closed,
// when given, is false when the wait ran out after something was read.
inline std::string ReadUntilClosed(int fd, int timeoutMs = 5000, bool* closed = nullptr) {
    std::string text;
    pollfd pfd{fd, POLLIN, 0};
    char buffer[4096];
    ssize_t n = 0;
    while (::poll(&pfd, 1, timeoutMs) > 0 && (n = ::read(fd, buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    if (closed != nullptr) {
        *closed = n <= 0;
    }
    return text;
}

// The whole answer to request; "(no connection)" when nothing listens.
inline std::string Request(int port, const std::string& request, bool ipv6 = false) {
    const int fd = Connect(port, ipv6);
    if (fd < 0) {
        return "(no connection)";
    }
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string answer = ReadUntilClosed(fd);
    ::close(fd);
    return answer;
}

}  // namespace corvane3::testing
