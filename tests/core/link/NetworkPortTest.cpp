// Network ports without a serial device server: their names, why a connection fails, and
// servers that misbehave (garbage, an option storm, a reply that stalls, no COM-PORT-OPTION).

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <future>
#include <random>
#include <thread>

#include "core/link/NetworkPortName.h"
#include "core/link/SerialDevice.h"
#include "core/link/SerialPort.h"
#include "support/PrometheusServer.h"
#include "support/RecordingSink.h"

namespace corvane3 {
namespace {

using ::testing::HasSubstr;

TEST(NetworkPortNameTest, WellFormedNamesGiveTheirConnectionStringsAndOthersAreRefused) {
    const auto check = [](const char* name, const std::string& connection) {
        const auto address = ParseNetworkPortName(name);
        EXPECT_EQ(address ? NetworkConnectionString(*address) : "", connection) << name;
        // A name with a network scheme is never taken for a device path.
        const bool scheme = std::string_view(name).find("://") != std::string_view::npos;
        EXPECT_EQ(IsNetworkPortName(name), scheme) << name;
        if (scheme) {
            EXPECT_EQ(SerialDeviceProblem(name), connection.empty() ? kBadNetworkAddress : "")
                << name;
        }
    };
    const std::pair<const char*, const char*> kAccepted[] = {
        {"rfc2217://127.0.0.1:2000", "telnet(rfc2217),tcp(nodelay),127.0.0.1,2000"},
        {"RFC2217://rack-7.lab.example:65535",
         "telnet(rfc2217),tcp(nodelay),rack-7.lab.example,65535"},
        {"tcp://server_1:1", "tcp(nodelay),server_1,1"},
        {"tcp://[::1]:4001", "tcp(nodelay),ipv6,::1,4001"},
        {"rfc2217://[fe80::1%eth0]:4001", "telnet(rfc2217),tcp(nodelay),ipv6,fe80::1%eth0,4001"},
    };
    for (const auto& [name, connection] : kAccepted) {
        check(name, connection);
    }
    // Among the refused: characters that would change the library's connection string.
    for (const char* name :
         {"tcp://host", "tcp://host:", "tcp://:2000", "tcp://host:0", "tcp://host:65536",
          "tcp://host:20x0", "tcp://host:+200", "tcp://::1:2000", "tcp://[::1]2000",
          "tcp://[::1:2000", "tcp://[]:2000", "tcp://[::g]:2000", "tcp://a,b:2000",
          "tcp://stdio(self):2000", "rfc2217://host,ipv4:2000", "tcp://h\xc3\xa9:2000",
          "tcp://a b:2000", "/dev/ttyS0"}) {
        check(name, "");
    }
    EXPECT_EQ(ParseNetworkPortName("tcp://" + std::string(254, 'a') + ":1"), std::nullopt);
}

// A TCP server on a free loopback port that runs script on each connection, one at a time.
class ScriptedServer {
  public:
    explicit ScriptedServer(std::function<void(int)> script) : script_(std::move(script)) {
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(listen_, reinterpret_cast<sockaddr*>(&address), length);
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        ::listen(listen_, 4);
        thread_ = std::thread([this] {
            for (int fd; (fd = ::accept(listen_, nullptr, nullptr)) >= 0;) {
                script_(fd);
                ::close(fd);
            }
        });
    }
    ~ScriptedServer() {
        ::shutdown(listen_, SHUT_RDWR);  // wakes the accept
        thread_.join();
        ::close(listen_);
    }
    std::string Name(const char* scheme = "rfc2217") const {
        return std::string(scheme) + "://127.0.0.1:" + std::to_string(port_);
    }

