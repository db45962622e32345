// The metrics endpoint's cost: rendering the text, a whole scrape over loopback (connect, GET,
// read to the close) of the text a Tq9000 gives, the CPU use of a headless run against the
// simulator that Prometheus would scrape every second, measured for 60 s from /proc as a share
// of one core, and how late records come on a 2 s schedule while the endpoint is flooded.

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "app/MetricsServer.h"
#include "core/metrics/MetricsExposition.h"
#include "support/ChildProcess.h"
#include "support/TelemetryTestData.h"
#include "support/TempDir.h"

namespace {

using namespace corvane3;
using corvane3::testing::ChildProcess;
using corvane3::testing::TempDir;
using namespace std::chrono_literals;

constexpr auto kMeasured = 60s;
constexpr auto kScrapeEvery = 1s;

MetricsSnapshot Tq9000Snapshot() {
    MetricsSnapshot snapshot;
    snapshot.up = true;
    snapshot.hasRecord = true;
    snapshot.record = corvane3::testing::SampleRecord();
    snapshot.record.d1.valid.fill(true);
    snapshot.model = kModelTq9000;
    snapshot.recording = true;
    snapshot.signalSlopePerDay = -1e-4;
    snapshot.signalHalvesMjd = 67000.0;
    return snapshot;
}

// One whole scrape: the body's size, 0 when none came.
std::size_t Scrape(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::size_t received = 0;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        static const std::string request = "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        char buffer[16384];
        for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
            received += static_cast<std::size_t>(n);
        }
    }
    ::close(fd);
    return received;
}

void BM_RenderMetrics(benchmark::State& state) {
    const MetricsSnapshot snapshot = Tq9000Snapshot();
    for (auto _ : state) {
        benchmark::DoNotOptimize(RenderMetrics(snapshot));
    }
}
BENCHMARK(BM_RenderMetrics)->Unit(benchmark::kMicrosecond);

void BM_ScrapeOverLoopback(benchmark::State& state) {
    CMetricsServer server;
    std::string error;
    if (!server.Start({"127.0.0.1", 0}, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    const std::string text = RenderMetrics(Tq9000Snapshot());
    server.Publish(text);
    for (auto _ : state) {
        if (Scrape(server.Port()) <= text.size()) {
            state.SkipWithError("a scrape got no whole answer");
            return;
        }
    }
    state.counters["bytes"] = static_cast<double>(text.size());
}
BENCHMARK(BM_ScrapeOverLoopback)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// User and system CPU seconds of a process so far, from /proc.
double CpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
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

void BM_HeadlessCpuScrapedEverySecond(benchmark::State& state) {
    for (auto _ : state) {
        TempDir dir;
        const std::string link = (dir.Path() / "clock").string();
        ChildProcess sim({CORVANE3_SIM_PROGRAM, "--warmup", "0", "--link", link});
        if (sim.ReadLine().empty()) {
            state.SkipWithError("the simulator did not start");
            return;
        }
        // The logger as a service runs it: recording, at the default interval.
        ChildProcess program({CORVANE3_PROGRAM, "--headless", "--config",
                              (dir.Path() / "Corvane3.ini").string(), "--port", link, "--record",
                              dir.Path().string(), "--metrics", "0"});
        std::smatch match;
        const std::string first = program.ReadLine();
        if (!std::regex_search(first, match, std::regex(R"(:(\d+)/metrics)"))) {
            state.SkipWithError("the run did not say its metrics port");
            return;
        }
        const int port = std::stoi(match[1]);
        while (program.ReadLine().rfind("MJD ", 0) != 0) {
        }
        const double before = CpuSeconds(program.Pid());
        const auto start = std::chrono::steady_clock::now();
        int scrapes = 0;
        for (auto next = start; next < start + kMeasured; next += kScrapeEvery) {
            std::this_thread::sleep_until(next);
            scrapes += Scrape(port) > 0;
        }
        const double used = CpuSeconds(program.Pid()) - before;
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds);
        state.counters["cpu_percent_of_a_core"] = 100.0 * used / seconds;
        state.counters["scrapes"] = scrapes;
        program.Signal(SIGTERM);
        program.Wait();
        sim.Signal(SIGTERM);
        sim.Wait();
    }
}
BENCHMARK(BM_HeadlessCpuScrapedEverySecond)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

// Starts the simulator and a recording headless run with metrics in dir; the metrics port, or 0.
int StartRecordingRun(const TempDir& dir, std::unique_ptr<ChildProcess>& sim,
                      std::unique_ptr<ChildProcess>& program, const std::string& interval) {
    const std::string link = (dir.Path() / "clock").string();
    sim = std::make_unique<ChildProcess>(
        std::vector<std::string>{CORVANE3_SIM_PROGRAM, "--warmup", "0", "--link", link});
    if (sim->ReadLine().empty()) {
        return 0;
    }
    program = std::make_unique<ChildProcess>(std::vector<std::string>{
        CORVANE3_PROGRAM, "--headless", "--config", (dir.Path() / "Corvane3.ini").string(),
        "--port", link, "--interval", interval, "--record", dir.Path().string(), "--metrics",
        "0"});
    std::smatch match;
    const std::string first = program->ReadLine();
    if (!std::regex_search(first, match, std::regex(R"(:(\d+)/metrics)"))) {
        return 0;
    }
    return std::stoi(match[1]);
}

// Records on a 2 s schedule while 200 connections at a time flood the endpoint for 14 s: the
// largest distance of a record's time from its place on the schedule.
void BM_RecordLatenessUnderFlood(benchmark::State& state) {
    constexpr auto kFloodFor = 14s;
    constexpr int kFlood = 200;
    constexpr double kIntervalSeconds = 2.0;
    for (auto _ : state) {
        TempDir dir;
        std::unique_ptr<ChildProcess> sim, program;
        const int port = StartRecordingRun(dir, sim, program, "2");
        if (port == 0) {
            state.SkipWithError("the simulator or the run did not start");
            return;
        }
        while (program->ReadLine().rfind("MJD ", 0) != 0) {
        }
        const auto end = std::chrono::steady_clock::now() + kFloodFor;
        while (std::chrono::steady_clock::now() < end) {
            std::vector<std::thread> flood;
            for (int i = 0; i < kFlood; ++i) {
                flood.emplace_back([port] { Scrape(port); });
            }
            for (std::thread& client : flood) {
                client.join();
            }
        }
        program->Signal(SIGTERM);
        program->Wait();
        sim->Signal(SIGTERM);
        sim->Wait();
        std::vector<double> times;
        std::ifstream records(dir.Path() / "Unit1234.csd");
        for (std::string line; std::getline(records, line);) {
            if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0])) != 0) {
                times.push_back((std::stod(line) - 40587.0) * 86400.0);
            }
        }
        double latest = 0.0;
        for (std::size_t k = 1; k < times.size(); ++k) {
            latest = std::max(latest, std::abs(times[k] - times[0] -
                                               kIntervalSeconds * static_cast<double>(k)));
        }
        state.counters["records"] = static_cast<double>(times.size());
        state.counters["max_lateness_s"] = latest;
    }
}
BENCHMARK(BM_RecordLatenessUnderFlood)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
