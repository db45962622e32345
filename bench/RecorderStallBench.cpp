// How long one record holds the interface thread when its file cannot be opened: a file the
// recorder may not write (here a folder where the file should be, as a read-only file system or
// another owner's file: tried once) and a busy file (a program running from it: tried again
// briefly). Both must stay within a 16 ms frame.

#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "core/telemetry/TelemetryRecorder.h"
#include "support/TelemetryTestData.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct QuietUi : corvane3::ITelemetryUi {
    void ShowMessage(const std::string&, const std::string&) override {}
};

void WriteUnopenable(benchmark::State& state, bool busy) {
    const fs::path dir = fs::temp_directory_path() / ("recorder_stall_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path file = dir / "Unit1234.csd";
    pid_t running = 0;
    if (busy) {
        fs::copy_file("/bin/sleep", file);
        char* argv[] = {const_cast<char*>(file.c_str()), const_cast<char*>("1000"), nullptr};
        ::posix_spawn(&running, file.c_str(), nullptr, nullptr, argv, environ);
        ::usleep(200000);  // until it runs from the file; a stall measured too low shows here
    } else {
        fs::create_directory(file);
    }
    QuietUi ui;
    corvane3::CTelemetryRecorder recorder(ui);
    corvane3::CProgramSettings settings;
    settings.DatafileDirectory = dir.string();
    const corvane3::UnitStateData data = corvane3::testing::SampleRecord();
    for (auto _ : state) {
        benchmark::DoNotOptimize(recorder.WriteTelemetryRecord(data, 403, settings));
    }
    if (running > 0) {
        ::kill(running, SIGKILL);
        ::waitpid(running, nullptr, 0);
    }
    fs::remove_all(dir);
}

void BM_RecordToAFileThatCannotBeWritten(benchmark::State& state) { WriteUnopenable(state, false); }
void BM_RecordToABusyFile(benchmark::State& state) { WriteUnopenable(state, true); }

}  // namespace

BENCHMARK(BM_RecordToAFileThatCannotBeWritten)->Iterations(100)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RecordToABusyFile)->Iterations(20)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
