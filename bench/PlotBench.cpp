// The plot window's cost with years of telemetry: a frame of the five data panes at 1200 x 800
// with 100k and 3M points per pane, and one live record taken and drawn with 3M points held.
// Offscreen; the points come through the window's own live path.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>

#include "core/config/ProgramSettings.h"
#include "gui/plot/PlotDlg.h"
#include "gui/plot/TracePlot.h"
#include "support/TelemetryTestData.h"

namespace {

using namespace corvane3;

constexpr double kSecondsPerDay = 86400.0;
constexpr int kWidth = 1200;
constexpr int kHeight = 800;

// Record i of a unit polled every 10 s, with readings that wander.
UnitStateData RecordAt(std::int64_t i) {
    static const UnitStateData base = testing::SampleRecord();
    UnitStateData data = base;
    const double t = static_cast<double>(i);
    data.mjd = 60000.0 + t * 10.0 / kSecondsPerDay;
    data.d1.cRamErr = static_cast<std::int32_t>(20.0 * std::sin(t / 977.0) + (i * 7919) % 13);
    data.d1.cRabErr = static_cast<std::int32_t>(-340 + (i * 104729) % 31);
    data.d1.vvcxo = static_cast<std::int32_t>(-1234 + t / 20000.0);
    data.d1.stdDev = static_cast<std::int32_t>((i * 15485863) % 17);
    data.d1.tChassis = static_cast<float>(35.5 + 1.5 * std::sin(t / 8640.0));
    return data;
}

struct Plot {
    CProgramSettings settings;
    std::atomic<std::int32_t> model{kModelTq9000};
    std::unique_ptr<CPlotDlg> dialog;
    std::int64_t next = 0;

