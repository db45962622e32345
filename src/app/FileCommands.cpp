#include "app/FileCommands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>
#include <vector>

#include "app/ExitStatus.h"
#include "app/TemporaryFileCleanup.h"
#include "core/base/CLocale.h"
#include "core/base/Mjd.h"
#include "core/config/ProfileFile.h"
#include "core/plot/PlotData.h"
#include "core/plot/Statistics.h"
#include "core/spectrum/SpectrumFile.h"
#include "core/telemetry/DataFileReader.h"

namespace corvane3 {

namespace {

struct LoadedFile {
    CPlotData store;
    DataFileReadResult result;
    // The channels to show, in channel-number order: those the file supplies and the two
    // derived from them.
    std::vector<int> channels;
};

std::string WithReason(const std::string& message, const std::string& reason) {
    return reason.empty() ? message : message + " (" + reason + ")";
}

// False (the reader's message on err) when the reader refused the file, or when the file was
// cut shorter while it was read: what is left of it is not the file.
bool Load(const std::string& path, LoadedFile& file, std::ostream& err) {
    file.result = ReadDataFile(file.store, path);
    if (file.result.status != EDataFileRead::kRead &&
        file.result.status != EDataFileRead::kNoRecords) {
        err << "corvane3: " << WithReason(file.result.message, file.result.reason) << "\n";
        return false;
    }
    if (file.result.vanishedRecords > 0) {
        err << "corvane3: " << path << " became shorter while it was read ("
            << file.result.vanishedRecords << " records were gone); try again\n";
        return false;
    }
    file.channels = file.result.channels;
    if (!file.channels.empty()) {
        file.channels.push_back(kChannelSignal);
        file.channels.push_back(kChannelFlopBackground);
    }
    std::sort(file.channels.begin(), file.channels.end());
    file.channels.erase(std::unique(file.channels.begin(), file.channels.end()),
                        file.channels.end());
    return true;
}

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

// The fewest digits that read back to the value as the store keeps it; an absent value is an
// empty field.
void AppendNumber(std::string& text, double value, EPlotStorage storage) {
    if (std::isnan(value)) {
        return;
    }
    char digits[64];
    const std::to_chars_result end =
        storage == EPlotStorage::kFloat
            ? std::to_chars(digits, digits + sizeof digits, static_cast<float>(value))
            : std::to_chars(digits, digits + sizeof digits, value);
    text.append(digits, end.ptr);
}

// A CSV field, quoted when it holds a comma, a quote or a line break.
std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (char c : text) {
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    }
    return quoted + "\"";
}

void WriteCsv(const LoadedFile& file, std::ostream& out) {
    const CPlotData& store = file.store;
    std::string line = "MJD";
    for (int number : file.channels) {
        const CPlotSeries channel = store.Channel(number);
        line += ",";
        line += CsvField(channel.Unit().empty() ? channel.Name()
                                                : channel.Name() + " (" + channel.Unit() + ")");
    }
    out << line << "\r\n";
    const CPlotSeries mjd = store.TimeAxis(0);
    for (std::int64_t i = 0; i < store.PointCount(); ++i) {
        line.clear();
        AppendNumber(line, mjd[i], EPlotStorage::kDouble);
        for (int number : file.channels) {
            line += ',';
            AppendNumber(line, store.Channel(number)[i], store.ChannelStorage(number));
        }
        line += "\r\n";
        out << line;
    }
}

// Each channel's statistics over every point, the channels shared out among the cores.
std::vector<ChannelStatistics> StatisticsOf(const CPlotData& store,
                                            const std::vector<int>& channels) {
    std::vector<ChannelStatistics> statistics(channels.size());
    const auto size = static_cast<std::size_t>(store.PointCount());
    const std::size_t threads =
        std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, channels.size() + 1);
    const auto work = [&](std::size_t first) {
        for (std::size_t c = first; c < channels.size(); c += threads) {
            const CPlotSeries channel = store.Channel(channels[c]);
            statistics[c] = ComputeStatistics(
                [&](std::size_t i) { return channel[static_cast<std::int64_t>(i)]; }, 0, size);
        }
    };
    std::vector<std::thread> helpers;
    for (std::size_t t = 1; t < threads; ++t) {
        helpers.emplace_back(work, t);
    }
    work(0);
    for (std::thread& helper : helpers) {
        helper.join();
    }
    return statistics;
}

