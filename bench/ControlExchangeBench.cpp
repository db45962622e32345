// What a client of the logging service pays for an exchange: one command ("C03", the firmware
// version) and its reply against corvane3-sim, on the window's own port and through a headless
// run's control socket (which adds the socket, the JSON lines and the wait for the exchange lock
// between two polling passes). The run polls every 100000 s, so no status poll is in the way;
// the difference of the two is the added latency.

#include <benchmark/benchmark.h>

#include <atomic>
#include <memory>

#include "core/link/CommandFrame.h"
#include "core/link/LinkStatus.h"
#include "core/link/SerialPort.h"
#include "core/link/TolvexLink.h"
#include "support/ChildProcess.h"
#include "support/ControlClient.h"
#include "support/TempDir.h"

namespace {

using namespace corvane3;
using corvane3::testing::ChildProcess;
using corvane3::testing::ControlClient;
using corvane3::testing::TempDir;

// corvane3-sim on dir/clock, started (it says so in its first line) for the benchmark's length.
std::unique_ptr<ChildProcess> StartSim(const TempDir& dir) {
    auto sim = std::make_unique<ChildProcess>(std::vector<std::string>{
        CORVANE3_SIM_PROGRAM, "--warmup", "0", "--link", (dir.Path() / "clock").string()});
    return sim->ReadLine().empty() ? nullptr : std::move(sim);
}

void BM_ExchangeOnOwnPort(benchmark::State& state) {
    TempDir dir;
    const auto sim = StartSim(dir);
    CLinkStatus status;
    CSerialPort port(status);
    SerialLineSettings line = port.Settings();
    line.name = (dir.Path() / "clock").string();
    port.SetSettings(line);
    if (!sim || !port.OpenPort() || !port.ConfigurePort()) {
        state.SkipWithError("the simulator's port did not open");
        return;
    }
    std::atomic<std::int32_t> model{403};
    CTolvexLink link(port, model);
    for (auto _ : state) {
        std::string reply;
        if (!link.SendCmd("C03", 0, "") || !link.GetResponse(reply, kEtx, kOrdinaryReplyLimit)) {
            state.SkipWithError("exchange failed");
            break;
        }
    }
}
BENCHMARK(BM_ExchangeOnOwnPort)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_ExchangeThroughControlSocket(benchmark::State& state) {
    TempDir dir;
    const auto sim = StartSim(dir);
    const std::string socket = (dir.Path() / "control.sock").string();
    ChildProcess run(
        {CORVANE3_PROGRAM, "--headless", "--config", (dir.Path() / "absent.ini").string(), "--port",
         (dir.Path() / "clock").string(), "--interval", "100000", "--control", socket});
    ControlClient client(socket);
    // The first record: the link is up and the first poll is over.
    if (!sim || !client.Connected() || !client.NextOf<RecordMessage>()) {
        state.SkipWithError("the headless run did not serve its link");
        return;
    }
    for (auto _ : state) {
        const auto reply = client.Exchange({"C03", "", 0, kOrdinaryReplyLimit, EReplyEnd::kEtx});
        if (!reply || !reply->complete) {
            state.SkipWithError("exchange failed");
            break;
        }
    }
    run.Signal(SIGTERM);
    run.Wait();
}
BENCHMARK(BM_ExchangeThroughControlSocket)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
