// corvane3 --summary: a file's unit, time span, signal decay and each channel's statistics.

#include <cmath>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "app/FileCommandShared.h"
#include "app/FileCommands.h"
#include "app/TelemetryPasses.h"
#include "core/base/CLocale.h"
#include "core/base/Mjd.h"
#include "core/program/ExitStatus.h"
#include "core/telemetry/DataFileReader.h"

namespace corvane3 {

namespace {

std::string Printf(const char* format, double value) {
    const CScopedCLocale numbers;
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string UtcText(double mjd) {
    const std::time_t seconds = static_cast<std::time_t>(std::llround(SecondsSince1970(mjd)));
    std::tm utc{};
    char text[32] = "?";
    if (gmtime_r(&seconds, &utc) != nullptr) {
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &utc);
    }
    return text;
}

// Rows of cells printed in columns two blanks apart; the first two columns (name and unit) to
// the left, the numbers to the right.
void PrintTable(const std::vector<std::vector<std::string>>& rows, std::ostream& out) {
    std::vector<std::size_t> widths;
    for (const auto& row : rows) {
        widths.resize(std::max(widths.size(), row.size()));
        for (std::size_t c = 0; c < row.size(); ++c) {
            widths[c] = std::max(widths[c], row[c].size());
        }
    }
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t c = 0; c < row.size(); ++c) {
            const std::string padding(widths[c] - row[c].size(), ' ');
            line += c == 0 ? "" : "  ";
            line += c < 2 ? row[c] + padding : padding + row[c];
        }
        line.erase(line.find_last_not_of(' ') + 1);
        out << line << "\n";
    }
}

int PrintSpectrumSummary(const std::string& path, std::ostream& out, std::ostream& err) {
    SpectrumPoints points;
    if (!LoadSpectrum(path, points, err)) {
        return kExitRefused;
    }
    const std::vector<double>& detuning = points.detuning;
    const std::vector<double>& signal = points.signal;
    out << "File: " << path << "\n"
        << "Points: " << detuning.size() << "\n";
    if (detuning.empty()) {
        return kExitDone;
    }
    std::size_t peak = 0;
    for (std::size_t i = 1; i < signal.size(); ++i) {
        if (signal[i] > signal[peak] || std::isnan(signal[peak])) {
            peak = i;
        }
    }
    out << "Detuning: " << Printf("%g", detuning.front()) << " to " << Printf("%g", detuning.back())
        << " Hz\n"
        << "Peak: " << Printf("%g", signal[peak]) << " mV at " << Printf("%g", detuning[peak])
        << " Hz\n";
    return kExitDone;
}

int PrintSummary(const std::string& path, const FileCommandOptions& options, std::ostream& out,
                 std::ostream& err) {
    StreamedFile file;
    if (!OpenStreamed(path, options, file, err)) {
        return kExitRefused;
    }
    std::vector<CMergeableStatistics> statistics(file.channels.size());
    CDecayFitSums decay;
    const auto signal = std::find(file.channels.begin(), file.channels.end(), kChannelSignal) -
                        file.channels.begin();
    const PassResult pass = RunPass(
        file,
        [&](std::size_t piece) {
            std::vector<CMergeableStatistics> own(file.channels.size());
            PieceResult result = ParsePieceInBlocks(
                file, piece, [&](const RecordBlock& block, PieceResult& partial) {
                    for (std::size_t c = 0; c < own.size(); ++c) {
                        own[c].AddAll(block.Channel(c), block.count);
                    }
                    const double* const signalValues =
                        block.Channel(static_cast<std::size_t>(signal));
                    for (std::size_t i = 0; i < block.count; ++i) {
                        partial.decay.Add(block.mjd[i] - file.firstMjd, signalValues[i]);
                    }
                });
            result.statistics = std::move(own);
            return result;
        },
        [&](PieceResult& piece) {
            for (std::size_t c = 0; c < statistics.size(); ++c) {
                statistics[c].Merge(piece.statistics[c]);
            }
            decay.Merge(piece.decay);
        });
    if (!PassSucceeded(file, pass, err)) {
        return kExitRefused;
    }
    SayDamagedLines(file, pass, err);
    const TelemetryFileLayout& layout = file.file.Layout();
    const std::int64_t n = pass.records;
    out << "File: " << path << "\n"
        << "Format: " << (layout.oldFormat ? "Corvane2 Data File" : "Corvane3 Data File") << "\n";
    if (n > 0) {
        out << "Unit: " << DataFileModelText(layout.identity.unitType) << " S/N "
            << layout.identity.serial << "\n";
    }
    out << "Records: " << n << "\n";
    if (n == 0) {
        return kExitDone;
    }
    out << "First: MJD " << Printf("%.6f", file.firstMjd) << " (" << UtcText(file.firstMjd) << ")\n"
        << "Last: MJD " << Printf("%.6f", pass.lastMjd) << " (" << UtcText(pass.lastMjd) << ")\n";
    const DecayFit fit = decay.Result();
    out << fit.text << "\n";
    if (const std::string halves = HalfLifeProjection(fit, pass.lastMjd); !halves.empty()) {
        out << halves << "\n";
    }

    std::vector<std::vector<std::string>> rows = {
        {"Channel", "Unit", "Min", "Mean", "Max", "Sigma"}};
    const CPlotData names;
    for (std::size_t c = 0; c < file.channels.size(); ++c) {
        const CPlotSeries channel = names.Channel(file.channels[c]);
        const ChannelStatistics stats = statistics[c].Result();
        if (stats.count == 0) {
            rows.push_back({channel.Name(), channel.Unit(), "-", "-", "-", "-"});
            continue;
        }
        rows.push_back({channel.Name(), channel.Unit(), Printf("%.6g", stats.min),
                        Printf("%.6g", stats.mean), Printf("%.6g", stats.max),
                        Printf("%.6g", stats.sigma)});
    }
    PrintTable(rows, out);
    return kExitDone;
}

}  // namespace

int RunSummary(const std::string& path, std::ostream& out, std::ostream& err,
               const FileCommandOptions& options) {
    errno = 0;
    const int status = IsSpectrumFile(path) ? PrintSpectrumSummary(path, out, err)
                                            : PrintSummary(path, options, out, err);
    return status == kExitDone ? Written(out, err, "summary") : status;
}

}  // namespace corvane3
