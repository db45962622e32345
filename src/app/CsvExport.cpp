// corvane3 --export-csv: a file's records as RFC 4180 CSV, each number in the fewest digits that
// read back to the value the program keeps.

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "app/CsvTarget.h"
#include "app/FileCommandShared.h"
#include "app/FileCommands.h"
#include "app/TelemetryPasses.h"
#include "app/TemporaryFileCleanup.h"
#include "core/program/ExitStatus.h"
#include "core/telemetry/FieldScan.h"
#include "core/telemetry/ShortestDigits.h"

namespace corvane3 {

namespace {

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

// Copies text of at most kCopyBytes characters to out by one fixed-size move, as a call to
// memcpy costs more than the copy. The kCopyBytes bytes from text can be read and those at out
// written.
constexpr std::size_t kCopyBytes = 32;
static_assert(kCopyBytes <= kTelemetryLineReadAhead &&
              kCopyBytes <= sizeof(shortest_digits_detail::kSignedZeroText));
char* CopyShort(char* out, std::string_view text) {
    std::memcpy(out, text.data(), kCopyBytes);
    return out + text.size();
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

// Where a shown channel's value comes from: its field's column, or none for Signal and
// Flop/Background, derived from the values of four columns.
constexpr int kDerived = -1;

// How a record line's fields become the CSV's values: for each shown channel its column, and the
// columns the derived channels are worked out from.
struct CsvPlan {
    int mjdColumn = kDerived;
    std::vector<int> columns;  // per shown channel
    // The columns of CLevel, NumGain, DACGain and DCLevel (kDerived for one the file lacks).
    std::array<int, 4> derivedFrom{kDerived, kDerived, kDerived, kDerived};
};

CsvPlan PlanOf(const StreamedFile& file) {
    const std::vector<int>& map = file.file.Layout().map;
    const auto columnOf = [&map](int code) {
        const auto at = std::find(map.begin(), map.end(), code);
        return at == map.end() ? kDerived : static_cast<int>(at - map.begin());
    };
    CsvPlan plan;
    plan.mjdColumn = columnOf(kColumnTime);
    for (int channel : file.channels) {
        const bool derived = channel == kChannelSignal || channel == kChannelFlopBackground;
        plan.columns.push_back(derived ? kDerived : columnOf(channel));
    }
    const int sources[] = {4, 14, 13, 12};
    for (std::size_t i = 0; i < plan.derivedFrom.size(); ++i) {
        plan.derivedFrom[i] = columnOf(sources[i]);
    }
    return plan;
}

// One pass writing the CSV to csv, with the digits of the channels in widened chosen as for
// double values. The pass result tells whether it went through and which channels turned out
// wider than their storage.
//
// Most fields are written as their own text once blanks and trailing zeros are dropped, which
// their text alone tells (ShortestTextOfField); only the others and the derived channels are
// converted, and written from their values as the plot store keeps them.
PassResult WriteCsvPass(const StreamedFile& file, const std::vector<char>& widened,
                        std::ostream& csv) {
    std::vector<EPlotStorage> digits = file.storage;
    for (std::size_t c = 0; c < digits.size(); ++c) {
        if (widened[c] != 0) {
            digits[c] = EPlotStorage::kDouble;
        }
    }
    // A single-precision channel written as double has other digits than its text.
    std::vector<char> ownDigits(digits.size());
    for (std::size_t c = 0; c < digits.size(); ++c) {
        ownDigits[c] =
            digits[c] == file.storage[c] || file.storage[c] == EPlotStorage::kInt32 ? 1 : 0;
    }
    const CsvPlan plan = PlanOf(file);
    const std::size_t columns = file.file.Layout().map.size();
    // The most one record's line takes: each value, its comma and the line end, and room for
    // the fixed-size copy of the last value.
    const std::size_t lineRoom = (digits.size() + 1) * (kMaxNumberCharacters + 1) + 2 + kCopyBytes;
    csv << CsvHeading(file);
    return RunPass(
        file,
        [&](std::size_t piece) {
            // Written through a pointer, the string grown ahead and cut to its length at the
            // end: a string operation per value costs more than finding its digits. A piece's
            // CSV is mostly shorter than its text: one allocation mostly holds it.
            const TelemetryByteRange& range = file.pieces[piece];
            std::string text(static_cast<std::size_t>(range.end - range.begin) + lineRoom, '\0');
            std::size_t used = 0;
            PieceResult result;
            result.widened.assign(file.channels.size(), 0);
            std::vector<std::string_view> fields(columns);
            // value's digits at out, as the plot store keeps it: the field's own text where it
            // has the digits, else worked out.
            const auto writeValue = [&](char* out, std::size_t c, std::string_view field,
                                        double value) {
                bool wider = false;
                const double stored = StoredValue(value, file.storage[c], wider);
                result.widened[c] |= wider ? 1 : 0;
                if (ownDigits[c] == 0) {
                    return WriteNumber(out, stored, digits[c]);
                }
                const std::string_view own = ShortestTextOf(field, value, stored, file.storage[c]);
                if (!own.empty()) {
                    return CopyShort(out, own);
                }
                char* const end = WriteDigitsOfText(out, field, value, stored, file.storage[c]);
                return end != nullptr ? end : WriteNumber(out, stored, digits[c]);
            };
            std::uint64_t bytesRead = 0;
            const bool read = file.file.ForEachRecord(
                range, file.window,
                [&](const TelemetryLine& line) {
                    std::size_t present = 0;
                    const bool whole =
                        ForEachField(line.begin, line.end, columns,
                                     [&](std::size_t k, const char* begin, const char* end, bool) {
                                         const auto length = static_cast<std::size_t>(end - begin);
                                         fields[k] = {begin, length};
                                         present = k + 1;
                                         return length <= kMaxTelemetryFieldCharacters;
                                     });
                    if (!whole) {
                        result.end = EPieceEnd::kFieldTooLong;
                        return false;
                    }
                    // A column the file lacks gives 0, a field the line lacks nothing.
                    const auto valueOf = [&](int k) {
                        return k == kDerived ? 0.0
                               : static_cast<std::size_t>(k) < present
                                   ? ParseTelemetryField(fields[static_cast<std::size_t>(k)].data(),
                                                         line.end)
                                   : std::numeric_limits<double>::quiet_NaN();
                    };
                    const auto& from = plan.derivedFrom;
                    const SignalChannels derived =
                        DeriveSignalChannels(valueOf(from[0]), valueOf(from[1]), valueOf(from[2]),
                                             valueOf(from[3]), /*replaceZeroBackground=*/true);
                    if (text.size() - used < lineRoom) {
                        text.resize(2 * text.size());
                    }
                    char* out = text.data() + used;
                    if (plan.mjdColumn == kDerived) {
                        out = WriteNumber(out, 0.0, EPlotStorage::kDouble);
                    } else {
                        const std::string_view mjd =
                            fields[static_cast<std::size_t>(plan.mjdColumn)];
                        const std::string_view own =
                            ShortestTextOfField(mjd.data(), mjd.size(), EPlotStorage::kDouble);
                        if (!own.empty()) {
                            out = CopyShort(out, own);
                        } else {
                            const double value = ParseTelemetryField(mjd.data(), line.end);
                            char* const end =
                                WriteDigitsOfText(out, mjd, value, value, EPlotStorage::kDouble);
                            out = end != nullptr ? end
                                                 : WriteNumber(out, value, EPlotStorage::kDouble);
                        }
                    }
                    for (std::size_t c = 0; c < plan.columns.size(); ++c) {
                        *out++ = ',';
                        const int k = plan.columns[c];
                        if (k == kDerived) {
                            const double value = file.channels[c] == kChannelSignal
                                                     ? derived.signal
                                                     : derived.flopBackground;
                            out = writeValue(out, c, {}, value);
                            continue;
                        }
                        if (static_cast<std::size_t>(k) >= present) {
                            continue;  // an absent value's field is empty
                        }
                        const std::string_view field = fields[static_cast<std::size_t>(k)];
                        const std::string_view own =
                            ownDigits[c] != 0
                                ? ShortestTextOfField(field.data(), field.size(), file.storage[c])
                                : std::string_view{};
                        out = !own.empty()
                                  ? CopyShort(out, own)
                                  : writeValue(out, c, field,
                                               ParseTelemetryField(field.data(), line.end));
                    }
                    *out++ = '\r';
                    *out++ = '\n';
                    used = static_cast<std::size_t>(out - text.data());
                    ++result.records;
                    return true;
                },
                &bytesRead, &result.badLine, &result.damage);
            result.readError = read ? 0 : errno;
            result.end = PieceEnd(result.end, read, bytesRead, range);
            text.resize(used);
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

// Checks one piece as the CSV pass reads it, without converting its numbers: whether every
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
            if (FieldsShortAndLetterFree(line.begin, line.end, floatColumn.size(),
                                         kMaxTelemetryFieldCharacters,
                                         [&](std::size_t k) { return floatColumn[k] >= 0; })) {
                ++result.records;
                return true;
            }
            const bool whole = ForEachField(
                line.begin, line.end, floatColumn.size(),
                [&](std::size_t k, const char* begin, const char* end, bool exponentLetter) {
                    if (static_cast<std::size_t>(end - begin) > kMaxTelemetryFieldCharacters) {
                        return false;
                    }
                    if (exponentLetter && floatColumn[k] >= 0) {
                        bool wider = false;
                        const char* stop = begin;
                        StoredValue(ParseTelemetryNumber(begin, line.end, stop),
                                    EPlotStorage::kFloat, wider);
                        result.widened[static_cast<std::size_t>(floatColumn[k])] |= wider ? 1 : 0;
                    }
                    return true;
                });
            if (!whole) {
                result.end = EPieceEnd::kFieldTooLong;
                return false;
            }
            ++result.records;
            return true;
        },
        &bytesRead, &result.badLine, &result.damage);
    result.readError = read ? 0 : errno;
    result.end = PieceEnd(result.end, read, bytesRead, range);
    return result;
}

// A pass that only checks the file: whether it reads through and which channels are wider than
// their storage.
PassResult CheckPass(const StreamedFile& file) {
    return RunPass(
        file, [&](std::size_t piece) { return ScanPiece(file, piece); }, [](PieceResult&) {});
}

}  // namespace

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
    PassResult written;  // the last pass that wrote the CSV
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
            written = WriteCsvPass(file, widened, csv);
            widened = written.widened;
            return PassSucceeded(file, written, err);
        };
    }
    switch (kind) {
        case ECsvTarget::kStandardOutput:
            errno = 0;
            if (!writeCsv(out)) {
                return kExitRefused;
            }
            SayDamagedLines(file, written, err);
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
            SayDamagedLines(file, written, err);
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
    SayDamagedLines(file, written, err);
    return kExitDone;
}

}  // namespace corvane3
