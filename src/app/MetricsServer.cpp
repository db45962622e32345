#include "app/MetricsServer.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/base/CLocale.h"
#include "core/metrics/MetricsExposition.h"

namespace corvane3 {

namespace {

// Pending connections the kernel keeps before they are taken.
constexpr int kListenBacklog = 64;
// How often the serving thread looks for connections over their time and for the stop.
constexpr unsigned kServeWakeMs = 200;
// A request's head is a few hundred bytes; this bounds what one connection may hold.
constexpr std::size_t kConnectionMemoryLimit = std::size_t{16} << 10;
constexpr char kAllowedMethods[] = "GET, HEAD";

enum MHD_Result Answer(MHD_Connection* connection, unsigned status, const std::string& body,
                       const char* contentType, bool allow) {
    MHD_Response* response = MHD_create_response_from_buffer(
        body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
    if (response == nullptr) {
        return MHD_NO;
    }
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, contentType);
    // One request per connection: the time limit then bounds each request.
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
    if (allow) {
        MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, kAllowedMethods);
    }
    const enum MHD_Result result = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return result;
}

enum MHD_Result HandleRequest(void* server, MHD_Connection* connection, const char* url,
                              const char* method, const char* /*version*/,
                              const char* /*uploadData*/, std::size_t* /*uploadDataSize*/,
                              void** /*requestContext*/) {
    constexpr char kPlain[] = "text/plain; charset=utf-8";
    if (std::strcmp(url, "/metrics") != 0 && std::strcmp(url, "/") != 0) {
        return Answer(connection, MHD_HTTP_NOT_FOUND, "Not found: try /metrics\n", kPlain, false);
    }
    if (std::strcmp(method, MHD_HTTP_METHOD_GET) != 0 &&
        std::strcmp(method, MHD_HTTP_METHOD_HEAD) != 0) {
        return Answer(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "Only GET and HEAD are served\n",
                      kPlain, true);
    }
    const std::shared_ptr<const std::string> text =
        static_cast<CMetricsServer*>(server)->Published();
    return Answer(connection, MHD_HTTP_OK, *text, kMetricsContentType, false);
}

void NotifyConnection(void* server, MHD_Connection* connection, void** /*socketContext*/,
                      enum MHD_ConnectionNotificationCode code) {
    auto* self = static_cast<CMetricsServer*>(server);
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
        const MHD_ConnectionInfo* info =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
        self->ConnectionStarted(connection, info != nullptr ? info->connect_fd : -1);
    } else {
        self->ConnectionClosed(connection);
    }
}

// Connections over the limit are taken and closed at once, so a client is told rather than left
// waiting in the listen queue.
enum MHD_Result AcceptWithinLimit(void* server, const sockaddr* /*address*/, socklen_t /*length*/) {
    return static_cast<CMetricsServer*>(server)->HasRoom() ? MHD_YES : MHD_NO;
}

std::string SystemError(int error) {
    const CScopedCLocale englishMessages;
    return std::strerror(error);
}

}  // namespace

CMetricsServer::CMetricsServer() : published_(std::make_shared<const std::string>()) {}

CMetricsServer::~CMetricsServer() {
    Stop();
}

bool CMetricsServer::Start(const MetricsEndpoint& endpoint, std::string& error) {
    const bool ipv6 = IsIpv6(endpoint.address);
    listenFd_ = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) {
        error = SystemError(errno);
        return false;
    }
    // A restarted run takes its port again although the last run's connections linger.
    const int on = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_storage storage{};
    socklen_t length = 0;
    if (ipv6) {
        ::setsockopt(listenFd_, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
        auto* address = reinterpret_cast<sockaddr_in6*>(&storage);
        address->sin6_family = AF_INET6;
        address->sin6_port = htons(static_cast<std::uint16_t>(endpoint.port));
        ::inet_pton(AF_INET6, endpoint.address.c_str(), &address->sin6_addr);
        length = sizeof *address;
    } else {
        auto* address = reinterpret_cast<sockaddr_in*>(&storage);
        address->sin_family = AF_INET;
        address->sin_port = htons(static_cast<std::uint16_t>(endpoint.port));
        ::inet_pton(AF_INET, endpoint.address.c_str(), &address->sin_addr);
        length = sizeof *address;
    }
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&storage), length) != 0 ||
        ::listen(listenFd_, kListenBacklog) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&storage), &length) != 0) {
        error = SystemError(errno);
        ::close(listenFd_);
        listenFd_ = -1;
        return false;
    }
    port_ = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port
                       : reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
    address_ = endpoint.address;
    const unsigned timeoutSeconds = static_cast<unsigned>(kConnectionTimeLimit.count());
    // The library's own connection limit, one above, only backs up the accept policy.
    daemon_ = MHD_start_daemon(
        MHD_USE_EPOLL | (ipv6 ? MHD_USE_IPv6 : 0), 0, &AcceptWithinLimit, this, &HandleRequest,
        this, MHD_OPTION_LISTEN_SOCKET, listenFd_, MHD_OPTION_CONNECTION_LIMIT,
        kConnectionLimit + 1, MHD_OPTION_CONNECTION_TIMEOUT, timeoutSeconds,
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, kConnectionMemoryLimit, MHD_OPTION_NOTIFY_CONNECTION,
        &NotifyConnection, this, MHD_OPTION_END);
    if (daemon_ == nullptr) {
        error = "the HTTP server could not start";
        ::close(listenFd_);
        listenFd_ = -1;
        return false;
    }
    thread_ = std::thread([this] { Serve(); });
    return true;
}

std::string CMetricsServer::Url() const {
    const std::string host = IsIpv6(address_) ? "[" + address_ + "]" : address_;
    return "http://" + host + ":" + std::to_string(port_) + "/metrics";
}

void CMetricsServer::Publish(std::string text) {
    auto shared = std::make_shared<const std::string>(std::move(text));
    std::lock_guard lock(mutex_);
    published_ = std::move(shared);
}

std::shared_ptr<const std::string> CMetricsServer::Published() {
    std::lock_guard lock(mutex_);
    return published_;
}

void CMetricsServer::Stop() {
    if (daemon_ == nullptr) {
        return;
    }
    stop_ = true;
    thread_.join();
    MHD_stop_daemon(daemon_);
    daemon_ = nullptr;
    ::close(listenFd_);
    listenFd_ = -1;
}

void CMetricsServer::Serve() {
    while (!stop_) {
        MHD_run_wait(daemon_, kServeWakeMs);
        CutOverdueConnections();
    }
}

bool CMetricsServer::HasRoom() const {
    return connections_.size() < kConnectionLimit;
}

void CMetricsServer::ConnectionStarted(MHD_Connection* connection, int fd) {
    connections_[connection] = Connection{std::chrono::steady_clock::now(), fd, false};
}

void CMetricsServer::ConnectionClosed(MHD_Connection* connection) {
    connections_.erase(connection);
}

// The idle time-out cannot catch a client that sends a byte now and then. Shutting the socket
// down makes libmicrohttpd close the connection on its next turn; the socket is still open
// (only this thread closes it, inside MHD_run_wait), so the descriptor is the connection's.
void CMetricsServer::CutOverdueConnections() {
    const auto now = std::chrono::steady_clock::now();
    for (auto& [connection, state] : connections_) {
        if (!state.cut && state.fd >= 0 && now - state.started > kConnectionTimeLimit) {
            ::shutdown(state.fd, SHUT_RDWR);
            state.cut = true;
        }
    }
}

}  // namespace corvane3
