#pragma once
// The headless run's Prometheus endpoint: GET (or HEAD) of /metrics or / answers the text last
// published; nothing that arrives over HTTP reaches the instrument.
//
// libmicrohttpd serves on a thread of the server's own. That thread only copies the published
// text (a shared pointer taken under a short lock), so a scrape never waits for a poll or a
// record, nor they for a scrape. Connections are bounded in number (those over the limit are
// closed at once) and in time: each answers one request (Connection: close) and is cut once it
// is older than the time limit, however slowly a client trickles its request in.
//
//   CMetricsServer server;
//   if (!server.Start(endpoint, error)) { ... }
//   server.Publish(RenderMetrics(snapshot));   // after each record or link change

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "core/metrics/MetricsEndpoint.h"

struct MHD_Daemon;
struct MHD_Connection;

namespace corvane3 {

class CMetricsServer {
  public:
    // Connections served at once; more are closed as they come.
    static constexpr unsigned kConnectionLimit = 32;
    // The longest a connection may live, request and answer together, and the longest it may
    // stay silent. A scrape on a local network takes milliseconds.
    static constexpr std::chrono::seconds kConnectionTimeLimit{10};

    CMetricsServer();
    ~CMetricsServer();
    CMetricsServer(const CMetricsServer&) = delete;
    CMetricsServer& operator=(const CMetricsServer&) = delete;

    // Listens on the endpoint and starts serving. False, with the reason in error ("Address
    // already in use"), when it cannot listen there.
    bool Start(const MetricsEndpoint& endpoint, std::string& error);
    // The port it listens on (the one taken for port 0).
    int Port() const { return port_; }
    // "http://127.0.0.1:9123/metrics", "http://[::1]:9123/metrics".
    std::string Url() const;
    // What the next scrapes get. Any thread.
    void Publish(std::string text);
    // Stops serving and closes every connection; also done by the destructor.
    void Stop();

    // For libmicrohttpd's callbacks.
    std::shared_ptr<const std::string> Published();
    bool HasRoom() const;
    void ConnectionStarted(MHD_Connection* connection, int fd);
    void ConnectionClosed(MHD_Connection* connection);

  private:
    void Serve();
    void CutOverdueConnections();

    struct Connection {
        std::chrono::steady_clock::time_point started;
        int fd;
        bool cut;
    };

    std::string address_;
    int port_ = 0;
    int listenFd_ = -1;
    MHD_Daemon* daemon_ = nullptr;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::shared_ptr<const std::string> published_;
    // Only the serving thread touches these.
    std::map<MHD_Connection*, Connection> connections_;
};

}  // namespace corvane3
