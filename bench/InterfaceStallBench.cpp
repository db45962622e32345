// How long the interface thread waits on the serial port while the polling thread searches for
// an instrument on a silent port: every attempt spends about a second in a timed read, and a
// window that shows the settings being tried must not freeze for that long.
//
// Reported counters: max_stall_ms (the longest single Settings(), SetSettings() or IsOpen()
// call) and calls (how many calls were made during the search).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "core/config/ProgramSettings.h"
#include "core/poll/PollingThread.h"
#include "sim/PseudoTerminal.h"

namespace {

using Clock = std::chrono::steady_clock;

class NullSink : public corvane3::INotificationSink {
  public:
    void PostNotification(int) override {}
};

void BM_InterfaceStallDuringAutoDetect(benchmark::State& state) {
    const auto searchTime = std::chrono::seconds(state.range(0));
    for (auto _ : state) {
        corvane3::CPseudoTerminal pty;  // nobody answers
        if (!pty.IsOpen()) {
            state.SkipWithError("pseudo-terminal not available");
            return;
        }
        NullSink sink;
        corvane3::CLinkStatus status;
        corvane3::CSerialPort port(status);
        corvane3::SerialLineSettings line;
        line.name = pty.SlavePath();
        port.SetSettings(line);
        corvane3::CUnitState unit;
        corvane3::CPollingShared shared;
        corvane3::CProgramSettings settings;
        corvane3::PollingHooks hooks;
        hooks.listPorts = [&] { return std::vector<std::string>{pty.SlavePath()}; };
        corvane3::CPollingThread thread(port, unit, status, shared, settings, sink, hooks);
        shared.AutoDetect = true;
        thread.StartBackgroundThread();

        // The interface thread: reads the settings to show them, writes them back, asks
        // whether the port is open, over and over.
        Clock::duration longest{};
        long calls = 0;
        const auto end = Clock::now() + searchTime;
        while (Clock::now() < end) {
            const auto before = Clock::now();
            corvane3::SerialLineSettings shown = port.Settings();
            port.SetSettings(shown);
            benchmark::DoNotOptimize(port.IsOpen());
            longest = std::max(longest, Clock::now() - before);
            calls += 3;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        shared.AutoDetect = false;
        thread.StopBackgroundThread();
        state.counters["max_stall_ms"] = std::chrono::duration<double, std::milli>(longest).count();
        state.counters["calls"] = static_cast<double>(calls);
    }
}
BENCHMARK(BM_InterfaceStallDuringAutoDetect)
    ->Arg(6)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