// Spectrum files go by their extension, in any case, as on the program's command line.
bool IsSpectrumFile(const std::string& path) {
    constexpr std::size_t kExtensionLength = 4;  // ".css"
    if (path.size() < kExtensionLength) {
        return false;
    }
    std::string extension = path.substr(path.size() - kExtensionLength);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".css";
}

// False (the reason on err) when the file cannot be opened or holds a line that is no point.
bool LoadSpectrum(const std::string& path, SpectrumPoints& points, std::ostream& err) {
    const SpectrumFileResult result = ReadSpectrumFile(path, points);
    if (result.status == ESpectrumFileRead::kCannotOpen) {
        err << "corvane3: " << WithReason(result.message, result.reason) << "\n";
        return false;
    }
    if (result.status == ESpectrumFileRead::kInvalidData) {
        err << "corvane3: " << result.message << ": " << path << ", line " << result.badLine
            << "\n";
        return false;
    }
    return true;
}

// Standard output may be a full disk or a closed pipe: a summary that was not written whole is
// no success.
int Written(std::ostream& out, std::ostream& err, const char* what) {
    out.flush();
    if (out) {
        return kExitDone;
    }
    err << "corvane3: the " << what << " could not be written to standard output ("
        << std::strerror(errno != 0 ? errno : EIO) << ")\n";
    return kExitRefused;
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

void WriteSpectrumCsv(const SpectrumPoints& points, std::ostream& out) {
    out << "Detuning (Hz),Signal (mV)\r\n";
    std::string line;
    for (std::size_t i = 0; i < points.detuning.size(); ++i) {
        line.clear();
        AppendNumber(line, points.detuning[i], EPlotStorage::kDouble);
        line += ',';
        AppendNumber(line, points.signal[i], EPlotStorage::kDouble);
        line += "\r\n";
        out << line;
    }
}

int PrintSummary(const std::string& path, std::ostream& out, std::ostream& err) {
    LoadedFile file;
    if (!Load(path, file, err)) {
        return kExitRefused;
    }
    const CPlotData& store = file.store;
    const std::int64_t n = store.PointCount();
    out << "File: " << path << "\n"
        << "Format: " << (file.result.oldFormat ? "Corvane2 Data File" : "Corvane3 Data File")
        << "\n";
    if (n > 0) {
        out << "Unit: " << DataFileModelText(store.UnitType()) << " S/N " << store.SerialNumber()
            << "\n";
    }
    out << "Records: " << n << "\n";
    if (n == 0) {
        return kExitDone;
    }
    const CPlotSeries mjd = store.TimeAxis(0);
    out << "First: MJD " << Printf("%.6f", mjd[0]) << " (" << UtcText(mjd[0]) << ")\n"
        << "Last: MJD " << Printf("%.6f", mjd[n - 1]) << " (" << UtcText(mjd[n - 1]) << ")\n";

    const CPlotSeries days = store.TimeAxis(1);
    const CPlotSeries signal = store.Channel(kChannelSignal);
    const auto size = static_cast<std::size_t>(n);
    const DecayFit decay =
        FitDecay([&](std::size_t i) { return days[static_cast<std::int64_t>(i)]; },
                 [&](std::size_t i) { return signal[static_cast<std::int64_t>(i)]; }, 0, size - 1);
    out << decay.text << "\n";
    if (const std::string halves = HalfLifeProjection(decay, mjd[n - 1]); !halves.empty()) {
        out << halves << "\n";
    }

    std::vector<std::vector<std::string>> rows = {
        {"Channel", "Unit", "Min", "Mean", "Max", "Sigma"}};
    const std::vector<ChannelStatistics> statistics = StatisticsOf(store, file.channels);
    for (std::size_t c = 0; c < file.channels.size(); ++c) {
        const CPlotSeries channel = store.Channel(file.channels[c]);
        const ChannelStatistics& stats = statistics[c];
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

// Where the CSV goes.
enum class ECsvTarget {
    kStandardOutput,  // "-"
    kReplaced,        // a regular file or a missing path: written beside it and renamed over it
    kDirect,          // a character device or a FIFO: written to as it is
    kRefused,         // anything else (a folder, a socket, a block device)
};

// What the path names, following symbolic links: a link to a file is replaced at its target,
// so the link stays. reason says why a target is refused.
ECsvTarget ClassifyCsvTarget(const std::string& target, std::string& resolved,
                             std::string& reason) {
    if (target == "-") {
        return ECsvTarget::kStandardOutput;
    }
    resolved = ResolveLinks(target).string();
    struct stat info {};
    if (::stat(resolved.c_str(), &info) != 0) {
        reason = std::strerror(errno);
        return errno == ENOENT ? ECsvTarget::kReplaced : ECsvTarget::kRefused;
    }
    if (S_ISREG(info.st_mode)) {
        return ECsvTarget::kReplaced;
    }
    if (S_ISCHR(info.st_mode) || S_ISFIFO(info.st_mode)) {
        return ECsvTarget::kDirect;
    }
    reason = S_ISDIR(info.st_mode) ? std::strerror(EISDIR)
                                   : "not a regular file, character device or FIFO";
    return ECsvTarget::kRefused;
}

// Writes the CSV to an open stream and closes it; false with the reason when that failed.
bool WriteAndClose(std::ofstream& csv, const std::function<void(std::ostream&)>& writeCsv,
                   std::string& reason) {
    errno = 0;
    writeCsv(csv);
    csv.close();
    if (csv) {
        return true;
    }
    reason = std::strerror(errno != 0 ? errno : EIO);
    return false;
}

}  // namespace

int RunSummary(const std::string& path, std::ostream& out, std::ostream& err) {
    errno = 0;
    const int status =
        IsSpectrumFile(path) ? PrintSpectrumSummary(path, out, err) : PrintSummary(path, out, err);
    return status == kExitDone ? Written(out, err, "summary") : status;
}

int RunExportCsv(const std::string& path, const std::string& outPath, std::ostream& out,
                 std::ostream& err) {
    namespace fs = std::filesystem;
    const std::string target =
        outPath.empty() ? fs::path(path).replace_extension(".csv").string() : outPath;
    std::error_code same;
    if (target != "-" && (target == path || fs::equivalent(target, path, same))) {
        err << "corvane3: " << target << ": the CSV would replace the file itself\n";
        return kExitRefused;
    }
    std::string resolved;
    std::string reason;
    const ECsvTarget kind = ClassifyCsvTarget(target, resolved, reason);
    if (kind == ECsvTarget::kRefused) {
        err << "corvane3: " << target << ": " << reason << "; the CSV is not written\n";
        return kExitRefused;
    }
    LoadedFile file;
    SpectrumPoints spectrum;
    std::function<void(std::ostream&)> writeCsv;
    if (IsSpectrumFile(path)) {
        if (!LoadSpectrum(path, spectrum, err)) {
            return kExitRefused;
        }
        writeCsv = [&spectrum](std::ostream& csv) { WriteSpectrumCsv(spectrum, csv); };
    } else {
        if (!Load(path, file, err)) {
            return kExitRefused;
        }
        writeCsv = [&file](std::ostream& csv) { WriteCsv(file, csv); };
    }
    switch (kind) {
        case ECsvTarget::kStandardOutput:
            errno = 0;
            writeCsv(out);
            return Written(out, err, "CSV");
        case ECsvTarget::kDirect: {
            std::ofstream csv(resolved, std::ios::binary);
            if (!WriteAndClose(csv, writeCsv, reason)) {
                err << "corvane3: cannot write " << target << " (" << reason << ")\n";
                return kExitRefused;
            }
            return kExitDone;
        }
        case ECsvTarget::kReplaced:
        case ECsvTarget::kRefused:
            break;
    }
    // Written beside the target and renamed, so a reader never sees half a file. An interrupt
    // removes the temporary file.
    const std::string temporary = resolved + ".tmp" + std::to_string(::getpid());
    SetTemporaryFileToRemove(temporary);
    const auto discard = [&temporary] {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        SetTemporaryFileToRemove("");
    };
    {
        std::ofstream csv(temporary, std::ios::binary | std::ios::trunc);
        if (!WriteAndClose(csv, writeCsv, reason)) {
            discard();
            err << "corvane3: cannot write " << target << " (" << reason << ")\n";
            return kExitRefused;
        }
    }
    std::error_code renamed;
    fs::rename(temporary, resolved, renamed);
    if (renamed) {
        discard();
        err << "corvane3: cannot write " << target << " (" << renamed.message() << ")\n";
        return kExitRefused;
    }
    SetTemporaryFileToRemove("");
    return kExitDone;
}

}  // namespace corvane3
