#pragma once
// A real Prometheus server (Debian's package) scraping one target every second, queried over
// its HTTP API; and the plain HTTP and waiting helpers that go with it.

#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/ChildProcess.h"
#include "support/HttpClient.h"

namespace corvane3::testing {

inline constexpr char kPrometheusProgram[] = "/usr/bin/prometheus";

// The body of GET path on 127.0.0.1:port; "" when there was no answer.
inline std::string HttpGetBody(int port, const std::string& path) {
    const std::string text = Request(port, "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    const std::size_t body = text.find("\r\n\r\n");
    return body == std::string::npos ? "" : text.substr(body + 4);
}

inline std::string UrlEncoded(const std::string& text) {
    std::string encoded;
    for (const unsigned char c : text) {
        if (std::isalnum(c) != 0 || c == '_' || c == '.' || c == '-') {
            encoded += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            encoded += hex;
        }
    }
    return encoded;
}

// A port no one listens on now.
inline int FreeLoopbackPort() {
    int port = 0;
    ::close(LoopbackListener(port));
    return port;
}

// Calls check until it is true or the bound passes; true when it came true. The bound is only a
// safety net for a check that never comes true.
inline bool WaitUntil(std::chrono::seconds bound, const std::function<bool()>& check) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (std::chrono::steady_clock::now() < deadline) {
        if (check()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    return check();
}

class PrometheusServer {
  public:
    // Scrapes 127.0.0.1 at each of targetPorts as job "job" every second, evaluating the rules
    // of rulesFile when one is given; its files go to dir.
    PrometheusServer(const std::filesystem::path& dir, const std::vector<int>& targetPorts,
                     const std::string& job = "clocks", const std::string& rulesFile = "")
        : port_(FreeLoopbackPort()) {
        const std::filesystem::path config = dir / "prometheus.yml";
        std::ofstream out(config);
        out << "global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
            << (rulesFile.empty() ? "" : "rule_files: [" + rulesFile + "]\n")
            << "scrape_configs:\n  - job_name: " << job << "\n    static_configs:\n"
            << "      - targets: [";
        for (std::size_t i = 0; i < targetPorts.size(); ++i) {
            out << (i == 0 ? "'" : ", '") << "127.0.0.1:" << targetPorts[i] << "'";
        }
        out << "]\n";
        out.close();
        process_ = std::make_unique<ChildProcess>(std::vector<std::string>{
            kPrometheusProgram, "--config.file=" + config.string(),
            "--storage.tsdb.path=" + (dir / "tsdb").string(),
            "--web.listen-address=127.0.0.1:" + std::to_string(port_), "--log.level=warn"});
    }

    // The API's JSON answer to an instant query.
    std::string Query(const std::string& promql) const {
        return HttpGetBody(port_, "/api/v1/query?query=" + UrlEncoded(promql));
    }
    std::string Err() const { return process_->Err(); }
    int Port() const { return port_; }

  private:
    int port_;
    std::unique_ptr<ChildProcess> process_;
};

}  // namespace corvane3::testing
