// The unit over a ser2net on loopback (RFC 2217 and raw TCP) against the direct device: the
// latency of one command-and-status-record exchange, and the records a polling thread at the
// shortest interval takes per minute. ser2net is Debian's, started here with its own
// configuration in front of the in-process simulator.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <thread>

#include "core/link/TolvexLink.h"
#include "core/poll/PollingThread.h"
#include "sim/SimulatorServer.h"
#include "support/RecordingSink.h"
#include "support/Ser2NetServer.h"
#include "support/SimClient.h"
#include "support/TempDir.h"

namespace corvane3 {
namespace {

enum EPath { kDirect, kRfc2217, kRawTcp };

// A simulator and, unless direct, a ser2net in front of it; PortName() is what the program uses.
class UnitPath {
  public:
    explicit UnitPath(EPath path) {
        sim::SimulatorOptions options = testing::QuickOptions(403);
        options.link = dir_.Path() / "unit";
        sim_ = std::make_unique<sim::CSimulatorServer>(options);
        name_ = options.link.string();
        if (path != kDirect) {
            server_ =
                std::make_unique<testing::Ser2NetServer>(dir_.Path(), name_, path == kRfc2217);
            name_ = server_->PortName();
        }
    }
    bool Ready() const { return sim_->IsOpen() && (!server_ || server_->Started()); }
    const std::string& PortName() const { return name_; }

  private:
    testing::TempDir dir_;
    std::unique_ptr<sim::CSimulatorServer> sim_;
    std::unique_ptr<testing::Ser2NetServer> server_;
    std::string name_;
};

void BM_StatusRecordExchange(benchmark::State& state) {
    UnitPath unit(static_cast<EPath>(state.range(0)));
    CLinkStatus status;
    CSerialPort port(status);
    port.SetSettings({unit.PortName(), 9600, kParityOdd, kStopBitsTwo, 7});
    if (!unit.Ready() || !port.OpenPort() || !port.ConfigurePort()) {
        state.SkipWithError("unit path not available");
        return;
    }
    std::atomic<std::int32_t> model{403};
    CTolvexLink link(port, model);
    std::string reply;
    for (auto _ : state) {
        if (!link.SendCmd("D*1", 0, "") || !link.GetResponse(reply, kEtx, kCatalogueReplyLimit)) {
            state.SkipWithError("exchange failed");
            break;
        }
    }
}
BENCHMARK(BM_StatusRecordExchange)
    ->ArgName("direct0_rfc2217_1_tcp2")
    ->DenseRange(kDirect, kRawTcp)
    ->Unit(benchmark::kMillisecond);

// Records in one minute of polling at the shortest interval.
void BM_RecordsPerMinute(benchmark::State& state) {
    UnitPath unit(static_cast<EPath>(state.range(0)));
    for (auto _ : state) {
        CLinkStatus status;
        CSerialPort port(status);
        port.SetSettings({unit.PortName(), 9600, kParityOdd, kStopBitsTwo, 7});
        CUnitState unitState;
        CPollingShared shared;
        CProgramSettings settings;
        settings.PollingInterval = kMinPollingInterval;
        testing::RecordingSink sink;
        CPollingThread thread(port, unitState, status, shared, settings, sink);
        thread.StartBackgroundThread();
        std::this_thread::sleep_for(std::chrono::minutes(1));
        thread.StopBackgroundThread();
        const std::vector<int> codes = sink.Codes();
        state.counters["records_per_minute"] =
            static_cast<double>(std::count(codes.begin(), codes.end(), kNotifyStatusRecord));
    }
}
BENCHMARK(BM_RecordsPerMinute)
    ->ArgName("direct0_rfc2217_1_tcp2")
    ->DenseRange(kDirect, kRawTcp)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace
}  // namespace corvane3

BENCHMARK_MAIN();
