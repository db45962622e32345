#include "core/telemetry/SignalDecayScan.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <vector>

#include "core/plot/PlotData.h"
#include "core/telemetry/DataFileReader.h"
#include "core/telemetry/TelemetryChunks.h"

namespace corvane3 {

namespace {

// Columns of a current-format record (see TelemetryFormat) that the signal is made of.
constexpr std::size_t kMjdColumn = 0;
constexpr std::size_t kCLevelColumn = 13;
constexpr std::size_t kDcLevelColumn = 21;
constexpr std::size_t kDacGainColumn = 22;
constexpr std::size_t kNumGainColumn = 23;
// The predecessor format's first line has this word at characters 6 to 10; its columns differ.
constexpr std::string_view kOldFormatMark = "Month";
constexpr std::size_t kOldFormatMarkOffset = 5;
// A record is under 2 KB; longer lines are damage and are skipped without being kept.
constexpr std::size_t kMaxLineBytes = std::size_t{64} << 10;
constexpr std::size_t kReadBlock = std::size_t{1} << 20;

}  // namespace

std::optional<SignalPoint> SignalPointOfLine(std::string_view line) {
    if (const std::size_t nul = line.rfind('\0'); nul != std::string_view::npos) {
        line.remove_prefix(nul + 1);
    }
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    // A header starts with a name, a record with its MJD.
    if (line.empty() || !(std::isdigit(static_cast<unsigned char>(line.front())) != 0)) {
        return std::nullopt;
    }
    double fields[kNumGainColumn + 1];
    std::size_t column = 0;
    std::size_t start = 0;
    while (column <= kNumGainColumn) {
        const std::size_t comma = line.find(',', start);
        const std::size_t end = comma == std::string_view::npos ? line.size() : comma;
        fields[column++] = FieldToDouble(line.data() + start, line.data() + end);
        if (comma == std::string_view::npos) {
            break;
        }
        start = comma + 1;
    }
    if (column <= kNumGainColumn) {
        return std::nullopt;
    }
    const SignalChannels derived =
        DeriveSignalChannels(fields[kCLevelColumn], fields[kNumGainColumn], fields[kDacGainColumn],
                             fields[kDcLevelColumn], true);
    return SignalPoint{fields[kMjdColumn], derived.signal};
}

SignalDecayScan ScanSignalDecay(const std::string& path, std::uint64_t end,
                                const std::atomic<bool>& stop) {
    SignalDecayScan scan;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return scan;
    }
    std::vector<char> block(kReadBlock);
    std::string line;
    bool skipping = false;  // inside a line longer than any record
    bool firstLine = true;
    bool oldFormat = false;
    std::size_t headerFields = 0;
    std::uint64_t lineNumber = 0;
    std::uint64_t offset = 0;
    bool failed = false;
    while (offset < end && !stop.load(std::memory_order_relaxed) && !oldFormat) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), end - offset));
        const ssize_t n = ::pread(fd, block.data(), want, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            failed = n < 0;
            break;
        }
        offset += static_cast<std::uint64_t>(n);
        for (std::size_t i = 0; i < static_cast<std::size_t>(n); ++i) {
            const char c = block[i];
            if (c != '\n') {
                if (!skipping && line.size() < kMaxLineBytes) {
                    line += c;
                } else {
                    skipping = true;
                    line.clear();
                }
                continue;
            }
            ++lineNumber;
            if (firstLine) {
                firstLine = false;
                headerFields = TelemetryHeaderFields(
                    std::string_view(line).substr(0, line.find_last_not_of('\r') + 1));
                oldFormat = line.size() >= kOldFormatMarkOffset + kOldFormatMark.size() &&
                            std::string_view(line).substr(kOldFormatMarkOffset,
                                                          kOldFormatMark.size()) == kOldFormatMark;
                if (oldFormat) {
                    break;
                }
            }
            const std::string_view record =
                std::string_view(line).substr(line.rfind('\0') + 1);  // npos + 1: all of it
            if (!skipping && HasMoreFieldsThanHeader(record, headerFields)) {
                scan.firstDamagedLine =
                    scan.damagedLines++ == 0 ? lineNumber : scan.firstDamagedLine;
            } else if (!skipping) {
                if (const std::optional<SignalPoint> point = SignalPointOfLine(line)) {
                    scan.fit.Add(point->mjd, point->signal);
                    scan.lastMjd = point->mjd;
                    ++scan.records;
                }
            }
            skipping = false;
            line.clear();
        }
    }
    ::close(fd);
    scan.read = !failed && !oldFormat;
    return scan;
}

}  // namespace corvane3
