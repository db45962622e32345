#pragma once
// A telemetry file as the file commands read it: split into pieces that are parsed on several
// threads and handed on in file order, each record's values as the plot store would keep them.
// A pass over the file runs one parse per piece and ends at the first piece that did not end
// whole (a damaged line, a read error, a file cut shorter meanwhile).

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "app/FileCommands.h"
#include "core/base/OrderedPieces.h"
#include "core/plot/PlotData.h"
#include "core/plot/Statistics.h"
#include "core/telemetry/TelemetryChunks.h"

namespace corvane3 {

// Telemetry files are read in pieces of about this many bytes, every core taking pieces in turn,
// and their results put together in file order.
inline constexpr std::uint64_t kPieceBytes = std::uint64_t{4} << 20;
// Text held at once, about: each thread reads one piece while finished ones wait, with their
// CSV, to be put together. Pieces are made smaller on machines with many cores to keep to it.
inline constexpr std::uint64_t kBytesInFlight = std::uint64_t{24} << 20;
inline constexpr std::uint64_t kSmallestPieceBytes = std::uint64_t{256} << 10;
inline constexpr unsigned kMaxThreads = 8;
// Results that may wait to be put together, per thread: enough to keep every core busy.
inline constexpr std::size_t kPiecesAheadPerThread = 2;

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
// Inline: it runs for every value of every record.
inline double StoredValue(double value, EPlotStorage storage, bool& widened) {
    switch (storage) {
        case EPlotStorage::kInt32:
            if (std::isnan(value)) {
                return value;
            }
            // In range first, so that the conversion back tells whether it is whole.
            if (value > std::numeric_limits<std::int32_t>::min() &&
                value <= std::numeric_limits<std::int32_t>::max() &&
                static_cast<double>(static_cast<std::int32_t>(value)) == value) {
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

// StoredValue for count values of one channel, in place: the storage is looked at once.
void StoreValues(double* values, std::size_t count, EPlotStorage storage, bool& widened);

// False (the reason on err) when the file cannot be opened or is empty.
bool OpenStreamed(const std::string& path, const FileCommandOptions& options, StreamedFile& file,
                  std::ostream& err);

// How reading a piece ended.
enum class EPieceEnd { kWhole, kFieldTooLong, kReadFailed, kCutShort };

// How a piece ended, given how its lines ended (kWhole or kFieldTooLong), whether it could be
// read and how much of it was there.
EPieceEnd PieceEnd(EPieceEnd lines, bool read, std::uint64_t bytesRead,
                   const TelemetryByteRange& range);

struct PieceResult {
    std::int64_t records = 0;
    EPieceEnd end = EPieceEnd::kWhole;
    std::uint64_t badLine = 0;  // kFieldTooLong: the file offset of the line refused
    int readError = 0;          // kReadFailed: the system's error number
    TelemetryDamage damage;     // lines left out
    double lastMjd = 0.0;
    std::vector<char> widened;  // per shown channel: a value did not fit its storage
    std::vector<CMergeableStatistics> statistics;  // per shown channel, for the summary
    CDecayFitSums decay;
    std::string csv;
};

// Records of a piece a block at a time, each shown channel's values side by side, so that work
// done per channel (the storage conversion, the statistics) runs over many values in one loop.
inline constexpr std::size_t kBlockRecords = 256;

struct RecordBlock {
    std::size_t count = 0;
    std::vector<double> mjd = std::vector<double>(kBlockRecords);
    std::vector<double> stored;  // per shown channel, kBlockRecords places each

    explicit RecordBlock(std::size_t channels) : stored(channels * kBlockRecords) {}
    double* Channel(std::size_t c) { return stored.data() + c * kBlockRecords; }
    const double* Channel(std::size_t c) const { return stored.data() + c * kBlockRecords; }
};

// Parses one piece, calling take(block, result) for each block of records in
// file order, their values as the plot store gives them back.
template <typename Take>
PieceResult ParsePieceInBlocks(const StreamedFile& file, std::size_t piece, Take&& take) {
    const TelemetryFileLayout& layout = file.file.Layout();
    const TelemetryByteRange& range = file.pieces[piece];
    const std::size_t channels = file.channels.size();
    PieceResult result;
    result.widened.assign(channels, 0);
    RecordBlock block(channels);
    const auto handOn = [&] {
        for (std::size_t c = 0; c < channels; ++c) {
            bool wider = false;
            StoreValues(block.Channel(c), block.count, file.storage[c], wider);
            result.widened[c] |= wider ? 1 : 0;
        }
        take(static_cast<const RecordBlock&>(block), result);
        block.count = 0;
    };
    TelemetryRecordValues values;
    std::uint64_t bytesRead = 0;
    const bool read = file.file.ForEachRecord(
        range, file.window,
        [&](const TelemetryLine& line) {
            if (!ParseTelemetryRecord(line, layout.map, values)) {
                result.end = EPieceEnd::kFieldTooLong;
                return false;
            }
            for (std::size_t c = 0; c < channels; ++c) {
                block.Channel(c)[block.count] =
                    values.channels[static_cast<std::size_t>(file.channels[c])];
            }
            block.mjd[block.count] = values.mjd;
            ++result.records;
            result.lastMjd = values.mjd;
            if (++block.count == kBlockRecords) {
                handOn();
            }
            return true;
        },
        &bytesRead, &result.badLine, &result.damage);
    if (block.count > 0) {
        handOn();
    }
    result.readError = read ? 0 : errno;
    result.end = PieceEnd(result.end, read, bytesRead, range);
    return result;
}

// What a pass over the whole file found.
struct PassResult {
    std::int64_t records = 0;
    EPieceEnd end = EPieceEnd::kWhole;
    std::uint64_t badLine = 0;  // as in PieceResult
    int readError = 0;
    TelemetryDamage damage;  // lines left out, in the pieces taken
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
                pass.badLine = piece.badLine;
                pass.readError = piece.readError;
                return false;
            }
            pass.records += piece.records;
            pass.damage.Merge(piece.damage);
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

// False (the reason on err) when the pass ended at a damaged line (its number said), a read
// error (its reason said), or a file cut shorter while it was read: what is left of it is not
// the file.
bool PassSucceeded(const StreamedFile& file, const PassResult& pass, std::ostream& err);

// Says on err the damaged lines the pass left out, if any.
void SayDamagedLines(const StreamedFile& file, const PassResult& pass, std::ostream& err);

}  // namespace corvane3
