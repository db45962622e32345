#include "core/telemetry/CachedDataFile.h"

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <span>
#include <thread>
#include <utility>
#include <vector>

#include "core/base/OrderedPieces.h"
#include "core/plot/StaleCacheTemporaries.h"
#include "core/telemetry/ChosenColumns.h"

namespace corvane3 {

namespace {

constexpr std::uint64_t kPieceBytes = std::uint64_t{4} << 20;
constexpr std::size_t kReadWindow = std::size_t{1} << 20;
constexpr unsigned kMaxThreads = 8;
constexpr std::size_t kPiecesAheadPerThread = 2;

// The channels a file's cache keeps: the file's columns, the two derived channels and the MJD,
// each in the storage the in-memory store gives it.
std::vector<PlotCacheChannel> CacheChannels(const TelemetryFileLayout& layout) {
    const CPlotData table;
    std::vector<int> slots;
    for (const int slot : layout.channels) {
        if (std::find(slots.begin(), slots.end(), slot) == slots.end()) {
            slots.push_back(slot);
        }
    }
    for (const int slot : {kChannelSignal, kChannelFlopBackground, CPlotData::kAxis0Slot}) {
        if (std::find(slots.begin(), slots.end(), slot) == slots.end()) {
            slots.push_back(slot);
        }
    }
    std::vector<PlotCacheChannel> channels;
    for (const int slot : slots) {
        const bool exact = layout.oldFormat || slot == CPlotData::kAxis0Slot;
        channels.push_back({slot, exact ? EPlotStorage::kDouble : table.ChannelStorage(slot)});
    }
    return channels;
}

enum class EPieceEnd { kWhole, kFieldTooLong, kReadFailed, kCutShort, kCancelled };

struct ParsedPiece {
    std::vector<std::vector<double>> columns;
    std::int64_t records = 0;
    EPieceEnd end = EPieceEnd::kWhole;
    std::uint64_t bytes = 0;  // of the file the piece stands for
    // The last record came from a last line without a line end: the file may still be
    // writing it, so the written cache ends before it (at unterminatedAt).
    bool lastUnterminated = false;
    std::uint64_t unterminatedAt = 0;
};

class CPieceParser {
  public:
    // choice: the columns to parse when not all of them (channels then holds only theirs).
    CPieceParser(const CTelemetryFile& file, const std::vector<PlotCacheChannel>& channels,
                 const TelemetryColumnChoice* choice = nullptr)
        : file_(file), channels_(channels), choice_(choice) {}

    // The records of range, and the damaged lines left out of it.
    std::pair<std::int64_t, TelemetryDamage> Count(const TelemetryByteRange& range) const {
        std::pair<std::int64_t, TelemetryDamage> counted;
        file_.ForEachRecord(
            range, kReadWindow,
            [&](const TelemetryLine&) {
                ++counted.first;
                return true;
            },
            nullptr, nullptr, &counted.second);
        return counted;
    }

    ParsedPiece Parse(const TelemetryByteRange& range) const {
        ParsedPiece piece;
        piece.columns = TakeBuffers();
        TelemetryRecordValues values;
        std::uint64_t read = 0;
        const bool ok = file_.ForEachRecord(
            range, kReadWindow,
            [&](const TelemetryLine& line) {
                const bool parsed = choice_ != nullptr
                                        ? ParseChosenColumns(line, *choice_, values)
                                        : ParseTelemetryRecord(line, file_.Layout().map, values);
                if (!parsed) {
                    piece.end = EPieceEnd::kFieldTooLong;
                    return false;
                }
                for (std::size_t c = 0; c < channels_.size(); ++c) {
                    const int slot = channels_[c].slot;
                    const double value = slot == CPlotData::kAxis0Slot
                                             ? values.mjd
                                             : values.channels[static_cast<std::size_t>(slot)];
                    piece.columns[c].push_back(StoredValue(value, channels_[c].storage));
                }
                ++piece.records;
                if (!line.terminated) {
                    piece.lastUnterminated = true;
                    piece.unterminatedAt =
                        range.end - static_cast<std::uint64_t>(line.next - line.begin);
                }
                return true;
            },
            &read);
        if (piece.end == EPieceEnd::kWhole) {
            piece.end = !ok                              ? EPieceEnd::kReadFailed
                        : read < range.end - range.begin ? EPieceEnd::kCutShort
                                                         : EPieceEnd::kWhole;
        }
        piece.bytes = read;
        return piece;
    }