    explicit Plot(std::int64_t points) {
        dialog = std::make_unique<CPlotDlg>(PlotWindowContext{settings, model, ""}, "", false);
        dialog->resize(kWidth, kHeight);
        bool loaded = false;
        QObject::connect(dialog.get(), &CPlotDlg::InitialLoadDone, [&loaded] { loaded = true; });
        dialog->show();
        while (!loaded || dialog->ReadingWholeFile()) {
            QApplication::processEvents();
        }
        // Taken without drawing, then drawn once.
        dialog->SetLivePaused(true);
        for (; next < points; ++next) {
            dialog->OnNewRecord(RecordAt(next));
        }
        dialog->SetLivePaused(false);
        dialog->UpdateLivePlots();
        QApplication::processEvents();
    }
    void Frame() const {
        for (int p = 0; p < CPlotDlg::kDataPanes; ++p) {
            dialog->Pane(p)->replot(QCustomPlot::rpImmediateRefresh);
        }
    }
};

// Built once per size and kept: the benchmark library runs a case several times, and building
// 3M points takes seconds.
const Plot& SharedPlot(std::int64_t points) {
    // Never deleted: the windows would outlive the application object at exit.
    static auto* plots = new std::map<std::int64_t, std::unique_ptr<Plot>>;
    std::unique_ptr<Plot>& plot = (*plots)[points];
    if (!plot) {
        plot = std::make_unique<Plot>(points);
    }
    return *plot;
}

void BM_FiveDataPanes(benchmark::State& state) {
    const Plot& plot = SharedPlot(state.range(0));
    for (auto _ : state) {
        plot.Frame();
    }
    state.counters["points_per_pane"] = static_cast<double>(plot.dialog->Store().PointCount());
}
BENCHMARK(BM_FiveDataPanes)->Arg(100'000)->Arg(3'000'000)->Unit(benchmark::kMillisecond);

// A frame while the view is dragged: the X range moves by a pixel each frame, so the column
// borders are searched again.
void BM_FiveDataPanesPanned(benchmark::State& state) {
    const Plot& plot = SharedPlot(state.range(0));
    QCPAxis* axis = plot.dialog->Pane(0)->xAxis;
    const double pixel = axis->range().size() / axis->axisRect()->width();
    double step = pixel;
    for (auto _ : state) {
        axis->moveRange(step);
        step = -step;
        plot.Frame();
    }
}
BENCHMARK(BM_FiveDataPanesPanned)->Arg(100'000)->Arg(3'000'000)->Unit(benchmark::kMillisecond);

// The part of a frame that reads the store: each pane's pixel columns, without painting.
void BM_ColumnsOfFiveDataPanes(benchmark::State& state) {
    const Plot& plot = SharedPlot(state.range(0));
    for (auto _ : state) {
        for (int p = 0; p < CPlotDlg::kDataPanes; ++p) {
            benchmark::DoNotOptimize(plot.dialog->Pane(p)->Series(0)->VisibleColumns());
        }
    }
}
BENCHMARK(BM_ColumnsOfFiveDataPanes)->Arg(100'000)->Arg(3'000'000)->Unit(benchmark::kMillisecond);

void BM_LiveRecordWithThreeMillionHeld(benchmark::State& state) {
    Plot plot(3'000'000);
    for (auto _ : state) {
        plot.dialog->OnNewRecord(RecordAt(plot.next++));
        plot.Frame();
    }
}
BENCHMARK(BM_LiveRecordWithThreeMillionHeld)->Unit(benchmark::kMillisecond);

// A telemetry file given by CORVANE3_PLOT_BENCH_FILE (a decade's, made by make_telemetry_file),
// opened in file mode through its plot cache: the longest wait of the interface thread while it
// opens, a frame of the five data panes, the statistics of "All" and "Last Week" for every pane,
// and the decay fit over the whole file.
struct FilePlot {
    CProgramSettings settings;
    std::atomic<std::int32_t> model{kModelTq9000};
    std::unique_ptr<CPlotDlg> dialog;

    // The longest the interface thread went without serving its events from the window's
    // showing until every channel was read (a timer asks every millisecond): the first frame is
    // drawn from the shown channels, the others are read behind it and then taken over.
    double longestWaitMs = 0.0;

    explicit FilePlot(const std::string& path) {
        dialog = std::make_unique<CPlotDlg>(PlotWindowContext{settings, model, ""}, path, true);
        dialog->resize(kWidth, kHeight);
        bool loaded = false;
        QObject::connect(dialog.get(), &CPlotDlg::InitialLoadDone, [&loaded] { loaded = true; });
        QTimer ticks;
        auto last = std::chrono::steady_clock::now();
        QObject::connect(&ticks, &QTimer::timeout, [&] {
            const auto now = std::chrono::steady_clock::now();
            longestWaitMs = std::max(
                longestWaitMs, std::chrono::duration<double, std::milli>(now - last).count());
            last = now;
        });
        ticks.start(1);
        dialog->show();
        while (!loaded || dialog->ReadingWholeFile()) {
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        QApplication::processEvents();
    }
};

FilePlot* SharedFilePlot(benchmark::State& state) {
    // Never deleted: it would outlive the application object at exit.
    static FilePlot* plot = nullptr;
    const char* path = std::getenv("CORVANE3_PLOT_BENCH_FILE");
    if (path == nullptr) {
        state.SkipWithError("CORVANE3_PLOT_BENCH_FILE names no file");
        return nullptr;
    }
    if (plot == nullptr) {
        plot = new FilePlot(path);
    }
    return plot;
}

void BM_FileFiveDataPanes(benchmark::State& state) {
    FilePlot* plot = SharedFilePlot(state);
    if (plot == nullptr) {
        return;
    }
    plot->dialog->SetXScale(kXScaleAll);
    for (auto _ : state) {
        for (int p = 0; p < CPlotDlg::kDataPanes; ++p) {
            plot->dialog->Pane(p)->replot(QCustomPlot::rpImmediateRefresh);
        }
    }
    state.counters["points_per_pane"] = static_cast<double>(plot->dialog->Store().PointCount());
    state.counters["cached"] = plot->dialog->Store().Cache() != nullptr ? 1 : 0;
    state.counters["open_longest_wait_ms"] = plot->longestWaitMs;
}
BENCHMARK(BM_FileFiveDataPanes)->Unit(benchmark::kMillisecond);

// Choosing an X scale: the statistics of every pane over the range, and the new viewports.
void BM_FileScaleAllThenLastWeek(benchmark::State& state) {
    FilePlot* plot = SharedFilePlot(state);
    if (plot == nullptr) {
        return;
    }
    for (auto _ : state) {
        plot->dialog->SetXScale(kXScaleAll);
        plot->dialog->SetXScale(kXScaleLastWeek);
    }
}
BENCHMARK(BM_FileScaleAllThenLastWeek)->Unit(benchmark::kMillisecond);

void BM_FileDecayFitOverAll(benchmark::State& state) {
    FilePlot* plot = SharedFilePlot(state);
    if (plot == nullptr) {
        return;
    }
    if (!plot->dialog->DecayDisplay()) {
        plot->dialog->EnterDecayDisplay();
    }
    for (auto _ : state) {
        plot->dialog->FitDecay();
    }
    state.SetLabel(plot->dialog->Fit().text);
}
BENCHMARK(BM_FileDecayFitOverAll)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    }
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
