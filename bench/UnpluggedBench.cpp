// The program's CPU use while its instrument is gone. The simulator is started and the program
// runs against it until it has polled; then the simulator ends, so its terminal and the link to
// it vanish as an unplugged USB adapter's device does, and the program's CPU time is measured
// for 20 s: headless, and with its window (offscreen). Reported as a share of one core.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace {

using corvane3::testing::ChildProcess;
using corvane3::testing::TempDir;
using namespace std::chrono_literals;

constexpr auto kMeasured = 20s;
// The window gets this long to open the port and poll before the simulator goes.
constexpr auto kWindowPolling = 6s;

// User and system CPU seconds of a process so far, from /proc.
double CpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // Fields after the command name (which may hold blanks) start after its closing ')'.
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long ticks = 0;
    for (int index = 3; index <= 15 && fields >> field; ++index) {
        if (index == 14 || index == 15) {  // utime, stime
            ticks += std::stol(field);
        }
    }
    return static_cast<double>(ticks) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

void MeasureUnplugged(benchmark::State& state, bool window) {
    for (auto _ : state) {
        TempDir dir;
        const std::string link = (dir.Path() / "clock").string();
        const std::string config = (dir.Path() / "Corvane3.ini").string();
        std::ofstream(config) << "[COM]\nPortName=" << link << "\n";
        auto sim = std::make_unique<ChildProcess>(
            std::vector<std::string>{CORVANE3_SIM_PROGRAM, "--warmup", "0", "--link", link});
        if (sim->ReadLine().empty()) {
            state.SkipWithError("the simulator did not start");
            return;
        }
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ChildProcess program(window ? std::vector<std::string>{CORVANE3_PROGRAM, "--config", config}
                                    : std::vector<std::string>{CORVANE3_PROGRAM, "--headless",
                                                               "--config", config, "--port", link});
        if (window) {
            std::this_thread::sleep_for(kWindowPolling);
        } else {
            while (program.ReadLine().rfind("MJD ", 0) != 0) {
            }
        }
        sim->Signal(SIGTERM);
        sim->Wait();
        sim.reset();
        const double before = CpuSeconds(program.Pid());
        std::this_thread::sleep_for(kMeasured);
        const double used = CpuSeconds(program.Pid()) - before;
        const double seconds = std::chrono::duration<double>(kMeasured).count();
        state.SetIterationTime(seconds);
        state.counters["cpu_percent_of_a_core"] = 100.0 * used / seconds;
        program.Signal(SIGTERM);
        program.Wait();
    }
}

void BM_UnpluggedHeadless(benchmark::State& state) {
    MeasureUnplugged(state, false);
}
void BM_UnpluggedWindow(benchmark::State& state) {
    MeasureUnplugged(state, true);
}
BENCHMARK(BM_UnpluggedHeadless)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_UnpluggedWindow)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
