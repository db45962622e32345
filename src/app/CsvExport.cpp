// corvane3 --export-csv: a file's records as RFC 4180 CSV, each number in the fewest digits that
// read back to the value the program keeps.

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
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

// Copies text of a few characters to out: fixed-size moves that overlap where the length falls
// between them, as a call to memcpy costs more than the copy. Reads nothing outside text.
char* CopyShort(char* out, std::string_view text) {
    const char* const from = text.data();
    const std::size_t n = text.size();
    if (n >= 8) {
        for (std::size_t i = 0; i + 8 < n; i += 8) {
            std::memcpy(out + i, from + i, 8);
        }
        std::memcpy(out + n - 8, from + n - 8, 8);
    } else if (n >= 4) {
        std::memcpy(out, from, 4);
        std::memcpy(out + n - 4, from + n - 4, 4);
    } else {
        for (std::size_t i = 0; i < n; ++i) {
            out[i] = from[i];
        }
    }
    return out + n;
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
    // A single-precision channel written as double has other digits than its text.
    std::vector<char> ownDigits(digits.size());
    for (std::size_t c = 0; c < digits.size(); ++c) {
        ownDigits[c] =
            digits[c] == file.storage[c] || file.storage[c] == EPlotStorage::kInt32 ? 1 : 0;
    }
    // The most one record's line takes: each value, its comma and the line end.
    const std::size_t lineRoom = (digits.size() + 1) * (kMaxNumberCharacters + 1) + 2;
    csv << CsvHeading(file);
    return RunPass(
        file,
        [&](std::size_t piece) {
            // Written through a pointer, the string grown ahead and cut to its length at the
            // end: a string operation per value costs more than finding its digits. A piece's
            // CSV is mostly shorter than its text: one allocation mostly holds it.
            std::string text(
                static_cast<std::size_t>(file.pieces[piece].end - file.pieces[piece].begin) +
                    lineRoom,
                '\0');
            std::size_t used = 0;
            // value's digits at out: the field's own text where it has the digits, else worked
            // out.
            const auto write = [](char* out, std::string_view field, const char* point,
                                  double parsed, double stored, EPlotStorage storage,
                                  EPlotStorage digits) {
                const std::string_view own =
                    point != nullptr ? ShortestTextOfPlain(field, point, parsed, stored, storage)
                                     : ShortestTextOf(field, parsed, stored, storage);
                if (!own.empty()) {
                    return CopyShort(out, own);
                }
                char* const end = WriteDigitsOfText(out, field, parsed, stored, storage);
                return end != nullptr ? end : WriteNumber(out, stored, digits);
            };
            PieceResult result = ParsePiece(
                file, piece, /*withTexts=*/true, [&](const StreamedRecord& record, PieceResult&) {
                    if (text.size() - used < lineRoom) {
                        text.resize(2 * text.size());
                    }
                    const TelemetryFieldTexts& texts = *record.texts;
                    char* out = text.data() + used;
                    out = write(out, texts.mjd, texts.mjdPoint, record.mjd, record.mjd,
                                EPlotStorage::kDouble, EPlotStorage::kDouble);
                    for (std::size_t c = 0; c < record.stored.size(); ++c) {
                        *out++ = ',';
                        const auto number = static_cast<std::size_t>(file.channels[c]);
                        out = ownDigits[c] != 0
                                  ? write(out, texts.channels[number], texts.points[number],
                                          record.parsed.channels[number], record.stored[c],
                                          file.storage[c], digits[c])
                                  : WriteNumber(out, record.stored[c], digits[c]);
                    }
                    *out++ = '\r';
                    *out++ = '\n';
                    used = static_cast<std::size_t>(out - text.data());
                });
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
        &bytesRead, &result.badLine);
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
