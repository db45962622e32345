#pragma once
// A client of a control socket for tests and benchmarks: connects, sends messages and waits for
// the next one of a class, with a generous bound.

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include "core/control/ControlProtocol.h"

namespace corvane3::testing {

class ControlClient {
  public:
    // Tries to connect for up to wait (the service may still be starting).
    explicit ControlClient(const std::string& path,
                           std::chrono::milliseconds wait = std::chrono::seconds(20)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        const auto until = std::chrono::steady_clock::now() + wait;
        do {
            fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
                return;
            }
            ::close(fd_);
            fd_ = -1;
            ::usleep(50000);
        } while (std::chrono::steady_clock::now() < until);
    }
    ~ControlClient() { Close(); }
    ControlClient(const ControlClient&) = delete;
    ControlClient& operator=(const ControlClient&) = delete;

    bool Connected() const { return fd_ >= 0; }
    void Close() { ::close(std::exchange(fd_, -1)); }  // closing -1 again is harmless
    bool SendLine(const std::string& line) {
        return fd_ >= 0 && ::send(fd_, line.data(), line.size(), MSG_NOSIGNAL) ==
                               static_cast<ssize_t>(line.size());
    }
    bool Send(const ClientMessage& message) { return SendLine(EncodeClientMessage(message)); }

    // The next message, or nothing when none came within wait or the connection ended
    // (Ended() then says so).
    std::optional<ServerMessage> Next(std::chrono::milliseconds wait = std::chrono::seconds(30)) {
        const auto until = std::chrono::steady_clock::now() + wait;
        for (;;) {
            if (auto line = reader_.NextLine()) {
                std::string problem;
                return DecodeServerMessage(*line, problem);
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                until - std::chrono::steady_clock::now());
            pollfd in{fd_, POLLIN, 0};
            if (fd_ < 0 || left.count() <= 0 ||
                ::poll(&in, 1, static_cast<int>(left.count())) <= 0) {
                return std::nullopt;
            }
            char buffer[65536];
            const ssize_t got = ::read(fd_, buffer, sizeof buffer);
            if (got <= 0) {
                ended_ = true;
                return std::nullopt;
            }
            reader_.Append(std::string_view(buffer, static_cast<std::size_t>(got)));
        }
    }
    // The next message of class Message, skipping others.
    template <typename Message>
    std::optional<Message> NextOf(std::chrono::milliseconds wait = std::chrono::seconds(30)) {
        const auto until = std::chrono::steady_clock::now() + wait;
        while (std::chrono::steady_clock::now() < until) {
            const auto message = Next(std::chrono::duration_cast<std::chrono::milliseconds>(
                until - std::chrono::steady_clock::now()));
            if (!message) {
                return std::nullopt;
            }
            if (const auto* wanted = std::get_if<Message>(&*message)) {
                return *wanted;
            }
        }
        return std::nullopt;
    }
    // Sends one exchange and waits for its reply.
    std::optional<ReplyMessage> Exchange(const ControlCommand& command) {
        const std::uint64_t id = ++lastId_;
        if (!Send(ExchangeRequest{id, command})) {
            return std::nullopt;
        }
        for (;;) {
            const auto reply = NextOf<ReplyMessage>();
            if (!reply || reply->id == id) {
                return reply;
            }
        }
    }
    bool Ended() const { return ended_; }

  private:
    int fd_ = -1;
    CControlLineReader reader_;
    std::uint64_t lastId_ = 0;
    bool ended_ = false;
};

}  // namespace corvane3::testing
