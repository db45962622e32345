// The plot cache of a year-scale telemetry file (a million Tq9000 records written with the
// recorder's own line functions, read into a plot store and fed to the cache) and of a decade
// (31.5 million records of synthetic values fed directly): building and writing it, opening it
// again, one frame of five panes at 2000 pixel columns, and the statistics and decay fit over
// all records. The cache's size over the .csd file's size is reported as size_ratio.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "core/plot/PlotCache.h"
#include "core/plot/PlotData.h"
#include "core/telemetry/DataFileReader.h"
#include "core/telemetry/TelemetryFormat.h"
#include "support/TelemetryTestData.h"

namespace {

namespace fs = std::filesystem;
using namespace corvane3;

constexpr std::int64_t kYearRecords = 1'000'000;
constexpr std::int64_t kDecadeRecords = 31'500'000;
constexpr int kPixelColumns = 2000;
// The five panes of the first plot view: bottom to top.
constexpr int kPaneChannels[] = {4, 2, 15, 17, 30};
// Records handed to the cache at a time, as a parser's chunk.
constexpr std::int64_t kFeedRecords = 1 << 16;

struct Fixture {
    fs::path folder;
    fs::path csd;
    fs::path cache;
    std::uintmax_t csdBytes = 0;
    CPlotData store;
    std::vector<PlotCacheChannel> channels;
};

// A Tq9000 recording a record every 10 s: slow drifts, a daily swing and a little noise.
std::string CsdText(std::int64_t records) {
    std::mt19937 random(27);
    std::uniform_int_distribution<int> counts(-3, 3);
    std::normal_distribution<float> wobble(0.0f, 1.0f);
    UnitStateData data = testing::SampleRecord();
    std::string text = TelemetryHeaderLine(kModelTq9000) + kTelemetryLineEnd;
    for (std::int64_t i = 0; i < records; ++i) {
        const double run = static_cast<double>(i) / static_cast<double>(records);
        data.mjd = 60123.0 + static_cast<double>(i) * 10.0 / 86400.0;
        data.d1.cLevel = 2500 - static_cast<std::int32_t>(120.0 * run) + counts(random);
        data.d1.cRamErr = 12 + counts(random);
        data.d1.tChassis =
            static_cast<float>(35.5 + 1.5 * std::sin(static_cast<double>(i) / 1375.0)) +
            0.05f * wobble(random);
        data.d1.vem = static_cast<float>(12.5 + 0.8 * run) + 0.01f * wobble(random);
        data.d1.dcLevel = 4000 + counts(random) * 5;
        text += TelemetryRecordLine(data, kModelTq9000) + kTelemetryLineEnd;
    }
    return text;
}

std::optional<Fixture>& YearStorage() {
    static std::optional<Fixture> fixture;
    return fixture;
}

Fixture* Year() {
    std::optional<Fixture>& fixture = YearStorage();
    if (fixture) {
        return &*fixture;
    }
    std::string pattern = (fs::temp_directory_path() / "plot_cache_bench_XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        return nullptr;
    }
    fixture.emplace();
    fixture->folder = pattern;
    fixture->csd = fixture->folder / "Unit1234.csd";
    fixture->cache = fixture->folder / "cache" / "Unit1234.plotcache";
    {
        const std::string text = CsdText(kYearRecords);
        std::FILE* out = std::fopen(fixture->csd.c_str(), "wb");
        if (out == nullptr || std::fwrite(text.data(), 1, text.size(), out) != text.size()) {
            return nullptr;
        }
        std::fclose(out);
    }
    fixture->csdBytes = fs::file_size(fixture->csd);
    if (ReadDataFile(fixture->store, fixture->csd.string(), {}).status != EDataFileRead::kRead) {
        return nullptr;
    }
    fixture->channels.push_back({CPlotData::kAxis0Slot, EPlotStorage::kDouble});
    for (int slot = 0; slot < kPlotChannelSlots; ++slot) {
        if (fixture->store.MutableColumn(slot).Size() > 0) {
            fixture->channels.push_back({slot, fixture->store.ChannelStorage(slot)});
        }
    }
    return &*fixture;
}

// Feeds the store's points to the cache a chunk at a time, as the file's parser will.
void FeedFromStore(const Fixture& f, CPlotCache& cache) {
    cache.Reset(f.channels);
    const std::int64_t points = f.store.PointCount();
    std::vector<std::vector<double>> columns(f.channels.size());
    std::vector<std::span<const double>> spans(f.channels.size());
    for (std::int64_t first = 0; first < points; first += kFeedRecords) {
        const std::int64_t end = std::min(points, first + kFeedRecords);
        for (std::size_t c = 0; c < f.channels.size(); ++c) {
            const int slot = f.channels[c].slot;
            const CPlotSeries series =
                slot == CPlotData::kAxis0Slot ? f.store.TimeAxis(0) : f.store.Channel(slot);
            columns[c].resize(static_cast<std::size_t>(end - first));
            for (std::int64_t i = first; i < end; ++i) {
                columns[c][static_cast<std::size_t>(i - first)] = series[i];
            }
            spans[c] = columns[c];
        }
        cache.Append(spans);
    }
    cache.SetCoveredBytes(f.csdBytes);
}

void BM_BuildAndWriteYear(benchmark::State& state) {
    Fixture* f = Year();
    if (f == nullptr) {
        state.SkipWithError("could not generate the telemetry file");
        return;
    }
    for (auto _ : state) {
        CPlotCache cache;
        FeedFromStore(*f, cache);
        const PlotCacheWriteResult written = cache.Write(f->cache.string(), f->csd.string());
        if (!written.written) {
            state.SkipWithError(written.message.c_str());
            return;
        }
    }
    const auto cacheBytes = static_cast<double>(fs::file_size(f->cache));
    state.counters["records"] = static_cast<double>(f->store.PointCount());
    state.counters["csd_MB"] = static_cast<double>(f->csdBytes) / 1e6;
    state.counters["cache_MB"] = cacheBytes / 1e6;
    state.counters["size_ratio"] = cacheBytes / static_cast<double>(f->csdBytes);
}
BENCHMARK(BM_BuildAndWriteYear)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_OpenYear(benchmark::State& state) {
    Fixture* f = Year();
    if (f == nullptr || !fs::exists(f->cache)) {
        state.SkipWithError("no cache written");
        return;
    }
    for (auto _ : state) {
        CPlotCache cache;
        const PlotCacheOpenResult opened = cache.Open(f->cache.string(), f->csd.string());
        if (opened.status != EPlotCacheOpen::kValid) {
            state.SkipWithError(opened.reason.c_str());
            return;
        }
        benchmark::DoNotOptimize(cache.RecordCount());
    }
}
BENCHMARK(BM_OpenYear)->Unit(benchmark::kMillisecond);

// One frame: five panes of 2000 pixel columns over all records, on an opened cache whose
// decoded-block cache starts empty each time (the panes' first frame after opening).
void Frame(benchmark::State& state, const std::string& cachePath, const std::string& csd,
           const std::vector<int>& channels) {
    CPlotCache cache;
    const PlotCacheOpenResult opened = cache.Open(cachePath, csd);
    if (opened.status != EPlotCacheOpen::kValid) {
        state.SkipWithError(opened.reason.c_str());
        return;
    }
    for (auto _ : state) {
        for (const int channel : channels) {
            auto columns = cache.FrameColumns(channel, 0, cache.RecordCount(), kPixelColumns);
            benchmark::DoNotOptimize(columns.data());
        }
    }
    state.counters["records"] = static_cast<double>(cache.RecordCount());
    state.counters["memory_MB"] = static_cast<double>(cache.MemoryBytes()) / 1e6;
}

std::vector<int> PaneIndices(const CPlotCache& cache) {
    std::vector<int> indices;
    for (const int slot : kPaneChannels) {
        indices.push_back(cache.ChannelIndex(slot));
    }
    return indices;
}

void BM_FrameYear(benchmark::State& state) {
    Fixture* f = Year();
    if (f == nullptr || !fs::exists(f->cache)) {
        state.SkipWithError("no cache written");
        return;
    }
    CPlotCache probe;
    probe.Open(f->cache.string(), f->csd.string());
    Frame(state, f->cache.string(), f->csd.string(), PaneIndices(probe));
}
BENCHMARK(BM_FrameYear)->Unit(benchmark::kMicrosecond);

void BM_StatisticsAndFitYear(benchmark::State& state) {
    Fixture* f = Year();
    CPlotCache cache;
    if (f == nullptr ||
        cache.Open(f->cache.string(), f->csd.string()).status != EPlotCacheOpen::kValid) {
        state.SkipWithError("no cache written");
        return;
    }
    const std::vector<int> panes = PaneIndices(cache);
    const std::int64_t n = cache.RecordCount();
    for (auto _ : state) {
        // A view that does not start or end on a block border: two blocks decoded each time.
        for (const int channel : panes) {
            benchmark::DoNotOptimize(cache.Statistics(channel, 12345, n - 6789));
        }
        benchmark::DoNotOptimize(cache.FitDecay(12345, n - 6789));
    }
}
BENCHMARK(BM_StatisticsAndFitYear)->Unit(benchmark::kMicrosecond);

// A decade of records fed directly: the MJD and five readings as a unit gives them (counts
// and single-precision values with a little noise).
const std::string* Decade() {
    static std::optional<std::string> path;
    if (path) {
        return &*path;
    }
    Fixture* f = Year();
    if (f == nullptr) {
        return nullptr;
    }
    std::vector<PlotCacheChannel> channels = {{CPlotData::kAxis0Slot, EPlotStorage::kDouble}};
    for (const int slot : kPaneChannels) {
        channels.push_back({slot, slot == 15 || slot == 17 || slot == 30 ? EPlotStorage::kFloat
                                                                         : EPlotStorage::kInt32});
    }
    CPlotCache cache;
    cache.Reset(channels);
    std::mt19937 random(31);
    std::uniform_int_distribution<int> counts(-3, 3);
    std::vector<std::vector<double>> columns(channels.size(), std::vector<double>(kFeedRecords));
    std::vector<std::span<const double>> spans(columns.begin(), columns.end());
    for (std::int64_t first = 0; first < kDecadeRecords; first += kFeedRecords) {
        for (std::int64_t k = 0; k < kFeedRecords; ++k) {
            const std::int64_t i = first + k;
            const double run = static_cast<double>(i) / kDecadeRecords;
            const auto at = static_cast<std::size_t>(k);
            columns[0][at] = 60123.0 + static_cast<double>(i) * 10.0 / 86400.0;
            columns[1][at] = 2500 - std::floor(300.0 * run) + counts(random);
            columns[2][at] = 12 + counts(random);
            columns[3][at] = static_cast<float>(35.5 + counts(random) / 64.0);
            columns[4][at] = static_cast<float>(12.5 + run + counts(random) / 128.0);
            columns[5][at] = static_cast<float>(0.25 * columns[1][at]);
        }
        for (auto& span : spans) {
            span = span.first(static_cast<std::size_t>(
                std::min<std::int64_t>(kFeedRecords, kDecadeRecords - first)));
        }
        cache.Append(spans);
        for (std::size_t c = 0; c < spans.size(); ++c) {
            spans[c] = columns[c];
        }
    }
    cache.SetCoveredBytes(0);
    const std::string cachePath = (f->folder / "decade.plotcache").string();
    if (!cache.Write(cachePath, f->csd.string()).written) {
        return nullptr;
    }
    path = cachePath;
    return &*path;
}

void BM_FrameDecade(benchmark::State& state) {
    const std::string* cachePath = Decade();
    if (cachePath == nullptr) {
        state.SkipWithError("could not build the decade cache");
        return;
    }
    Frame(state, *cachePath, Year()->csd.string(), {1, 2, 3, 4, 5});
    state.counters["cache_MB"] = static_cast<double>(fs::file_size(*cachePath)) / 1e6;
}
BENCHMARK(BM_FrameDecade)->Unit(benchmark::kMicrosecond);

// The same frame with pixel columns bounded by times, as a pane's X axis gives them.
void BM_FrameDecadeByTime(benchmark::State& state) {
    const std::string* cachePath = Decade();
    CPlotCache cache;
    if (cachePath == nullptr ||
        cache.Open(*cachePath, Year()->csd.string()).status != EPlotCacheOpen::kValid) {
        state.SkipWithError("could not open the decade cache");
        return;
    }
    double first = 0.0;
    double last = 0.0;
    cache.Values(0, 0, 1, &first);
    cache.Values(0, cache.RecordCount() - 1, cache.RecordCount(), &last);
    std::vector<double> edges(kPixelColumns + 1);
    for (int c = 0; c <= kPixelColumns; ++c) {
        edges[static_cast<std::size_t>(c)] = first + (last - first) * c / kPixelColumns;
    }
    for (auto _ : state) {
        for (int channel = 1; channel <= 5; ++channel) {
            auto columns = cache.FrameColumnsMjd(channel, edges);
            benchmark::DoNotOptimize(columns.data());
        }
    }
}
BENCHMARK(BM_FrameDecadeByTime)->Unit(benchmark::kMicrosecond);

void BM_StatisticsDecade(benchmark::State& state) {
    const std::string* cachePath = Decade();
    CPlotCache cache;
    if (cachePath == nullptr ||
        cache.Open(*cachePath, Year()->csd.string()).status != EPlotCacheOpen::kValid) {
        state.SkipWithError("could not open the decade cache");
        return;
    }
    const std::int64_t n = cache.RecordCount();
    for (auto _ : state) {
        for (int channel = 1; channel <= 5; ++channel) {
            benchmark::DoNotOptimize(cache.Statistics(channel, 12345, n - 6789));
        }
    }
}
BENCHMARK(BM_StatisticsDecade)->Unit(benchmark::kMicrosecond);

void Cleanup() {
    if (YearStorage()) {
        std::error_code ignored;
        fs::remove_all(YearStorage()->folder, ignored);
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    Cleanup();
    benchmark::Shutdown();
    return 0;
}
