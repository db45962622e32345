#include "app/FileCommands.h"

#include <fcntl.h>
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
#include <limits>
#include <thread>
#include <vector>

#include "core/program/ExitStatus.h"
#include "app/TemporaryFileCleanup.h"
#include "core/base/CLocale.h"
#include "core/base/Mjd.h"
#include "core/base/OrderedPieces.h"
#include "core/config/ProfileFile.h"
#include "core/plot/PlotData.h"
#include "core/plot/Statistics.h"
#include "core/spectrum/SpectrumFile.h"
#include "core/telemetry/DataFileReader.h"
#include "core/telemetry/TelemetryChunks.h"

namespace corvane3 {

namespace {

std::string WithReason(const std::string& message, const std::string& reason) {
    return reason.empty() ? message : message + " (" + reason + ")";
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

// Plain decimal text of at most this many significant digits reads back to one value only: no
// other such text gives the same float (or double), so its digits are the fewest that do.
constexpr int kFloatExactDigits = 6;
constexpr int kDoubleExactDigits = 15;

// True when text of count significant digits that was parsed to parsed has the fewest digits
// that read back to stored, the value kept in storage.
bool TextDigitsReadBack(int count, double parsed, double stored, EPlotStorage storage) {
    const int limit = storage == EPlotStorage::kFloat ? kFloatExactDigits : kDoubleExactDigits;
    if (count > limit) {
        return false;
    }
    if (storage == EPlotStorage::kFloat) {
        // The text went to double and then to float: when the double lay exactly between two
        // floats, the float need not be the one nearest to the text.
        const auto single = static_cast<float>(stored);
        if (static_cast<double>(single) != parsed) {
            const float other = std::nextafter(single, parsed > stored ? HUGE_VALF : -HUGE_VALF);
            if ((static_cast<double>(single) + static_cast<double>(other)) / 2.0 == parsed) {
                return false;
            }
        }
        return true;
    }
    return parsed == stored;
}

// Where to_chars turns to scientific notation: "1e+05" is shorter than "100000", "1e-04" than
// "0.0001". A sign, a mantissa point when there are several digits, and "e+NN".
constexpr int kScientificExtraCharacters = 4;

// The common case of AppendDigitsOfText, in one walk and one copy: blanks, a minus and plain
// decimal text that is written as it is once its trailing zeros (and a point left bare) are
// dropped ("35.540" as "35.54", "2.00" as "2"). False (nothing appended) for any other text,
// zero, or a value its digits do not read back to.
bool CopyShortestText(std::string& out, std::string_view field, double parsed, double stored,
                      EPlotStorage storage) {
    const char* s = field.data();
    const char* const e = s + field.size();
    while (s < e && *s == ' ') {
        ++s;
    }
    const char* const copyBegin = s;
    const bool negative = s < e && *s == '-';
    s += negative ? 1 : 0;
    if (s == e || stored == 0.0 || negative != std::signbit(stored)) {
        return false;
    }
    // The first significant digit: the first digit, or the first non-zero one after "0.".
    const char* first = s;
    const char* point = nullptr;
    if (*s < '0' || *s > '9') {
        return false;  // ".5": the digits start with a whole digit
    }
    if (*s == '0') {
        if (e - s < 3 || s[1] != '.') {
            return false;  // a leading zero is never written before other whole digits
        }
        point = s + 1;
        for (first = s + 2; first < e && *first == '0'; ++first) {
        }
    }
    const char* lastNonZero = nullptr;
    for (const char* p = first; p < e; ++p) {
        const auto digit = static_cast<unsigned>(static_cast<unsigned char>(*p) - '0');
        if (digit < 10) {
            lastNonZero = digit != 0 ? p : lastNonZero;
        } else if (*p == '.' && point == nullptr) {
            point = p;
        } else {
            return false;
        }
    }
    if (lastNonZero == nullptr) {
        return false;
    }
    const char* const copyEnd = point == nullptr        ? e
                                : lastNonZero < point   ? point
                                                        : lastNonZero + 1;
    const auto count = static_cast<int>(lastNonZero - first + 1) -
                       (point != nullptr && point > first && point < lastNonZero ? 1 : 0);
    const int scientificLength = count + (count > 1 ? 1 : 0) + kScientificExtraCharacters;
    if (copyEnd - s > scientificLength || !TextDigitsReadBack(count, parsed, stored, storage)) {
        return false;
    }
    out.append(copyBegin, static_cast<std::size_t>(copyEnd - copyBegin));
    return true;
}

// Appends the fewest digits that read back to stored (as AppendNumber writes them) taken from
// the field's own text, which is much faster than working them out: possible when the text is
// plain decimal ("-15.500", " 7.51") of few enough significant digits. parsed is the value the
// text gave, stored the value kept in storage. False (nothing appended) when the text is no such
// text or the value is not the one it reads back to.
bool AppendDigitsOfText(std::string& out, std::string_view field, double parsed, double stored,
                        EPlotStorage storage) {
    if (stored == 0.0) {
        out += std::signbit(stored) ? "-0" : "0";
        return true;
    }
    std::size_t i = 0;
    // The blanks decimal text-to-double skips.
    const auto blank = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (i < field.size() && blank(field[i])) {
        ++i;
    }
    const bool negative = i < field.size() && field[i] == '-';
    if (i < field.size() && (field[i] == '-' || field[i] == '+')) {
        ++i;
    }
    // The significant digits, and the power of ten of the first one.
    char digits[kDoubleExactDigits];
    int count = 0;
    int exponent = 0;
    bool point = false;
    bool any = false;
    int zerosAfterPoint = 0;  // before the first significant digit
    int integerDigits = 0;    // significant ones before the point
    int pending = 0;          // zeros after the last non-zero digit, not yet counted
    for (; i < field.size(); ++i) {
        const char c = field[i];
        if (c == '.' && !point) {
            point = true;
            continue;
        }
        if (c < '0' || c > '9') {
            return false;
        }
        any = true;
        if (c == '0') {
            if (count == 0) {
                zerosAfterPoint += point ? 1 : 0;
            } else {
                ++pending;
                integerDigits += point ? 0 : 1;
            }
            continue;
        }
        if (count + pending + 1 > kDoubleExactDigits) {
            return false;
        }
        for (; pending > 0; --pending) {
            digits[count++] = '0';
        }
        digits[count++] = c;
        integerDigits += point ? 0 : 1;
    }
    if (!any || count == 0 || (negative != std::signbit(stored))) {
        return false;
    }
    if (!TextDigitsReadBack(count, parsed, stored, storage)) {
        return false;
    }
    exponent = integerDigits > 0 ? integerDigits - 1 : -(zerosAfterPoint + 1);
    // Fixed or scientific, whichever is shorter (fixed on a tie), as to_chars chooses.
    const int fixedLength = exponent >= 0
                                ? std::max(count, exponent + 1) + (count > exponent + 1 ? 1 : 0)
                                : 2 + (-exponent - 1) + count;
    constexpr int kLongExponent = 100;  // three exponent digits from here
    const int exponentDigits = std::abs(exponent) >= kLongExponent ? 3 : 2;
    const int scientificLength = count + (count > 1 ? 1 : 0) + 2 + exponentDigits;
    // Fields are at most 31 characters, so the text fits with room to spare.
    char text[2 * kMaxTelemetryFieldCharacters];
    char* t = text;
    if (negative) {
        *t++ = '-';
    }
    if (fixedLength <= scientificLength) {
        if (exponent >= 0) {
            for (int d = 0; d <= exponent; ++d) {
                *t++ = d < count ? digits[d] : '0';
            }
            if (count > exponent + 1) {
                *t++ = '.';
                t = std::copy(digits + exponent + 1, digits + count, t);
            }
        } else {
            *t++ = '0';
            *t++ = '.';
            t = std::fill_n(t, -exponent - 1, '0');
            t = std::copy(digits, digits + count, t);
        }
    } else {
        *t++ = digits[0];
        if (count > 1) {
            *t++ = '.';
            t = std::copy(digits + 1, digits + count, t);
        }
        *t++ = 'e';
        *t++ = exponent < 0 ? '-' : '+';
        const int magnitude = std::abs(exponent);
        if (magnitude >= kLongExponent) {
            *t++ = static_cast<char>('0' + magnitude / 100);
        }
        *t++ = static_cast<char>('0' + magnitude / 10 % 10);
        *t++ = static_cast<char>('0' + magnitude % 10);
    }
    out.append(text, t);
    return true;
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

// Telemetry files are read in pieces of about this many bytes, every core taking pieces in turn,
// and their results put together in file order.
constexpr std::uint64_t kPieceBytes = std::uint64_t{4} << 20;
// Text held at once, about: each thread reads one piece while finished ones wait, with their
// CSV, to be put together. Pieces are made smaller on machines with many cores to keep to it.
constexpr std::uint64_t kBytesInFlight = std::uint64_t{24} << 20;
constexpr std::uint64_t kSmallestPieceBytes = std::uint64_t{256} << 10;
constexpr unsigned kMaxThreads = 8;
// Results that may wait to be put together, per thread: enough to keep every core busy.
constexpr std::size_t kPiecesAheadPerThread = 2;

// An open telemetry file and what the file commands show of it.
struct StreamedFile {
    CTelemetryFile file;
    std::string path;
    // The channels shown, in channel-number order: those the file's columns fill and the two
    // derived from them; none when the file has no record.
    std::vector<int> channels;
    // How the plot store keeps each shown channel, which decides its values and CSV digits.
    std::vector<EPlotStorage> storage;
    std::vector<TelemetryByteRange> pieces;
    bool hasRecord = false;
    double firstMjd = 0.0;  // of the first record: the days of the decay fit count from it
    unsigned threads = 1;
    std::size_t window = kPieceBytes;
};

// The value the plot store gives back for a parsed value of a channel kept this way. widened is
// set when the value does not fit the storage (the store then keeps the channel as double).
double StoredValue(double value, EPlotStorage storage, bool& widened) {
    switch (storage) {
        case EPlotStorage::kInt32:
            if (std::isnan(value)) {
                return value;
            }
            if (value == std::trunc(value) && value > std::numeric_limits<std::int32_t>::min() &&
                value <= std::numeric_limits<std::int32_t>::max()) {
                return static_cast<std::int32_t>(value);
            }
            widened = true;
            return value;
        case EPlotStorage::kFloat:
            if (std::isfinite(value) && !std::isfinite(static_cast<float>(value))) {
                widened = true;
                return value;
            }
            return static_cast<float>(value);
        case EPlotStorage::kDouble:
            break;
    }
    return value;
}

// False (the reason on err) when the file cannot be opened or is empty.
bool OpenStreamed(const std::string& path, const FileCommandOptions& options, StreamedFile& file,
                  std::ostream& err) {
    file.path = path;
    std::string reason;
    switch (file.file.Open(path, TelemetryIdentity{}, reason)) {
        case ETelemetryOpen::kCannotOpen:
            err << "corvane3: " << WithReason("Cannot Open File:\n" + path, reason) << "\n";
            return false;
        case ETelemetryOpen::kEmpty:
            err << "corvane3: Empty file:  " << path << "\n";
            return false;
        case ETelemetryOpen::kOpened:
            break;
    }
    const TelemetryFileLayout& layout = file.file.Layout();
    file.threads = options.threads > 0
                       ? options.threads
                       : std::clamp(std::thread::hardware_concurrency(), 1u, kMaxThreads);
    const std::uint64_t pieceBytes =
        options.pieceBytes > 0
            ? options.pieceBytes
            : std::clamp(
                  kBytesInFlight / (std::uint64_t{1} + 2 * kPiecesAheadPerThread) / file.threads,
                  kSmallestPieceBytes, kPieceBytes);
    file.window = static_cast<std::size_t>(std::min(pieceBytes, kPieceBytes));
    if (!layout.HasData()) {
        return true;
    }
    file.pieces = file.file.SplitIntoPieces(pieceBytes);
    file.file.ForEachRecord({layout.dataBegin, layout.size}, file.window,
                            [&](const TelemetryLine& line) {
                                TelemetryRecordValues values;
                                if (ParseTelemetryRecord(line, layout.map, values)) {
                                    file.firstMjd = values.mjd;
                                }
                                file.hasRecord = true;
                                return false;
                            });
    if (!file.hasRecord) {
        return true;
    }
    file.channels = layout.channels;
    file.channels.push_back(kChannelSignal);
    file.channels.push_back(kChannelFlopBackground);
    std::sort(file.channels.begin(), file.channels.end());
    file.channels.erase(std::unique(file.channels.begin(), file.channels.end()),
                        file.channels.end());
    const CPlotData defaults;
    for (int number : file.channels) {
        file.storage.push_back(layout.oldFormat ? EPlotStorage::kDouble
                                                : defaults.ChannelStorage(number));
    }
    return true;
}

// How reading a piece ended.
enum class EPieceEnd { kWhole, kFieldTooLong, kReadFailed, kCutShort };

// How a piece ended, given how its lines ended (kWhole or kFieldTooLong), whether it could be
// read and how much of it was there.
EPieceEnd PieceEnd(EPieceEnd lines, bool read, std::uint64_t bytesRead,
                   const TelemetryByteRange& range) {
    if (!read) {
        return EPieceEnd::kReadFailed;
    }
    return lines == EPieceEnd::kWhole && bytesRead < range.end - range.begin ? EPieceEnd::kCutShort
                                                                             : lines;
}

struct PieceResult {
    std::int64_t records = 0;
    EPieceEnd end = EPieceEnd::kWhole;
    double lastMjd = 0.0;
    std::vector<char> widened;  // per shown channel: a value did not fit its storage
    std::vector<CMergeableStatistics> statistics;  // per shown channel, for the summary
    CDecayFitSums decay;
    std::string csv;
};

// One record as the file commands see it.
struct StreamedRecord {
    double mjd;
    const std::vector<double>& stored;    // per shown channel, as the plot store gives it back
    const TelemetryRecordValues& parsed;  // as parsed, by channel number
    const TelemetryFieldTexts* texts;     // the values' texts, when asked for
};

// Parses one piece, calling take(record, result) for each record in file order.
template <typename Take>
PieceResult ParsePiece(const StreamedFile& file, std::size_t piece, bool withTexts, Take&& take) {
    const TelemetryFileLayout& layout = file.file.Layout();
    const TelemetryByteRange& range = file.pieces[piece];
    PieceResult result;
    std::vector<char> widened(file.channels.size(), 0);
    std::vector<double> stored(file.channels.size());
    TelemetryRecordValues values;
    TelemetryFieldTexts texts;
    TelemetryFieldTexts* const wantTexts = withTexts ? &texts : nullptr;
    std::uint64_t bytesRead = 0;
    const bool read = file.file.ForEachRecord(
        range, file.window,
        [&](const TelemetryLine& line) {
            if (!ParseTelemetryRecord(line, layout.map, values, wantTexts)) {
                result.end = EPieceEnd::kFieldTooLong;
                return false;
            }
            for (std::size_t c = 0; c < file.channels.size(); ++c) {
                bool wider = false;
                stored[c] = StoredValue(values.channels[static_cast<std::size_t>(file.channels[c])],
                                        file.storage[c], wider);
                widened[c] |= wider ? 1 : 0;
            }
            ++result.records;
            result.lastMjd = values.mjd;
            take(StreamedRecord{values.mjd, stored, values, wantTexts}, result);
            return true;
        },
        &bytesRead);
    result.end = PieceEnd(result.end, read, bytesRead, range);
    result.widened = std::move(widened);
    return result;
}

// What a pass over the whole file found.
struct PassResult {
    std::int64_t records = 0;
    EPieceEnd end = EPieceEnd::kWhole;
    double lastMjd = 0.0;
    std::vector<char> widened;
};

// Runs parse(piece) on every piece on all threads and hands the results to take in file order,
// up to the first piece that did not end whole. Returns what the pass found.
template <typename Parse, typename Take>
PassResult RunPass(const StreamedFile& file, Parse&& parse, Take&& take) {
    PassResult pass;
    pass.widened.assign(file.channels.size(), 0);
    RunOrderedPieces<PieceResult>(
        file.pieces.size(), file.threads, kPiecesAheadPerThread * file.threads + 1,
        [&](std::size_t piece) { return parse(piece); },
        [&](PieceResult&& piece) {
            if (piece.end == EPieceEnd::kFieldTooLong || piece.end == EPieceEnd::kReadFailed) {
                pass.end = piece.end;
                return false;
            }
            pass.records += piece.records;
            if (piece.records > 0) {
                pass.lastMjd = piece.lastMjd;
            }
            for (std::size_t c = 0; c < pass.widened.size(); ++c) {
                pass.widened[c] = pass.widened[c] || piece.widened[c];
            }
            take(piece);
            if (piece.end == EPieceEnd::kCutShort) {
                pass.end = piece.end;
                return false;
            }
            return true;
        });
    return pass;
}

// False (the reason on err) when the pass ended at a damaged line, a read error, or a file cut
// shorter while it was read: what is left of it is not the file.
bool PassSucceeded(const StreamedFile& file, const PassResult& pass, std::ostream& err) {
    switch (pass.end) {
        case EPieceEnd::kWhole:
            return true;
        case EPieceEnd::kFieldTooLong:
            err << "corvane3: File Read Error\n";
            return false;
        case EPieceEnd::kReadFailed:
            err << "corvane3: Cannot Open File:\n" << file.path << "\n";
            return false;
        case EPieceEnd::kCutShort:
            err << "corvane3: " << file.path
                << " became shorter while it was read (records were gone); try again\n";
            return false;
    }
    return false;
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
            PieceResult result =
                ParsePiece(file, piece, /*withTexts=*/false,
                           [&](const StreamedRecord& record, PieceResult& partial) {
                               for (std::size_t c = 0; c < record.stored.size(); ++c) {
                                   own[c].Add(record.stored[c]);
                               }
                               partial.decay.Add(record.mjd - file.firstMjd,
                                                 record.stored[static_cast<std::size_t>(signal)]);
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

// The CSV heading: MJD and each shown channel as "Name (unit)".
std::string CsvHeading(const StreamedFile& file) {
    const CPlotData names;
    std::string line = "MJD";
    for (int number : file.channels) {
        const CPlotSeries channel = names.Channel(number);
        line += ",";
        line += CsvField(channel.Unit().empty() ? channel.Name()
                                                : channel.Name() + " (" + channel.Unit() + ")");
    }
    return line + "\r\n";
}

// One pass writing the CSV to csv, with the digits of the channels in widened chosen as for
// double values. The pass result tells whether it went through and which channels turned out
// wider than their storage.
PassResult WriteCsvPass(const StreamedFile& file, const std::vector<char>& widened,
                        std::ostream& csv) {
    std::vector<EPlotStorage> digits = file.storage;
    for (std::size_t c = 0; c < digits.size(); ++c) {
        if (widened[c] != 0) {
            digits[c] = EPlotStorage::kDouble;
        }
    }
    csv << CsvHeading(file);
    return RunPass(
        file,
        [&](std::size_t piece) {
            std::string text;
            // A piece's CSV is mostly shorter than its text: one allocation mostly holds it.
            text.reserve(static_cast<std::size_t>(file.pieces[piece].end -
                                                  file.pieces[piece].begin));
            PieceResult result = ParsePiece(
                file, piece, /*withTexts=*/true, [&](const StreamedRecord& record, PieceResult&) {
                    const TelemetryFieldTexts& texts = *record.texts;
                    if (!CopyShortestText(text, texts.mjd, record.mjd, record.mjd,
                                          EPlotStorage::kDouble) &&
                        !AppendDigitsOfText(text, texts.mjd, record.mjd, record.mjd,
                                            EPlotStorage::kDouble)) {
                        AppendNumber(text, record.mjd, EPlotStorage::kDouble);
                    }
                    for (std::size_t c = 0; c < record.stored.size(); ++c) {
                        text += ',';
                        const auto number = static_cast<std::size_t>(file.channels[c]);
                        // A single-precision channel written as double has other digits than
                        // its text.
                        const bool ownDigits =
                            digits[c] == file.storage[c] || file.storage[c] == EPlotStorage::kInt32;
                        const std::string_view field = texts.channels[number];
                        const double parsed = record.parsed.channels[number];
                        if (!ownDigits ||
                            (!CopyShortestText(text, field, parsed, record.stored[c],
                                               file.storage[c]) &&
                             !AppendDigitsOfText(text, field, parsed, record.stored[c],
                                                 file.storage[c]))) {
                            AppendNumber(text, record.stored[c], digits[c]);
                        }
                    }
                    text += "\r\n";
                });
            result.csv = std::move(text);
            return result;
        },
        [&](PieceResult& piece) {
            csv.write(piece.csv.data(), static_cast<std::streamsize>(piece.csv.size()));
        });
}

// True when the digits written with written already are those that widened calls for: only a
// single-precision channel that turned out wider writes other digits.
bool WidenedDigits(const StreamedFile& file, const std::vector<char>& widened,
                   const std::vector<char>& written) {
    for (std::size_t c = 0; c < widened.size(); ++c) {
        if (widened[c] != written[c] && file.storage[c] == EPlotStorage::kFloat) {
            return false;
        }
    }
    return true;
}

// Set in an ASCII letter's code, it gives the lower-case letter.
constexpr char kLowerCaseBit = 0x20;

// Checks one piece as ParsePiece reads it, without converting its numbers: whether every
// field is short enough, and which single-precision channels get a value too large for a float
// (only text with an exponent can be one: longer text is refused as too long).
PieceResult ScanPiece(const StreamedFile& file, std::size_t piece) {
    const TelemetryFileLayout& layout = file.file.Layout();
    const TelemetryByteRange& range = file.pieces[piece];
    // For each column, the shown channel it fills when that is kept as float, else none.
    std::vector<std::ptrdiff_t> floatColumn(layout.map.size(), -1);
    for (std::size_t k = 0; k < layout.map.size(); ++k) {
        const auto shown = std::find(file.channels.begin(), file.channels.end(), layout.map[k]);
        if (shown != file.channels.end() &&
            file.storage[static_cast<std::size_t>(shown - file.channels.begin())] ==
                EPlotStorage::kFloat) {
            floatColumn[k] = shown - file.channels.begin();
        }
    }
    PieceResult result;
    result.widened.assign(file.channels.size(), 0);
    std::uint64_t bytesRead = 0;
    const bool read = file.file.ForEachRecord(
        range, file.window,
        [&](const TelemetryLine& line) {
            // One walk over the line: fields are a few characters, too short for a search call
            // per field to pay.
            const char* p = line.begin;
            for (std::size_t k = 0; k < floatColumn.size(); ++k) {
                const char* end = p;
                while (end < line.end && *end != ',') {
                    ++end;
                }
                if (static_cast<std::size_t>(end - p) > kMaxTelemetryFieldCharacters) {
                    result.end = EPieceEnd::kFieldTooLong;
                    return false;
                }
                if (floatColumn[k] >= 0 && std::any_of(p, end, [](char c) {
                        // 'e' or 'E', or a hexadecimal 'p' or 'P'
                        const char lower = static_cast<char>(c | kLowerCaseBit);
                        return lower == 'e' || lower == 'p';
                    })) {
                    bool wider = false;
                    const char* stop = p;
                    StoredValue(ParseTelemetryNumber(p, line.end, stop), EPlotStorage::kFloat,
                                wider);
                    result.widened[static_cast<std::size_t>(floatColumn[k])] |= wider ? 1 : 0;
                }
                if (end == line.end) {
                    break;
                }
                p = end + 1;
            }
            ++result.records;
            return true;
        },
        &bytesRead);
    result.end = PieceEnd(result.end, read, bytesRead, range);
    return result;
}

// A pass that only checks the file: whether it reads through and which channels are wider than
// their storage.
PassResult CheckPass(const StreamedFile& file) {
    return RunPass(
        file, [&](std::size_t piece) { return ScanPiece(file, piece); }, [](PieceResult&) {});
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

// Writes a CSV to a stream: false when the file turned out unreadable (the reason went to err).
using CsvWriter = std::function<bool(std::ostream&)>;

// Writes the CSV to an open stream and closes it; false with the reason when that failed (an
// empty reason when the file itself failed; its reason went to err).
bool WriteAndClose(std::ofstream& csv, const CsvWriter& writeCsv, std::string& reason) {
    errno = 0;
    const bool read = writeCsv(csv);
    csv.close();
    if (!read) {
        reason.clear();
        return false;
    }
    if (csv) {
        return true;
    }
    reason = std::strerror(errno != 0 ? errno : EIO);
    return false;
}

// Tries with another number when an earlier run of the same process id left its file.
constexpr int kTemporaryNameAttempts = 100;
// Read and write for everyone the umask allows, as the CSV itself would get.
constexpr mode_t kNewFileMode = 0666;

// Makes a new empty file beside target to write the CSV into. Its name is short whatever the
// target's is (the target's own name may be as long as the file system allows), and starts with
// a dot so that listings pass over it. False, with the reason, when no such file can be made.
bool CreateTemporaryBeside(const std::string& target, std::string& temporary,
                           std::string& reason) {
    const std::filesystem::path folder = std::filesystem::path(target).parent_path();
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        const std::string name =
            ".csv" + std::to_string(::getpid()) + "-" + std::to_string(attempt) + ".tmp";
        temporary = (folder / name).string();
        const int fd =
            ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kNewFileMode);
        if (fd >= 0) {
            ::close(fd);
            return true;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    reason = std::strerror(errno);
    return false;
}

int CannotWrite(const std::string& target, const std::string& reason, std::ostream& err) {
    if (!reason.empty()) {
        err << "corvane3: cannot write " << target << " (" << reason << ")\n";
    }
    return kExitRefused;
}

}  // namespace

int RunSummary(const std::string& path, std::ostream& out, std::ostream& err,
               const FileCommandOptions& options) {
    errno = 0;
    const int status = IsSpectrumFile(path) ? PrintSpectrumSummary(path, out, err)
                                            : PrintSummary(path, options, out, err);
    return status == kExitDone ? Written(out, err, "summary") : status;
}

int RunExportCsv(const std::string& path, const std::string& outPath, std::ostream& out,
                 std::ostream& err, const FileCommandOptions& options) {
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
    SpectrumPoints spectrum;
    StreamedFile file;
    // Channels whose values do not all fit their storage: their digits are those of doubles.
    std::vector<char> widened;
    CsvWriter writeCsv;
    if (IsSpectrumFile(path)) {
        if (!LoadSpectrum(path, spectrum, err)) {
            return kExitRefused;
        }
        writeCsv = [&spectrum](std::ostream& csv) {
            WriteSpectrumCsv(spectrum, csv);
            return true;
        };
    } else {
        if (!OpenStreamed(path, options, file, err)) {
            return kExitRefused;
        }
        widened.assign(file.channels.size(), 0);
        if (kind != ECsvTarget::kReplaced) {
            // What is written there cannot be taken back: the file is read through once first,
            // so that a damaged file writes nothing and every column has its digits from the
            // first line on.
            const PassResult check = CheckPass(file);
            if (!PassSucceeded(file, check, err)) {
                return kExitRefused;
            }
            widened = check.widened;
        }
        writeCsv = [&](std::ostream& csv) {
            const PassResult pass = WriteCsvPass(file, widened, csv);
            widened = pass.widened;
            return PassSucceeded(file, pass, err);
        };
    }
    switch (kind) {
        case ECsvTarget::kStandardOutput:
            errno = 0;
            if (!writeCsv(out)) {
                return kExitRefused;
            }
            return Written(out, err, "CSV");
        case ECsvTarget::kDirect: {
            errno = 0;
            std::ofstream csv(resolved, std::ios::binary);
            if (!csv.is_open()) {
                return CannotWrite(target, std::strerror(errno != 0 ? errno : EIO), err);
            }
            if (!WriteAndClose(csv, writeCsv, reason)) {
                return CannotWrite(target, reason, err);
            }
            return kExitDone;
        }
        case ECsvTarget::kReplaced:
        case ECsvTarget::kRefused:
            break;
    }
    // Written beside the target and renamed, so a reader never sees half a file. An interrupt
    // removes the temporary file.
    std::string temporary;
    if (!CreateTemporaryBeside(resolved, temporary, reason)) {
        return CannotWrite(target, reason, err);
    }
    SetTemporaryFileToRemove(temporary);
    const auto discard = [&temporary] {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        SetTemporaryFileToRemove("");
    };
    // A channel found wider than its storage only on the way changes the digits of the lines
    // before: the file is then written once more with that known.
    for (std::vector<char> written = widened;;) {
        std::ofstream csv(temporary, std::ios::binary | std::ios::trunc);
        if (!WriteAndClose(csv, writeCsv, reason)) {
            discard();
            return CannotWrite(target, reason, err);
        }
        if (WidenedDigits(file, widened, written)) {
            break;
        }
        written = widened;
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
