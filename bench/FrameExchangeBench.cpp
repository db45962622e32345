// One command frame written and one status-record-sized reply read over a pseudo-terminal:
// the cost of an exchange on the program's side, without line-speed delays.

#include <benchmark/benchmark.h>

#include "core/link/CommandFrame.h"
#include "core/link/TolvexLink.h"
#include "sim/PseudoTerminal.h"

namespace {

void BM_BuildFrame(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(corvane3::BuildFrame("W00", 12345, "+0020", 403));
    }
}
BENCHMARK(BM_BuildFrame);

void BM_CommandAndReplyOverPty(benchmark::State& state) {
    const std::size_t replyLength = static_cast<std::size_t>(state.range(0));
    corvane3::CPseudoTerminal pty;
    corvane3::CLinkStatus status;
    corvane3::CSerialPort port(status);
    corvane3::SerialLineSettings line;
    line.name = pty.SlavePath();
    port.SetSettings(line);
    if (!pty.IsOpen() || !port.OpenPort() || !port.ConfigurePort()) {
        state.SkipWithError("pseudo-terminal not available");
        return;
    }
    std::atomic<std::int32_t> model{403};
    corvane3::CTolvexLink link(port, model);
    std::string reply =
        "\x02"
        "D*1 00000 " +
        std::string(replyLength - 12, 'x') + "\x03";
    std::string received;
    for (auto _ : state) {
        pty.Write(reply);
        if (!link.SendCmd("D*1", 0, "") || !link.GetResponse(received, corvane3::kEtx, 256)) {
            state.SkipWithError("exchange failed");
            break;
        }
        pty.ReadCount(12, std::chrono::seconds(1));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * replyLength));
}
BENCHMARK(BM_CommandAndReplyOverPty)->Arg(250)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
