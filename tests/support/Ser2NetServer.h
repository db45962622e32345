#pragma once
// A real ser2net (Debian's package) run by a test with a configuration of its own: one
// loopback TCP port, telnet with RFC 2217 or raw, in front of one device path.

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "support/ChildProcess.h"
#include "support/HttpClient.h"
#include "support/PrometheusServer.h"

namespace corvane3::testing {

inline constexpr char kSer2NetProgram[] = "/usr/sbin/ser2net";

class Ser2NetServer {
  public:
    // device starts at line ("9600o72": baud, parity, data bits, stop bits).
    Ser2NetServer(const std::filesystem::path& dir, const std::string& device, bool rfc2217,
                  const std::string& line = "9600o72")
        : dir_(dir), port_(FreeLoopbackPort()), rfc2217_(rfc2217) {
        std::ofstream(dir_ / "ser2net.yaml")
            << "%YAML 1.1\n---\nconnection: &unit\n  accepter: "
            << (rfc2217 ? "telnet(rfc2217),tcp(nodelay),127.0.0.1," : "tcp(nodelay),127.0.0.1,")
            << port_ << "\n  connector: serialdev," << device << "," << line << ",local\n";
        Start();
    }

    // Starts it again on the same port; true once it accepts connections.
    bool Start() {
        process_ = std::make_unique<ChildProcess>(std::vector<std::string>{
            kSer2NetProgram, "-n", "-u", "-P", (dir_ / "ser2net.pid").string(), "-c",
            (dir_ / "ser2net.yaml").string()});
        // A probe connection that ser2net accepts and this test closes at once.
        return started_ = WaitUntil(std::chrono::seconds(kGenerousMs / 1000), [this] {
                   const int fd = Connect(port_);
                   return fd >= 0 && ::close(fd) == 0;
               });
    }
    void Stop() {
        process_->Signal(SIGTERM);
        process_->Wait();
    }
    bool Started() const { return started_; }
    // The port name the program is given.
    std::string PortName() const {
        return (rfc2217_ ? "rfc2217://127.0.0.1:" : "tcp://127.0.0.1:") + std::to_string(port_);
    }

  private:
    std::filesystem::path dir_;
    int port_;
    bool rfc2217_;
    bool started_ = false;
    std::unique_ptr<ChildProcess> process_;
};

}  // namespace corvane3::testing