    // A piece's columns go back for the next piece once they were appended: fresh buffers of
    // megabytes for every piece would each cost page faults.
    void GiveBack(std::vector<std::vector<double>>&& columns) const {
        const std::lock_guard lock(mutex_);
        spare_.push_back(std::move(columns));
    }

  private:
    std::vector<std::vector<double>> TakeBuffers() const {
        std::vector<std::vector<double>> columns;
        {
            const std::lock_guard lock(mutex_);
            if (!spare_.empty()) {
                columns = std::move(spare_.back());
                spare_.pop_back();
            }
        }
        columns.resize(channels_.size());
        for (std::vector<double>& column : columns) {
            column.clear();
        }
        return columns;
    }

    const CTelemetryFile& file_;
    const std::vector<PlotCacheChannel>& channels_;
    const TelemetryColumnChoice* choice_;
    mutable std::mutex mutex_;
    mutable std::vector<std::vector<std::vector<double>>> spare_;
};

unsigned Threads(const CachedDataFileOptions& options) {
    if (options.threads > 0) {
        return static_cast<unsigned>(options.threads);
    }
    return std::clamp(std::thread::hardware_concurrency(), 1u, kMaxThreads);
}

// Appends records [0, count) of a piece's columns.
void AppendColumns(CPlotCache& cache, const std::vector<std::vector<double>>& columns,
                   std::size_t first, std::size_t count) {
    std::vector<std::span<const double>> spans;
    spans.reserve(columns.size());
    for (const std::vector<double>& column : columns) {
        spans.emplace_back(column.data() + first, count);
    }
    cache.Append(spans);
}

bool Cancelled(const CachedDataFileOptions& options) {
    return options.cancel != nullptr && options.cancel->load(std::memory_order_relaxed);
}

// The channels of channels that the first frame draws, when they are fewer than all of them:
// the MJD and the shown slots.
std::vector<PlotCacheChannel> ShownChannels(const std::vector<PlotCacheChannel>& channels,
                                            const std::vector<int>& shownSlots) {
    std::vector<PlotCacheChannel> shown;
    for (const PlotCacheChannel& channel : channels) {
        if (channel.slot == CPlotData::kAxis0Slot ||
            std::find(shownSlots.begin(), shownSlots.end(), channel.slot) != shownSlots.end()) {
            shown.push_back(channel);
        }
    }
    return shown.size() < channels.size() ? shown : std::vector<PlotCacheChannel>{};
}

// The shown channels of every record of pieces, parsed alone into a cache of their own that is
// only drawn, never written. kWhole when every piece was read.
EPieceEnd ReadShownChannels(const CTelemetryFile& file,
                            const std::vector<TelemetryByteRange>& pieces, unsigned threads,
                            const CachedDataFileOptions& options, std::int64_t total,
                            CPlotCache& preview) {
    const std::vector<PlotCacheChannel>& shown = preview.Channels();
    std::vector<int> numbers;
    for (const PlotCacheChannel& channel : shown) {
        numbers.push_back(channel.slot);
    }
    const TelemetryColumnChoice choice =
        ChooseTelemetryColumns(file.Layout().map, numbers, /*time=*/true);
    const CPieceParser parser(file, shown, &choice);
    EPieceEnd end = EPieceEnd::kWhole;
    RunOrderedPieces<ParsedPiece>(
        pieces.size(), threads, kPiecesAheadPerThread * threads + 1,
        [&](std::size_t i) { return parser.Parse(pieces[i]); },
        [&](ParsedPiece&& piece) {
            if (piece.end == EPieceEnd::kFieldTooLong || piece.end == EPieceEnd::kReadFailed) {
                end = piece.end;
                return false;
            }
            AppendColumns(preview, piece.columns, 0, static_cast<std::size_t>(piece.records));
            parser.GiveBack(std::move(piece.columns));
            if (options.progress) {
                options.progress(preview.RecordCount(), total);
            }
            end = Cancelled(options) ? EPieceEnd::kCancelled : piece.end;
            return end == EPieceEnd::kWhole;
        });
    return end;
}

}  // namespace

CachedDataFileResult ReadDataFileCached(const std::string& path,
                                        const CachedDataFileOptions& options) {
    CachedDataFileResult result;
    DataFileReadResult& read = result.read;
    const auto cannotOpen = [&] {
        SetCannotOpen(path, read);
        result.cache.reset();
        return std::move(result);
    };
    CTelemetryFile file;
    file.SetCancel(options.cancel);
    if (!OpenDataFile(file, path, options.defaults, read)) {
        return result;
    }
    const TelemetryFileLayout& layout = file.Layout();
    if (!layout.HasData()) {
        return result;
    }
    result.identity = layout.identity;
    read.channels = layout.channels;
    if (layout.modelKnown && options.instrumentModel != nullptr) {
        options.instrumentModel->store(layout.identity.unitType);
    }

    // The cache on disk, when it holds this file's records up to some point of it.
    const std::string cachePath =
        options.cachePath.empty() ? PlotCachePathFor(path) : options.cachePath;
    if (!cachePath.empty()) {
        RemoveStaleCacheTemporaries(std::filesystem::path(cachePath).parent_path().string());
    }
    const std::vector<PlotCacheChannel> channels = CacheChannels(layout);
    auto cache = std::make_unique<CPlotCache>();
    const PlotCacheOpenResult opened = cache->Open(cachePath, path);
    result.found = opened.status;
    result.foundReason = opened.reason;
    std::uint64_t from = layout.dataBegin;
    if (opened.status == EPlotCacheOpen::kValid && cache->Channels() != channels) {
        result.found = EPlotCacheOpen::kStale;
        result.foundReason = "other columns";
    }
    const bool rebuilt =
        result.found != EPlotCacheOpen::kValid || opened.coveredBytes > layout.size;
    if (!rebuilt) {
        from = std::max(from, opened.coveredBytes);
    } else {
        cache->Reset(channels);
        // Built straight into the cache file: the compressed blocks are not held meanwhile.
        cache->SpillTo(cachePath);
    }

    const CPieceParser parser(file, channels);
    const std::vector<TelemetryByteRange> pieces = from < layout.size
                                                       ? file.SplitIntoPieces(kPieceBytes, from)
                                                       : std::vector<TelemetryByteRange>{};
    const unsigned threads = Threads(options);
    const std::size_t ahead = kPiecesAheadPerThread * threads + 1;

    // The records to parse, for the progress window's text.
    std::int64_t added = 0;
    TelemetryDamage damage;
    RunOrderedPieces<std::pair<std::int64_t, TelemetryDamage>>(
        pieces.size(), threads, ahead, [&](std::size_t i) { return parser.Count(pieces[i]); },
        [&](std::pair<std::int64_t, TelemetryDamage>&& counted) {
            added += counted.first;
            damage.Merge(counted.second);
            return true;
        });
    const std::int64_t total = cache->RecordCount() + added;
    if (Cancelled(options)) {
        result.cancelled = true;
        return result;
    }
    if (total == 0) {
        NoteDamagedLines(file, path, damage, read);
        return result;
    }
    read.progressText = DataFileProgressText(path, layout.oldFormat, layout.identity, total);
    if (options.started) {
        options.started(read.progressText, total);
    }
    // How a read that did not end with the whole file ends.
    const auto cutOff = [&](EPieceEnd end) {
        if (end == EPieceEnd::kFieldTooLong) {
            read.status = EDataFileRead::kFieldTooLong;
            read.message = "File Read Error";
            read.title.clear();
        } else if (end == EPieceEnd::kReadFailed) {
            return cannotOpen();
        }
        result.cancelled = end == EPieceEnd::kCancelled;
        return std::move(result);
    };

    if (const std::vector<PlotCacheChannel> shown = ShownChannels(channels, options.shownSlots);
        rebuilt && options.preview && !shown.empty()) {
        auto preview = std::make_unique<CPlotCache>();
        preview->Reset(shown);
        preview->SpillTo(cachePath);  // a file without a name: it never becomes the cache
        const EPieceEnd previewEnd =
            ReadShownChannels(file, pieces, threads, options, total, *preview);
        if (previewEnd == EPieceEnd::kWhole) {
            for (const int slot : options.shownSlots) {
                preview->PrepareChannel(preview->ChannelIndex(slot));
            }
            options.preview(std::move(preview), layout.identity);
        } else if (previewEnd != EPieceEnd::kCutShort) {
            // A file cut shorter meanwhile is read whole next; it then says what it holds.
            return cutOff(previewEnd);
        }
    }

    EPieceEnd end = EPieceEnd::kWhole;
    std::uint64_t covered = from;
    ParsedPiece held;  // a last record without its line end, appended after the cache is written
    bool holding = false;
    RunOrderedPieces<ParsedPiece>(
        pieces.size(), threads, ahead, [&](std::size_t i) { return parser.Parse(pieces[i]); },
        [&](ParsedPiece&& piece) {
            if (piece.end == EPieceEnd::kFieldTooLong || piece.end == EPieceEnd::kReadFailed) {
                end = piece.end;
                return false;
            }
            auto whole = static_cast<std::size_t>(piece.records);
            if (piece.lastUnterminated) {
                --whole;
                held = std::move(piece);
                holding = true;
                AppendColumns(*cache, held.columns, 0, whole);
                covered = held.unterminatedAt;
            } else {
                AppendColumns(*cache, piece.columns, 0, whole);
                covered += piece.bytes;
                parser.GiveBack(std::move(piece.columns));
            }
            result.parsedRecords += static_cast<std::int64_t>(whole);
            if (options.progress) {
                options.progress(cache->RecordCount(), total);
            }
            end = Cancelled(options) ? EPieceEnd::kCancelled : piece.end;
            return end == EPieceEnd::kWhole;
        });
    if (end != EPieceEnd::kWhole && end != EPieceEnd::kCutShort) {
        return cutOff(end);
    }

    // Written only for a file read whole: what a file cut shorter meanwhile left is not it.
    if (end == EPieceEnd::kWhole && result.parsedRecords > 0) {
        cache->SetCoveredBytes(covered);
        const PlotCacheWriteResult written = cache->Write(cachePath, path);
        if (!written.written) {
            result.writeMessage = written.message;
        } else {
            // Read back from the file: the compressed blocks built in memory can go.
            auto mapped = std::make_unique<CPlotCache>();
            if (mapped->Open(cachePath, path, /*checkBlocks=*/false).status ==
                    EPlotCacheOpen::kValid &&
                mapped->RecordCount() == cache->RecordCount()) {
                cache = std::move(mapped);
            }
        }
    }
    if (holding) {
        AppendColumns(*cache, held.columns, static_cast<std::size_t>(held.records - 1), 1);
        ++result.parsedRecords;
    }
    for (const int slot : options.shownSlots) {
        cache->PrepareChannel(cache->ChannelIndex(slot));
    }
    if (options.progress) {
        options.progress(cache->RecordCount(), cache->RecordCount());
    }
    result.cache = std::move(cache);
    read.status = EDataFileRead::kRead;
    NoteDamagedLines(file, path, damage, read);
    return result;
}

}  // namespace corvane3