  private:
    std::function<void(int)> script_;
    int listen_ = -1;
    int port_ = 0;
    std::thread thread_;
};

// Everything the client sends until it closes or is silent for gapMs.
std::string ReceiveAll(int fd, int gapMs) {
    std::string got;
    char buffer[4096];
    for (pollfd p{fd, POLLIN, 0}; ::poll(&p, 1, gapMs) > 0;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        got.append(buffer, std::size_t(n));
    }
    return got;
}

bool SendAll(int fd, std::string_view bytes) {
    return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
}

class NetworkPortTest : public ::testing::Test {
  protected:
    void Use(const std::string& name, std::uint32_t dataBits = 8) {
        port_.SetSettings({name, 9600, kParityNone, kStopBitsOne, dataBits});
    }
    CLinkStatus status_;
    testing::StatusLog log_{status_};
    CSerialPort port_{status_};
};

TEST_F(NetworkPortTest, ConnectionsThatFailSayWhyInTheStatusAndTheOpenError) {
    const std::string refused = "tcp://127.0.0.1:" + std::to_string(testing::FreeLoopbackPort());
    const std::pair<std::string, std::string> kCases[] = {
        {refused, "Connection refused"},
        {"rfc2217://corvane3-no-such-host.invalid:2000", "Name does not resolve"},
        {"tcp://host:0", kBadNetworkAddress},
    };
    for (const auto& [name, reason] : kCases) {
        Use(name);
        log_.Clear();
        EXPECT_FALSE(port_.OpenPort()) << name;
        EXPECT_FALSE(port_.IsOpen());
        EXPECT_EQ(port_.LastOpenError(), reason);
        EXPECT_EQ(status_.Text(), "RS232 open failed: " + name + ": " + reason);
        // A write tries to reconnect once and fails at once.
        EXPECT_FALSE(port_.WriteBytes("x"));
    }
}

// Bytes the telnet layer doubles: IAC (0xFF) in data goes as IAC IAC and comes back single.
TEST_F(NetworkPortTest, TelnetEscapesIacBothWaysAndRawTcpPassesItAsItIs) {
    const std::string iac = "\xff", data = "A" + iac + "B" + iac + iac;
    for (const char* scheme : {"rfc2217", "tcp"}) {
        const bool telnet = std::string_view(scheme) == "rfc2217";
        std::promise<std::string> sent;
        ScriptedServer server([&](int fd) {
            SendAll(fd, telnet ? "C" + iac + iac + "D" : "C" + iac + "D");
            sent.set_value(ReceiveAll(fd, 10000));  // until the client closes
        });
        Use(server.Name(scheme));
        ASSERT_TRUE(port_.OpenPort()) << port_.LastOpenError();
        port_.ConfigurePort();
        std::string got;
        EXPECT_TRUE(port_.ReadBytes(3, got));
        EXPECT_EQ(got, "C" + iac + "D") << scheme;
        EXPECT_TRUE(port_.WriteBytes(data));
        port_.ClosePort();
        const std::string wire = sent.get_future().get();
        EXPECT_THAT(wire, HasSubstr(telnet ? "A" + iac + iac + "B" + iac + iac + iac + iac : data))
            << scheme;
    }
}

// A server that ignores the COM-PORT-OPTION, or agrees to it and then answers no request, is
// said once, treated as raw (a line change is refused with that reason) and still carries data.
TEST_F(NetworkPortTest, AServerThatDoesNotAnswerTheComPortOptionIsSaidOnceAndUsedRaw) {
    for (const bool agrees : {false, true}) {
        ScriptedServer server([agrees](int fd) {
            if (agrees) {
                SendAll(fd, "\xff\xfb\x2c\xff\xfd\x2c");  // WILL and DO COM-PORT-OPTION
            }
            ReceiveAll(fd, 300);  // the client's negotiation and requests, unanswered
            SendAll(fd, "hello");
            ReceiveAll(fd, 10000);  // until the client closes
        });
        Use(server.Name());
        log_.Clear();
        EXPECT_EQ(port_.LineChangeProblem(), "");
        for (int reconnect = 0; reconnect < 2; ++reconnect) {
            ASSERT_TRUE(port_.ResetPort());
            ASSERT_TRUE(port_.IsOpen());
            std::string got;
            EXPECT_TRUE(port_.ReadBytes(5, got));
            EXPECT_EQ(got, "hello");
        }
        EXPECT_THAT(port_.LineChangeProblem(), HasSubstr("did not answer the COM-PORT-OPTION"));
        const auto said = log_.Texts().Items();
        EXPECT_EQ(std::count_if(said.begin(), said.end(),
                                [](const std::string& t) { return t.find("COM-PORT") != t.npos; }),
                  1)
            << agrees;
        port_.ClosePort();
    }
    Use("tcp://127.0.0.1:1");
    EXPECT_THAT(port_.LineChangeProblem(), HasSubstr("raw TCP port cannot change"));
}

TEST_F(NetworkPortTest, HostileServersAreSurvivedAndACutConnectionIsReconnected) {
    std::atomic<int> connection{0};
    ScriptedServer server([&](int fd) {
        std::mt19937 random(7);
        const int which = connection++;
        if (which == 0) {  // garbage, then the connection is cut
            std::string garbage(1 << 16, '\0');
            std::ranges::generate(garbage, [&] { return static_cast<char>(random()); });
            SendAll(fd, garbage);
            ReceiveAll(fd, 200);
        } else if (which == 1) {  // an option storm, then a reply that stalls half-way
            std::thread drain([fd] { ReceiveAll(fd, 10000); });  // until the client closes
            std::string storm;
            for (int i = 0; i < 20000; ++i) {
                storm += {'\xff', static_cast<char>(0xfb + i % 4), static_cast<char>(i % 50)};
            }
            SendAll(fd, storm + "\x02PART");
            drain.join();
        }
    });
    Use(server.Name());
    ASSERT_TRUE(port_.ResetPort());
    std::string got;
    for (int i = 0; i < 3 && port_.IsOpen(); ++i) {
        port_.ReadBytes(1 << 15, got);
    }
    EXPECT_FALSE(port_.IsOpen());
    EXPECT_EQ(port_.LastOpenError(), "Connection closed by the server");
    EXPECT_THAT(log_.Texts().Items(), ::testing::Contains("Receive Fail: " + server.Name() + ": " +
                                                          "Connection closed by the server"));
    // The next read reconnects; the storm is taken and the stalled reply gives what came.
    EXPECT_FALSE(port_.ReadBytes(10, got));
    EXPECT_EQ(got, "\x02PART");
    EXPECT_TRUE(port_.IsOpen());
    port_.ClosePort();
}

}  // namespace
}  // namespace corvane3
