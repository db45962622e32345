// The metrics endpoint's HTTP side, through real sockets: what each request gets, the bounds on
// connections, the --metrics value, and the journal's priority marks of headless lines.

#include "app/MetricsServer.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "app/HeadlessRun.h"
#include "core/metrics/MetricsExposition.h"
#include "support/HttpClient.h"

namespace corvane3::testing {
namespace {

TEST(MetricsServerTest, ServesThePublishedTextAndRefusesOtherPathsAndMethods) {
    CMetricsServer server;
    std::string error;
    ASSERT_TRUE(server.Start({"127.0.0.1", 0}, error)) << error;
    EXPECT_EQ(server.Url(), "http://127.0.0.1:" + std::to_string(server.Port()) + "/metrics");
    server.Publish("corvane3_up 1\n");
    const int port = server.Port();
    struct Row {
        std::string request, status, has, hasNot;  // hasNot: "" for nothing
    };
    const std::string host = "Host: 127.0.0.1\r\n\r\n", up = "corvane3_up 1\n";
    const Row rows[] = {
        {"GET /metrics HTTP/1.1\r\n" + host, "HTTP/1.1 200 OK",
         "Content-Type: text/plain; version=0.0.4; charset=utf-8", ""},
        {"GET / HTTP/1.0\r\n\r\n", "HTTP/1.1 200 OK", "\r\n\r\n" + up, ""},
        {"GET /metrics?name[]=up HTTP/1.1\r\n" + host, "HTTP/1.1 200 OK", up, ""},
        {"HEAD /metrics HTTP/1.1\r\n" + host, "HTTP/1.1 200 OK", "Content-Length: 14", up},
        {"GET /metrics/x HTTP/1.1\r\n" + host, "HTTP/1.1 404 Not Found", "", up},
        {"POST /metrics HTTP/1.1\r\nContent-Length: 3\r\n" + host + "abc",
         "HTTP/1.1 405 Method Not Allowed", "Allow: GET, HEAD", up},
        {"garbage\r\n\r\n", "", "", up},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.request);
        const std::string answer = Request(port, row.request);
        EXPECT_TRUE(answer.starts_with(row.status)) << answer;
        EXPECT_NE(answer.find(row.has), std::string::npos) << answer;
        EXPECT_TRUE(row.hasNot.empty() || answer.find(row.hasNot) == std::string::npos) << answer;
    }
    // The next publication is what the next scrape gets.
    server.Publish("corvane3_up 0\n");
    EXPECT_NE(Request(port, "GET /metrics HTTP/1.1\r\n" + host).find("\r\n\r\ncorvane3_up 0\n"),
              std::string::npos);
}

TEST(MetricsServerTest, ServesOverTheIPv6Loopback) {
    const int probe = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 loopback{};
    loopback.sin6_family = AF_INET6;
    loopback.sin6_addr = in6addr_loopback;
    const bool machineHasIt =
        probe >= 0 && ::bind(probe, reinterpret_cast<sockaddr*>(&loopback), sizeof loopback) == 0;
    ::close(probe);
    if (!machineHasIt) {
        GTEST_SKIP() << "this machine has no IPv6 loopback";
    }
    CMetricsServer server;
    std::string error;
    ASSERT_TRUE(server.Start({"::1", 0}, error)) << error;
    EXPECT_EQ(server.Url(), "http://[::1]:" + std::to_string(server.Port()) + "/metrics");
    server.Publish("corvane3_up 1\n");
    EXPECT_NE(Request(server.Port(), "GET /metrics HTTP/1.1\r\nHost: [::1]\r\n\r\n", true)
                  .find("\r\n\r\ncorvane3_up 1\n"),
              std::string::npos);
}

TEST(MetricsServerTest, ConnectionsBeyondTheLimitAreClosedAndTheRestStillServed) {
    CMetricsServer server;
    std::string error;
    ASSERT_TRUE(server.Start({"127.0.0.1", 0}, error)) << error;
    server.Publish("corvane3_up 1\n");
    std::vector<int> idle;
    constexpr unsigned kBeyond = 8;
    for (unsigned i = 0; i < CMetricsServer::kConnectionLimit + kBeyond; ++i) {
        idle.push_back(Connect(server.Port()));
        ASSERT_GE(idle.back(), 0);
    }
    // The extra connections are closed without an answer; those within the limit stay open.
    for (std::size_t i = 0; i < idle.size(); ++i) {
        const bool beyond = i >= CMetricsServer::kConnectionLimit;
        pollfd pfd{idle[i], POLLIN, 0};
        char c;
        const bool closed = ::poll(&pfd, 1, beyond ? 2000 : 0) > 0 && ::read(idle[i], &c, 1) <= 0;
        EXPECT_EQ(closed, beyond) << "connection " << i;
    }
    for (const int fd : idle) {
        ::close(fd);
    }
    // Once they are gone, requests are served again.
    std::string answer;
    for (int attempt = 0; attempt < 50 && !answer.starts_with("HTTP/1.1 200"); ++attempt) {
        answer = Request(server.Port(), "GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n");
    }
    EXPECT_TRUE(answer.starts_with("HTTP/1.1 200")) << answer;
}

TEST(MetricsServerTest, EndpointsAreParsedAsTheOptionTakesThem) {
    const std::tuple<std::string, std::string, int> accepted[] = {
        {"9123", "127.0.0.1", 9123},
        {"0.0.0.0:9123", "0.0.0.0", 9123},
        {"192.0.2.7:65535", "192.0.2.7", 65535},
        {"[::1]:9123", "::1", 9123},
    };
    for (const auto& [text, address, port] : accepted) {
        MetricsEndpoint endpoint;
        std::string error;
        ASSERT_TRUE(ParseMetricsEndpoint(text, endpoint, error)) << text << ": " << error;
        EXPECT_EQ(endpoint.address, address) << text;
        EXPECT_EQ(endpoint.port, port) << text;
    }
    for (const char* text :
         {"65536", "", "91a", "localhost:9123", ":9123", "::1:9123", "[::1]9123", "[fe80::zz]:1"}) {
        MetricsEndpoint endpoint;
        std::string error;
        EXPECT_FALSE(ParseMetricsEndpoint(text, endpoint, error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
}

TEST(MetricsServerTest, JournalLinesCarryTheirPriorityAndOtherOutputStaysAsItWas) {
    EXPECT_EQ(PriorityLines(ELinePriority::kInfo, "Unit Online", false), "Unit Online\n");
    EXPECT_EQ(PriorityLines(ELinePriority::kInfo, "Unit Online", true), "<6>Unit Online\n");
    EXPECT_EQ(PriorityLines(ELinePriority::kError, "a:\nb", true), "<3>a:\n<3>b\n");
    EXPECT_EQ(PriorityLines(ELinePriority::kError, "a:\nb", false), "a:\nb\n");
}

}  // namespace
}  // namespace corvane3::testing
