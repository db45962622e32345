// CPlotCache: building the cache (channels, appending records, sealing blocks) and the
// decoded-block cache the queries read through.

#include "core/plot/PlotCache.h"

#include <algorithm>
#include <system_error>
#include <thread>

#include "core/base/VectorState.h"

namespace corvane3 {

namespace {
// Appends of this many records share the channels out among threads.
constexpr std::size_t kRecordsForThreads = 4096;
constexpr std::size_t kMaxThreads = 4;
}  // namespace

CPlotCache::CPlotCache(PlotCacheOptions options)
    : options_(options), decompressor_(std::make_unique<CBlockDecompressor>()) {
    // Leaves divide blocks; both stay within what a cache file may hold.
    const std::int64_t most = kPlotCacheMaxBlockRecords;
    options_.leafRecords = std::clamp<std::int64_t>(options_.leafRecords, 1, most);
    options_.blockRecords =
        std::clamp<std::int64_t>(options_.blockRecords, options_.leafRecords, most);
    options_.blockRecords -= options_.blockRecords % options_.leafRecords;
    options_.decodedBlocks = std::max<std::size_t>(options_.decodedBlocks, 2);
}

CPlotCache::~CPlotCache() {
    Unmap();
    CloseSpill();
}

void CPlotCache::Clear() {
    Unmap();
    CloseSpill();
    channels_.clear();
    timeIndex_ = -1;
    decayIndex_ = -1;
    firstMjd_ = 0.0;
    runs_.clear();
    records_ = 0;
    coveredBytes_ = 0;
    sealed_.clear();
    tail_.clear();
    accumulators_.clear();
    decayAccumulator_.Clear();
    summaries_.clear();
    decay_ = {};
    leaves_.clear();
    decoded_.clear();
    decodedIndex_.clear();
    frameEdges_.clear();
    frameBorders_.clear();
    runEnds_.clear();
    frameRecords_ = -1;
    damage_ = EPlotCacheDamage::kNone;
}

bool CPlotCache::Reset(const std::vector<PlotCacheChannel>& channels) {
    Clear();
    if (channels.size() > kPlotCacheMaxChannels) {
        return false;
    }
    for (std::size_t c = 0; c < channels.size(); ++c) {
        const int slot = channels[c].slot;
        if (slot < 0 || slot > CPlotData::kAxis0Slot ||
            static_cast<std::uint8_t>(channels[c].storage) >
                static_cast<std::uint8_t>(EPlotStorage::kDouble)) {
            return false;
        }
        for (std::size_t d = 0; d < c; ++d) {
            if (channels[d].slot == slot) {
                return false;
            }
        }
    }
    channels_ = channels;
    const std::size_t n = channels_.size();
    sealed_.resize(n);
    tail_.resize(n);
    accumulators_.assign(n, CBlockAccumulator{});
    decayAccumulator_.Clear();
    summaries_.resize(n);
    leaves_.resize(n);
    for (auto& leaves : leaves_) {
        leaves = std::make_unique<CSumPyramid<ValueRange>>();
    }
    timeIndex_ = ChannelIndex(CPlotData::kAxis0Slot);
    const int signal = ChannelIndex(kChannelSignal);
    decayIndex_ = timeIndex_ >= 0 ? signal : -1;
    return true;
}

int CPlotCache::ChannelIndex(int slot) const {
    for (std::size_t c = 0; c < channels_.size(); ++c) {
        if (channels_[c].slot == slot) {
            return static_cast<int>(c);
        }
    }
    return -1;
}

std::int64_t CPlotCache::BlockCount() const {
    return CeilDiv(records_, options_.blockRecords);
}

std::int64_t CPlotCache::BlockLength(std::int64_t block) const {
    return std::min(options_.blockRecords, records_ - block * options_.blockRecords);
}

bool CPlotCache::Append(std::span<const std::span<const double>> columns) {
    if (columns.size() != channels_.size()) {
        return false;
    }
    const std::size_t n = columns.empty() ? 0 : columns[0].size();
    for (const auto& column : columns) {
        if (column.size() != n) {
            return false;
        }
    }
    if (n == 0) {
        return true;
    }
    for (std::size_t c = 0; c < channels_.size(); ++c) {
        Leaves(static_cast<int>(c));  // an opened cache's leaves become changeable
    }
    if (records_ == 0 && timeIndex_ >= 0) {
        firstMjd_ = columns[static_cast<std::size_t>(timeIndex_)][0];
    }
    if (runs_.empty()) {
        runs_.push_back({});
    }
    if (timeIndex_ >= 0) {
        // A new run wherever an MJD falls below the latest one (the PC's clock was set back).
        const std::span<const double> mjds = columns[static_cast<std::size_t>(timeIndex_)];
        for (std::size_t i = 0; i < n; ++i) {
            const double mjd = mjds[i];
            if (mjd < runs_.back().mjd.max) {
                runs_.push_back({records_ + static_cast<std::int64_t>(i), {}});
            }
            runs_.back().mjd.Add(mjd);
        }
    }
    const std::int64_t blockRecords = options_.blockRecords;
    const std::int64_t leafRecords = options_.leafRecords;
    const std::int64_t first = records_;
    // Each channel apart from the others, so that a long run is shared out among threads.
    const auto appendChannel = [&](std::size_t c, CBlockCompressor& compressor) {
        const double* values = columns[c].data();
        CSumPyramid<ValueRange>& leaves = *leaves_[c];
        std::int64_t record = first;
        for (std::size_t done = 0; done < n;) {
            const std::int64_t block = record / blockRecords;
            const auto run = static_cast<std::size_t>(std::min<std::int64_t>(
                blockRecords - record % blockRecords, static_cast<std::int64_t>(n - done)));
            tail_[c].insert(tail_[c].end(), values + done, values + done + run);
            ClearUpperVectorState();  // after a large copy, before the sums
            // Leaf by leaf: the block's sums take the part of the run in each leaf and give
            // back its range.
            for (std::size_t i = done; i < done + run;) {
                const std::int64_t at = first + static_cast<std::int64_t>(i);
                const std::size_t inLeaf = std::min<std::size_t>(
                    done + run - i, static_cast<std::size_t>(leafRecords - at % leafRecords));
                leaves.Item(at / leafRecords).Add(accumulators_[c].Add(values + i, inLeaf));
                i += inLeaf;
            }
            summaries_[c].Item(block) = accumulators_[c].Summary();
            record += static_cast<std::int64_t>(run);
            done += run;
            if (record % blockRecords == 0) {
                SealChannel(c, compressor);
            }
        }
    };
    ForEachChannel(n >= kRecordsForThreads, appendChannel);
    ClearUpperVectorState();
    std::int64_t record = first;
    for (std::size_t done = 0; done < n;) {
        const std::int64_t block = record / blockRecords;
        const auto run = static_cast<std::size_t>(std::min<std::int64_t>(
            blockRecords - record % blockRecords, static_cast<std::int64_t>(n - done)));
        if (decayIndex_ >= 0) {
            decayAccumulator_.Add(columns[static_cast<std::size_t>(timeIndex_)].data() + done,
                                  columns[static_cast<std::size_t>(decayIndex_)].data() + done, run,
                                  firstMjd_);
            decay_.Item(block) = decayAccumulator_.Sums();
        } else {
            decay_.Item(block);
        }
        record += static_cast<std::int64_t>(run);
        done += run;
        if (record % blockRecords == 0) {
            decayAccumulator_.Clear();
        }
    }
    records_ += static_cast<std::int64_t>(n);
    FlushSealed();
    return true;
}

void CPlotCache::ForEachChannel(bool threaded,
                                const std::function<void(std::size_t, CBlockCompressor&)>& work) {
    const std::size_t channels = channels_.size();
    std::size_t threads = 1;
    if (threaded) {
        threads = std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, kMaxThreads);
        threads = std::min(threads, channels);
    }
    CompressorFor(threads - 1);
    // Worker w takes channels w, w + threads, ...; worker 0 is this thread.
    const auto worker = [&](std::size_t w) {
        for (std::size_t c = w; c < channels; c += threads) {
            work(c, *compressors_[w]);
        }
    };
    std::vector<std::thread> helpers;
    std::size_t started = 1;
    for (; started < threads; ++started) {
        try {
            helpers.emplace_back(worker, started);
        } catch (const std::system_error&) {
            break;  // no thread to be had: this thread does the rest
        }
    }
    worker(0);
    for (std::size_t w = started; w < threads; ++w) {
        worker(w);
    }
    for (std::thread& helper : helpers) {
        helper.join();
    }
}

