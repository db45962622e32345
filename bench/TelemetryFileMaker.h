#pragma once
// Writes large .csd telemetry files for benchmarks, with the recorder's own line functions, so
// a generated file is exactly what the program writes: a steady unit with slow drifts, a daily
// swing of the chassis temperature, a small random wobble on the analog readings and a clock
// signal that decays at a chosen rate. The records are made on every core, each thread a run of
// consecutive records with its own random stream, and written in order.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <numbers>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/telemetry/TelemetryFormat.h"
#include "support/TelemetryTestData.h"

namespace corvane3::bench {

struct TelemetryFileRecipe {
    std::int64_t records = 1'000'000;
    double intervalSeconds = 10.0;
    double decayPercentPerDay = -0.01;  // of the beam signal; negative falls
    std::int32_t model = kModelTq9000;
    double firstMjd = 60123.0;
    std::uint32_t seed = 403;
    // Records before this index are not written, nor the header when it is not 0: the rest of a
    // longer recipe, appended to a file made with fewer records.
    std::int64_t from = 0;
    // Every this many records the PC's clock was set back: that record is a second older than
    // the one before it. 0: never.
    std::int64_t stepBackEvery = 0;
};

constexpr double kSecondsPerDay = 86400.0;

// Record index of the recipe's file: drifts over the whole file, a daily swing, a wobble.
inline UnitStateData MakeTelemetryRecord(const TelemetryFileRecipe& recipe, std::int64_t index,
                                         const UnitStateData& base, std::mt19937& random) {
    std::normal_distribution<float> wobble(0.0f, 1.0f);
    std::uniform_int_distribution<int> counts(-3, 3);
    const double run = static_cast<double>(index) /
                       static_cast<double>(std::max<std::int64_t>(recipe.records, 1));  // 0 .. 1
    const double days = static_cast<double>(index) * recipe.intervalSeconds / kSecondsPerDay;
    const double daily = std::sin(2.0 * std::numbers::pi * days);

    UnitStateData data = base;
    D1Record& d1 = data.d1;
    data.mjd = recipe.firstMjd + days;
    if (recipe.stepBackEvery > 0) {
        const auto steps = static_cast<double>(index / recipe.stepBackEvery);
        data.mjd -= steps * (recipe.intervalSeconds + 1.0) / kSecondsPerDay;
    }
    d1.state = 0;
    d1.alarm2 = 0;
    d1.alarm3 = 0;
    d1.alarm5 = 0;
    d1.stdDev = counts(random);
    d1.cRamErr = 12 + counts(random);
    d1.cRabErr = -340 + counts(random) * 4;
    d1.zRamErr = 3 + counts(random);
    d1.zRabErr = -7 + counts(random);
    d1.vvcxo = -1234 + static_cast<std::int32_t>(150.0 * run) + counts(random);
    // The signal is CLevel / (NumGain x DACGain); the gains stay put, so CLevel carries the decay.
    constexpr double kClockLevel = 25000.0;
    d1.cLevel = static_cast<std::int32_t>(
                    std::lround(kClockLevel * std::exp(recipe.decayPercentPerDay / 100.0 * days))) +
                counts(random) * 2;
    d1.zLevel = 1800 - static_cast<std::int32_t>(80.0 * run) + counts(random);
    d1.dcLevel = 40000 + counts(random) * 5;
    d1.freqTune = -1500 + static_cast<std::int32_t>(40.0 * run);
    d1.tChassis = static_cast<float>(35.5 + 1.5 * daily) + 0.05f * wobble(random);
    d1.vCsOven = static_cast<float>(6.25 + 0.3 * run) + 0.002f * wobble(random);
    d1.vms = static_cast<float>(10.25 + 0.2 * run) + 0.003f * wobble(random);
    d1.vion = static_cast<float>(3.5 + 0.4 * run) + 0.002f * wobble(random);
    d1.vem = static_cast<float>(12.5 + 0.8 * run) + 0.01f * wobble(random);
    d1.icField = 7.5f + 0.01f * wobble(random);
    d1.pos5V = 5.0f + 0.004f * wobble(random);
    d1.pos15V = 15.25f + 0.006f * wobble(random);
    d1.neg15V = -15.5f + 0.006f * wobble(random);
    d1.pos21V = 24.125f + 0.01f * wobble(random);
    d1.iip = 42 + static_cast<std::int32_t>(10.0 * run);
    data.b20.system24 = 24.5f + 0.02f * wobble(random);
    data.b20.acdc24 = 24.25f + 0.02f * wobble(random);
    data.b20.batt24 = 26.75f - static_cast<float>(0.1 * run);
    const auto perDay = static_cast<std::int64_t>(kSecondsPerDay / recipe.intervalSeconds);
    constexpr std::int64_t kRecordsPerBurp = 20000;
    data.outliers.burpsToday =
        static_cast<std::int32_t>(index % std::max<std::int64_t>(perDay, 1) / kRecordsPerBurp);
    data.outliers.burpsTotal = static_cast<std::int32_t>(index / kRecordsPerBurp);
    return data;
}

// Writes the recipe's file (header and records, CR LF line ends) to out. False on a write error.
inline bool WriteTelemetryFile(const TelemetryFileRecipe& recipe, std::FILE* out) {
    std::string header = TelemetryHeaderLine(recipe.model) + kTelemetryLineEnd;
    if (recipe.from == 0 && std::fwrite(header.data(), 1, header.size(), out) != header.size()) {
        return false;
    }
    const UnitStateData base = testing::SampleRecord();
    // Each batch is made by all threads (a run of records each) and then written in order.
    constexpr std::int64_t kRecordsPerRun = 16384;
    const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    std::vector<std::string> texts(threads);
    for (std::int64_t batch = recipe.from / kRecordsPerRun * kRecordsPerRun; batch < recipe.records;
         batch += kRecordsPerRun * static_cast<std::int64_t>(threads)) {
        std::vector<std::thread> workers;
        for (unsigned t = 0; t < threads; ++t) {
            workers.emplace_back([&, t] {
                const std::int64_t first = batch + kRecordsPerRun * static_cast<std::int64_t>(t);
                const std::int64_t end = std::min(recipe.records, first + kRecordsPerRun);
                std::string& text = texts[t];
                text.clear();
                // A stream per run, so the file does not depend on the thread count.
                std::mt19937 random(recipe.seed +
                                    static_cast<std::uint32_t>(first / kRecordsPerRun));
                for (std::int64_t index = first; index < end; ++index) {
                    if (index < recipe.from) {
                        MakeTelemetryRecord(recipe, index, base, random);  // keeps the stream
                        continue;
                    }
                    text += TelemetryRecordLine(MakeTelemetryRecord(recipe, index, base, random),
                                                recipe.model);
                    text += kTelemetryLineEnd;
                }
            });
        }
        for (std::thread& worker : workers) {
            worker.join();
        }
        for (const std::string& text : texts) {
            if (std::fwrite(text.data(), 1, text.size(), out) != text.size()) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace corvane3::bench
