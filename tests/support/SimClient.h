#pragma once
// A simulator served in-process and the program's own serial port and link on its slave side.

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "core/link/CommandFrame.h"
#include "core/link/SerialPort.h"
#include "core/link/TolvexLink.h"
#include "sim/SimulatorServer.h"

namespace corvane3::testing {

inline sim::SimulatorOptions QuickOptions(int model = 403) {
    sim::SimulatorOptions options;
    options.instrument.model = model;
    options.instrument.warmup = std::chrono::milliseconds(0);
    options.instrument.sweepPointInterval = std::chrono::milliseconds(1);
    options.instrument.testLineInterval = std::chrono::milliseconds(10);
    return options;
}

class SimClient {
  public:
    explicit SimClient(sim::SimulatorOptions options)
        : server_(std::make_unique<sim::CSimulatorServer>(std::move(options))),
          model_(server_->WithInstrument([](sim::CSimulatedInstrument& i) { return i.Model(); })) {
        port_.SetSettings({.name = server_->SlavePath()});
        opened_ = port_.OpenPort() && port_.ConfigurePort();
    }
    bool Opened() const { return opened_ && server_->IsOpen(); }

    // One command and its reply read up to terminator.
    std::string Exchange(std::string_view code, std::uint32_t parameter = 0,
                         std::string_view data = {}, char terminator = kEtx,
                         int limit = kCatalogueReplyLimit) {
        std::string reply;
        if (link_.SendCmd(code, parameter, data)) {
            link_.GetResponse(reply, terminator, limit);
        }
        return reply;
    }
    // A command followed by a read of exactly count characters, as the record readers do.
    std::string ReadRecord(std::string_view code, std::size_t count) {
        std::string reply;
        if (link_.SendCmd(code, 0, {})) {
            port_.ReadBytes(count, reply);
        }
        return reply;
    }

    sim::CSimulatorServer& Server() { return *server_; }
    CSerialPort& Port() { return port_; }

  private:
    std::unique_ptr<sim::CSimulatorServer> server_;
    std::atomic<std::int32_t> model_;
    CLinkStatus status_;
    CSerialPort port_{status_};
    CTolvexLink link_{port_, model_};
    bool opened_ = false;
};

}  // namespace corvane3::testing
