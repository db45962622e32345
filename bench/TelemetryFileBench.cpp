// A year-scale telemetry file: a million Tq9000 records (51 columns, about 245 MB) written with
// the recorder's own line functions, then loaded into a plot store, summarised by
// `corvane3 --summary` in a child process, and, for comparison, read by pandas when it is
// installed. The file is written once per run into a temporary directory and removed at the end.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "TelemetryFileMaker.h"
#include "core/plot/PlotData.h"
#include "core/telemetry/DataFileReader.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kRecords = 1'000'000;

// The generated file's directory and path; created on first use.
struct GeneratedFile {
    fs::path directory;
    fs::path path;
    std::uintmax_t bytes = 0;
};

std::optional<GeneratedFile>& File() {
    static std::optional<GeneratedFile> file;
    return file;
}

const GeneratedFile* GenerateFile() {
    std::optional<GeneratedFile>& file = File();
    if (file) {
        return &*file;
    }
    std::string pattern = (fs::temp_directory_path() / "telemetry_bench_XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        return nullptr;
    }
    GeneratedFile generated{.directory = pattern, .path = fs::path(pattern) / "year.csd"};
    std::FILE* out = std::fopen(generated.path.c_str(), "wb");
    if (out == nullptr) {
        fs::remove_all(generated.directory);
        return nullptr;
    }
    // One record per second from a steady unit.
    const bool written = corvane3::bench::WriteTelemetryFile(
        {.records = kRecords, .intervalSeconds = 1.0, .model = corvane3::kModelTq9000}, out);
    if (std::fclose(out) != 0 || !written) {
        fs::remove_all(generated.directory);
        return nullptr;
    }
    generated.bytes = fs::file_size(generated.path);
    file = std::move(generated);
    return &*file;
}

void RemoveFile() {
    std::optional<GeneratedFile>& file = File();
    if (file) {
        std::error_code ignored;
        fs::remove_all(file->directory, ignored);
        file.reset();
    }
}

struct ChildRun {
    bool ok = false;
    double seconds = 0;
    long peakKilobytes = 0;
};

// Runs argv with its output discarded and waits for it: its wall time and its own peak
// resident size.
ChildRun RunChild(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    ChildRun run;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        return run;
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) {
        return run;
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.peakKilobytes = usage.ru_maxrss;
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

void ReportChild(benchmark::State& state, const ChildRun& run) {
    state.SetIterationTime(run.seconds);
    state.counters["wall_s"] = run.seconds;
    state.counters["peak_MB"] = static_cast<double>(run.peakKilobytes) / 1024.0;
}

// The last --summary wall time, for the pandas comparison that runs after it.
std::optional<double>& SummarySeconds() {
    static std::optional<double> seconds;
    return seconds;
}

void BM_LoadYearFile(benchmark::State& state) {
    const GeneratedFile* file = GenerateFile();
    if (file == nullptr) {
        state.SkipWithError("cannot write the telemetry file");
        return;
    }
    corvane3::CPlotData store;
    corvane3::DataFileReadResult result;
    for (auto _ : state) {
        result = corvane3::ReadDataFile(store, file->path.string());
    }
    if (result.status != corvane3::EDataFileRead::kRead || store.PointCount() != kRecords) {
        state.SkipWithError("the file was not read whole");
        return;
    }
    state.counters["records_per_s"] =
        benchmark::Counter(static_cast<double>(kRecords), benchmark::Counter::kIsRate);
    state.counters["file_MB"] = static_cast<double>(file->bytes) / (1024.0 * 1024.0);
    state.counters["bytes_per_record"] =
        static_cast<double>(store.MemoryBytes()) / static_cast<double>(store.PointCount());
}
BENCHMARK(BM_LoadYearFile)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_SummaryCommand(benchmark::State& state) {
    const GeneratedFile* file = GenerateFile();
    if (file == nullptr) {
        state.SkipWithError("cannot write the telemetry file");
        return;
    }
    ChildRun run;
    for (auto _ : state) {
        run = RunChild({CORVANE3_PROGRAM, "--summary", file->path.string()});
        if (!run.ok) {
            state.SkipWithError("corvane3 --summary failed");
            return;
        }
        ReportChild(state, run);
    }
    SummarySeconds() = run.seconds;
}
BENCHMARK(BM_SummaryCommand)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// The plot window opened on the file from the command line until its first frame is saved,
// offscreen. CORVANE3_BENCH_SCREENSHOT names where the picture is kept (else it is dropped).
void BM_PlotWindowScreenshot(benchmark::State& state) {
    const GeneratedFile* file = GenerateFile();
    if (file == nullptr) {
        state.SkipWithError("cannot write the telemetry file");
        return;
    }
    const char* keep = std::getenv("CORVANE3_BENCH_SCREENSHOT");
    const std::string picture = keep ? keep : (file->directory / "year.png").string();
    const std::string config = (file->directory / "Corvane3.ini").string();
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    for (auto _ : state) {
        const ChildRun run = RunChild(
            {CORVANE3_PROGRAM, "--config", config, file->path.string(), "--screenshot", picture});
        if (!run.ok || !fs::exists(picture)) {
            state.SkipWithError("corvane3 --screenshot failed");
            return;
        }
        ReportChild(state, run);
    }
}
BENCHMARK(BM_PlotWindowScreenshot)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// The first Python that imports pandas: the one on PATH, else the system's (a PATH Python from
// a version manager does not see the distribution's packages).
std::optional<std::string> PythonWithPandas() {
    for (const char* python : {"python3", "/usr/bin/python3"}) {
        if (RunChild({python, "-c", "import pandas"}).ok) {
            return python;
        }
    }
    return std::nullopt;
}

void BM_PandasReadAndDescribe(benchmark::State& state) {
    const std::optional<std::string> python = PythonWithPandas();
    if (!python) {
        state.SkipWithError("python3 with pandas not installed: no comparison");
        return;
    }
    const GeneratedFile* file = GenerateFile();
    if (file == nullptr) {
        state.SkipWithError("cannot write the telemetry file");
        return;
    }
    ChildRun run;
    for (auto _ : state) {
        run = RunChild({*python, "-c",
                        "import sys, pandas as pd; pd.read_csv(sys.argv[1]).describe()",
                        file->path.string()});
        if (!run.ok) {
            state.SkipWithError("pandas could not read the file");
            return;
        }
        ReportChild(state, run);
    }
    // How many times faster --summary is than pandas on the same file.
    if (SummarySeconds() && *SummarySeconds() > 0) {
        state.counters["pandas_over_summary"] = run.seconds / *SummarySeconds();
    }
}
BENCHMARK(BM_PandasReadAndDescribe)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    RemoveFile();
    return 0;
}