CBlockCompressor& CPlotCache::CompressorFor(std::size_t worker) {
    while (compressors_.size() <= worker) {
        compressors_.push_back(std::make_unique<CBlockCompressor>());
    }
    return *compressors_[worker];
}

CPlotCache::SealedBlock CPlotCache::Seal(std::size_t c, CBlockCompressor& compressor) const {
    SealedBlock block{};
    block.owned = compressor.Compress(tail_[c], channels_[c].storage, options_.compressionLevel,
                                      block.entry.encoding);
    block.entry.bytes = static_cast<std::uint32_t>(block.owned.size());
    block.entry.hash = PlotCacheHash(block.owned.data(), block.owned.size());
    return block;
}

void CPlotCache::SealChannel(std::size_t c, CBlockCompressor& compressor) {
    sealed_[c].push_back(Seal(c, compressor));
    tail_[c].clear();
    accumulators_[c].Clear();
}

void CPlotCache::NoteDamage(EPlotCacheDamage damage) const {
    if (damage_ == EPlotCacheDamage::kNone) {
        damage_ = damage;
    }
}


const std::vector<double>* CPlotCache::Block(int channel, std::int64_t block) const {
    const auto& sealed = sealed_[static_cast<std::size_t>(channel)];
    if (block >= static_cast<std::int64_t>(sealed.size())) {
        return &tail_[static_cast<std::size_t>(channel)];
    }
    const auto key = static_cast<std::uint64_t>(block) * kPlotCacheMaxChannels +
                     static_cast<std::uint64_t>(channel);
    if (const auto found = decodedIndex_.find(key); found != decodedIndex_.end()) {
        decoded_.splice(decoded_.begin(), decoded_, found->second);
        return &decoded_.front().values;
    }
    Decoded decoded{block, channel, {}};
    if (decoded_.size() >= options_.decodedBlocks) {
        const Decoded& oldest = decoded_.back();
        decodedIndex_.erase(static_cast<std::uint64_t>(oldest.block) * kPlotCacheMaxChannels +
                            static_cast<std::uint64_t>(oldest.channel));
        decoded.values = std::move(decoded_.back().values);
        decoded_.pop_back();
    }
    ++blocksDecoded_;
    const EPlotCacheDamage damage =
        Decompress(sealed[static_cast<std::size_t>(block)], BlockLength(block), decoded.values);
    if (damage != EPlotCacheDamage::kNone) {
        NoteDamage(damage);
        return nullptr;
    }
    decoded_.push_front(std::move(decoded));
    decodedIndex_[key] = decoded_.begin();
    return &decoded_.front().values;
}


std::size_t CPlotCache::MemoryBytes() const {
    std::size_t bytes = decay_.MemoryBytes();
    for (std::size_t c = 0; c < channels_.size(); ++c) {
        bytes += summaries_[c].MemoryBytes() + tail_[c].capacity() * sizeof(double);
        if (leaves_[c]) {
            bytes += leaves_[c]->MemoryBytes();
        }
        for (const auto& block : sealed_[c]) {
            bytes += sizeof block + block.owned.capacity();
        }
    }
    for (const auto& decoded : decoded_) {
        bytes += decoded.values.capacity() * sizeof(double);
    }
    return bytes;
}

const char* PlotCacheOpenText(EPlotCacheOpen status) {
    switch (status) {
        case EPlotCacheOpen::kValid:
            return "valid";
        case EPlotCacheOpen::kMissing:
            return "missing";
        case EPlotCacheOpen::kStale:
            return "stale";
        case EPlotCacheOpen::kOtherVersion:
            return "another version";
        case EPlotCacheOpen::kCorrupt:
            return "corrupt";
        case EPlotCacheOpen::kSourceMissing:
            return "telemetry file missing";
    }
    return "unknown";
}

}  // namespace corvane3
