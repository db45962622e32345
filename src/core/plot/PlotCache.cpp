#include "core/plot/PlotCache.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zstd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <system_error>
#include <thread>

#include "core/base/RegularFile.h"
#include "core/base/UnnamedFile.h"
#include "core/base/VectorState.h"
#include "core/base/WriteWhole.h"

namespace corvane3 {

static_assert(std::endian::native == std::endian::little, "the cache file is little-endian");
// Written as they are held: hi, then lo.
static_assert(sizeof(DoubleDouble) == 2 * sizeof(double));

// A compression context with its scratch buffers, kept from block to block: blocks are sealed
// by the thousand, and fresh buffers of this size would each cost page faults.
struct CPlotCache::Compressor {
    ZSTD_CCtx* context = ZSTD_createCCtx();
    std::vector<std::uint64_t> words64;
    std::vector<std::uint32_t> words32;
    std::string shuffled;
    std::string out;
    Compressor() = default;
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;
    ~Compressor() { ZSTD_freeCCtx(context); }
};

struct CPlotCache::Codec {
    std::vector<std::unique_ptr<Compressor>> compressors;  // one for each sealing thread
    ZSTD_DCtx* decompress = ZSTD_createDCtx();
    Codec() = default;
    Codec(const Codec&) = delete;
    Codec& operator=(const Codec&) = delete;
    ~Codec() { ZSTD_freeDCtx(decompress); }
    Compressor& CompressorFor(std::size_t worker) {
        while (compressors.size() <= worker) {
            compressors.push_back(std::make_unique<Compressor>());
        }
        return *compressors[worker];
    }
};

namespace {

constexpr std::uint64_t kWord = 8;
// A frame decodes its ends exactly up to this many blocks; beyond, inner borders snap to leaves.
constexpr std::int64_t kExactFrameBlocks = 4;
constexpr std::int64_t kLeavesPerSnappedColumn = 2;
// Appends of this many records share the channels out among threads.
constexpr std::size_t kRecordsForThreads = 4096;
constexpr std::size_t kMaxThreads = 4;

std::int64_t MtimeNs(const struct stat& st) {
    constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;
    return static_cast<std::int64_t>(st.st_mtim.tv_sec) * kNanosecondsPerSecond +
           st.st_mtim.tv_nsec;
}

// A block's bytes and the zeros up to the next multiple of 8 (a file brought up to date in
// place then holds exactly what a new one would).
bool WriteBlockAt(int fd, std::string_view bytes, std::uint64_t offset) {
    static constexpr char kZeros[8] = {};
    const std::size_t padding = (8 - bytes.size() % 8) % 8;
    return WriteWholeAt(fd, bytes, offset) &&
           WriteWholeAt(fd, std::string_view(kZeros, padding), offset + bytes.size());
}

std::uint64_t RoundUp8(std::uint64_t bytes) {
    return (bytes + 7) / 8 * 8;
}

template <typename T>
T LoadAt(const std::uint8_t* at) {
    T value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

template <typename T>
void Put(std::string& out, const T& value) {
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

DoubleDouble LoadDD(const std::uint8_t* at) {
    return {LoadAt<double>(at), LoadAt<double>(at + 8)};
}

std::int64_t CeilDiv(std::int64_t a, std::int64_t b) {
    return (a + b - 1) / b;
}

// Whether every value is absent or an int32 (and not -0.0), so that the block may be stored as
// int32. Blocks are checked by the hundred thousand when a long file is read, so the test is
// a conversion and back rather than a call to trunc.
bool AllFitInt32(std::span<const double> values) {
    constexpr double kLimit = 2147483647.0;
    constexpr auto kNegativeZero = std::bit_cast<std::uint64_t>(-0.0);
    for (const double v : values) {
        if (std::fabs(v) <= kLimit) {
            if (static_cast<double>(static_cast<std::int32_t>(v)) != v ||
                std::bit_cast<std::uint64_t>(v) == kNegativeZero) {
                return false;
            }
        } else if (!std::isnan(v)) {
            return false;
        }
    }
    return true;
}

// Whether every value is non-finite or exactly a normal float (or zero), so that the block may
// be stored as float, tested on the bits: the low 29 bits of the mantissa are zero and the
// exponent is within float's. A float subnormal fails the test and only makes its block double.
bool AllFitFloat(std::span<const double> values) {
    constexpr std::uint64_t kLowMantissa = (std::uint64_t{1} << 29) - 1;
    constexpr std::uint64_t kLowestExponent = 1023 - 126;
    constexpr std::uint64_t kHighestExponent = 1023 + 127;
    constexpr std::uint64_t kNonFinite = 0x7FF;
    bool fits = true;
    for (const double v : values) {
        const auto bits = std::bit_cast<std::uint64_t>(v);
        const std::uint64_t exponent = (bits >> 52) & kNonFinite;
        const bool normal = (bits & kLowMantissa) == 0 &&
                            exponent - kLowestExponent <= kHighestExponent - kLowestExponent;
        fits &= normal || exponent == kNonFinite || (bits << 1) == 0;
    }
    return fits;
}

std::size_t Width(std::uint8_t encoding) {
    return encoding == static_cast<std::uint8_t>(EPlotStorage::kDouble) ? 8 : 4;
}

// Sizes of the metadata sections for these counts.
struct MetaLayout {
    std::uint64_t channels = 0;
    std::uint64_t index = 0;
    std::uint64_t summaries = 0;
    std::uint64_t decay = 0;
    std::uint64_t leaves = 0;
    std::uint64_t runs = 0;
    std::uint64_t Total() const { return channels + index + summaries + decay + leaves + runs; }
};

MetaLayout Layout(std::uint64_t channels, std::uint64_t blocks, std::uint64_t leaves,
                  std::uint64_t runs) {
    MetaLayout layout;
    layout.channels = channels * kWord;
    layout.index = blocks * channels * sizeof(PlotCacheBlockEntry);
    layout.summaries = blocks * channels * kPlotCacheSummaryWords * kWord;
    layout.decay = blocks * kPlotCacheDecayWords * kWord;
    layout.leaves = channels * leaves * 2 * kWord;
    layout.runs = runs * kPlotCacheRunWords * kWord;
    return layout;
}

// The cache file for reading and, where it may be written, writing (a write lock needs that).
int OpenCacheFile(const std::string& path, std::string& reason) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0) {
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
            return fd;
        }
        ::close(fd);
    }
    return OpenRegularFile(path, reason);
}

}  // namespace

// ---- pyramid -------------------------------------------------------------------------------

template <typename T>
T& CPlotCache::CPyramid<T>::Item(std::int64_t i) {
    auto& items = levels_[0];
    if (static_cast<std::size_t>(i) >= items.size()) {
        items.resize(static_cast<std::size_t>(i) + 1);
    }
    dirtyFrom_ = std::min(dirtyFrom_, i);
    return items[static_cast<std::size_t>(i)];
}

template <typename T>
void CPlotCache::CPyramid<T>::Assign(std::vector<T> items) {
    levels_.assign(1, std::move(items));
    dirtyFrom_ = 0;
}

template <typename T>
void CPlotCache::CPyramid<T>::Rebuild() const {
    const auto size0 = static_cast<std::int64_t>(levels_[0].size());
    if (dirtyFrom_ >= size0) {
        return;
    }
    std::int64_t from = dirtyFrom_;
    for (std::size_t k = 1; levels_[k - 1].size() > 1; ++k) {
        if (levels_.size() <= k) {
            levels_.emplace_back();
        }
        const auto& below = levels_[k - 1];
        auto& level = levels_[k];
        level.resize((below.size() + 1) / 2);
        from /= 2;
        for (std::size_t j = static_cast<std::size_t>(from); j < level.size(); ++j) {
            T sum = below[2 * j];
            if (2 * j + 1 < below.size()) {
                sum.Add(below[2 * j + 1]);
            }
            level[j] = sum;
        }
    }
    dirtyFrom_ = size0;
}

template <typename T>
T CPlotCache::CPyramid<T>::Sum(std::int64_t first, std::int64_t end) const {
    Rebuild();
    T sum{};
    std::size_t k = 0;
    while (first < end) {
        const auto& level = levels_[k];
        if (first & 1) {
            sum.Add(level[static_cast<std::size_t>(first++)]);
        }
        if (end & 1) {
            sum.Add(level[static_cast<std::size_t>(--end)]);
        }
        first /= 2;
        end /= 2;
        ++k;
    }
    return sum;
}

template <typename T>
std::size_t CPlotCache::CPyramid<T>::MemoryBytes() const {
    std::size_t bytes = 0;
    for (const auto& level : levels_) {
        bytes += level.capacity() * sizeof(T);
    }
    return bytes;
}

// ---- building ------------------------------------------------------------------------------

CPlotCache::CPlotCache(PlotCacheOptions options)
    : options_(options), codec_(std::make_unique<Codec>()) {
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

void CPlotCache::Unmap() {
    if (map_ != nullptr) {
        ::munmap(const_cast<std::uint8_t*>(map_), mapBytes_);
    }
    if (mappedFd_ >= 0) {
        ::close(mappedFd_);  // and its lock with it
    }
    mappedFd_ = -1;
    map_ = nullptr;
    mapBytes_ = 0;
    mappedPath_.clear();
    mappedInode_ = 0;
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
    damaged_ = false;
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
        leaves = std::make_unique<CPyramid<ValueRange>>();
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
    const auto appendChannel = [&](std::size_t c, Compressor& compressor) {
        const double* values = columns[c].data();
        CPyramid<ValueRange>& leaves = *leaves_[c];
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
                                const std::function<void(std::size_t, Compressor&)>& work) {
    const std::size_t channels = channels_.size();
    std::size_t threads = 1;
    if (threaded) {
        threads = std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, kMaxThreads);
        threads = std::min(threads, channels);
    }
    codec_->CompressorFor(threads - 1);
    // Worker w takes channels w, w + threads, ...; worker 0 is this thread.
    const auto worker = [&](std::size_t w) {
        for (std::size_t c = w; c < channels; c += threads) {
            work(c, *codec_->compressors[w]);
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

void CPlotCache::SealChannel(std::size_t c, Compressor& compressor) {
    SealedBlock block{};
    block.owned = Compress(tail_[c], channels_[c].storage, block.entry.encoding, compressor);
    block.entry.bytes = static_cast<std::uint32_t>(block.owned.size());
    block.entry.hash = PlotCacheHash(block.owned.data(), block.owned.size());
    sealed_[c].push_back(std::move(block));
    tail_[c].clear();
    accumulators_[c].Clear();
}

// ---- blocks --------------------------------------------------------------------------------

namespace {

// Each word XORed with the one before (slowly changing readings then give mostly zero bits),
// then the bytes regrouped by significance (the zero bytes then form long runs). The words are
// changed to their differences.
template <typename Word>
void Shuffle(std::vector<Word>& words, std::string& out) {
    const std::size_t n = words.size();
    out.resize(n * sizeof(Word));
    for (std::size_t i = n; i-- > 1;) {
        words[i] ^= words[i - 1];
    }
    // One plane of bytes at a time: each loop then reads and writes in order.
    // Local pointers: bytes written through a char pointer could otherwise be the vector's own.
    const Word* const deltas = words.data();
    auto* const bytes = reinterpret_cast<std::uint8_t*>(out.data());
    for (std::size_t b = 0; b < sizeof(Word); ++b) {
        std::uint8_t* const plane = bytes + b * n;
        for (std::size_t i = 0; i < n; ++i) {
            plane[i] = static_cast<std::uint8_t>(deltas[i] >> (8 * b));
        }
    }
}

template <typename Word>
void Unshuffle(const std::string& in, std::size_t n, std::vector<Word>& words) {
    words.resize(n);
    Word previous = 0;
    for (std::size_t i = 0; i < n; ++i) {
        Word delta = 0;
        for (std::size_t b = 0; b < sizeof(Word); ++b) {
            delta |= static_cast<Word>(static_cast<std::uint8_t>(in[b * n + i])) << (8 * b);
        }
        previous ^= delta;
        words[i] = previous;
    }
}

}  // namespace

std::string CPlotCache::Compress(std::span<const double> values, EPlotStorage declared,
                                 std::uint8_t& encoding, Compressor& compressor) const {
    ClearUpperVectorState();
    EPlotStorage storage = declared;
    if (storage == EPlotStorage::kInt32 && !AllFitInt32(values)) {
        storage = EPlotStorage::kDouble;
    }
    if (storage == EPlotStorage::kFloat && !AllFitFloat(values)) {
        storage = EPlotStorage::kDouble;
    }
    encoding = static_cast<std::uint8_t>(storage);
    std::string& shuffled = compressor.shuffled;
    std::string& out = compressor.out;
    if (storage == EPlotStorage::kDouble) {
        std::vector<std::uint64_t>& words = compressor.words64;
        words.resize(values.size());
        std::transform(values.begin(), values.end(), words.begin(),
                       [](double v) { return std::bit_cast<std::uint64_t>(v); });
        Shuffle(words, shuffled);
    } else {
        std::vector<std::uint32_t>& words = compressor.words32;
        words.resize(values.size());
        std::transform(values.begin(), values.end(), words.begin(), [storage](double v) {
            if (storage == EPlotStorage::kFloat) {
                return std::bit_cast<std::uint32_t>(static_cast<float>(v));
            }
            return static_cast<std::uint32_t>(std::isnan(v) ? CPlotColumn::kAbsentInt
                                                            : static_cast<std::int32_t>(v));
        });
        Shuffle(words, shuffled);
    }
    out.resize(ZSTD_compressBound(shuffled.size()));
    const std::size_t bytes =
        ZSTD_compressCCtx(compressor.context, out.data(), out.size(), shuffled.data(),
                          shuffled.size(), options_.compressionLevel);
    if (ZSTD_isError(bytes)) {
        // Only when memory runs out; the block then reads as damaged and the cache is rebuilt.
        encoding = static_cast<std::uint8_t>(EPlotStorage::kDouble);
        return {};
    }
    return out.substr(0, bytes);
}

std::string_view CPlotCache::BlockBytes(const SealedBlock& block) const {
    if (block.spilled) {
        spillScratch_.resize(block.entry.bytes);
        const auto read = ::pread(spillFd_, spillScratch_.data(), block.entry.bytes,
                                  static_cast<off_t>(sizeof(PlotCacheHeader) + block.entry.offset));
        return read == static_cast<ssize_t>(block.entry.bytes) ? std::string_view(spillScratch_)
                                                               : std::string_view();
    }
    if (!block.owned.empty() || map_ == nullptr) {
        return block.owned;
    }
    return {reinterpret_cast<const char*>(map_ + dataOffset_ + block.entry.offset),
            block.entry.bytes};
}

bool CPlotCache::SpillTo(const std::string& cachePath) {
    CloseSpill();
    namespace fs = std::filesystem;
    std::error_code error;
    fs::create_directories(fs::path(cachePath).parent_path(), error);
    if (cachePath.empty() || error) {
        return false;
    }
    std::string fallback;
    const int fd = CreateUnnamedFileBeside(cachePath, fallback);
    if (fd < 0) {
        return false;
    }
    spillFd_ = fd;
    spillPath_ = fallback;
    spillTarget_ = cachePath;
    spillEnd_ = 0;
    flushedBlocks_ = static_cast<std::int64_t>(sealed_.empty() ? 0 : sealed_[0].size());
    spillFailed_ = false;
    return true;
}

void CPlotCache::FlushSealed() {
    if (spillFd_ < 0 || spillFailed_ || spillTarget_.empty() || sealed_.empty()) {
        return;
    }
    const auto sealedBlocks = static_cast<std::int64_t>(sealed_[0].size());
    for (; flushedBlocks_ < sealedBlocks; ++flushedBlocks_) {
        for (auto& sealed : sealed_) {
            SealedBlock& block = sealed[static_cast<std::size_t>(flushedBlocks_)];
            if (block.owned.empty()) {
                continue;
            }
            const std::uint64_t at = spillEnd_;
            if (!WriteBlockAt(spillFd_, block.owned, sizeof(PlotCacheHeader) + at)) {
                spillFailed_ = true;  // the rest stays in memory; Write will say why
                return;
            }
            block.entry.offset = at;
            block.spilled = true;
            std::string().swap(block.owned);
            spillEnd_ = RoundUp8(at + block.entry.bytes);
        }
    }
}

void CPlotCache::CloseSpill() {
    if (spillFd_ >= 0) {
        ::close(spillFd_);
    }
    if (!spillPath_.empty()) {
        ::unlink(spillPath_.c_str());
    }
    spillFd_ = -1;
    spillPath_.clear();
    spillTarget_.clear();
    spillEnd_ = 0;
    flushedBlocks_ = 0;
    spillFailed_ = false;
}

bool CPlotCache::Decompress(const SealedBlock& block, std::int64_t length,
                            std::vector<double>& out) const {
    const std::string_view bytes = BlockBytes(block);
    if (PlotCacheHash(bytes.data(), bytes.size()) != block.entry.hash) {
        return false;
    }
    const std::uint8_t encoding = block.entry.encoding;
    const std::size_t n = static_cast<std::size_t>(length);
    const std::size_t expected = n * Width(encoding);
    if (ZSTD_getFrameContentSize(bytes.data(), bytes.size()) != expected) {
        return false;
    }
    std::string shuffled(expected, '\0');
    const std::size_t got = ZSTD_decompressDCtx(codec_->decompress, shuffled.data(),
                                                shuffled.size(), bytes.data(), bytes.size());
    if (ZSTD_isError(got) || got != expected) {
        return false;
    }
    out.resize(n);
    if (encoding == static_cast<std::uint8_t>(EPlotStorage::kDouble)) {
        std::vector<std::uint64_t> words;
        Unshuffle(shuffled, n, words);
        std::transform(words.begin(), words.end(), out.begin(),
                       [](std::uint64_t w) { return std::bit_cast<double>(w); });
    } else {
        std::vector<std::uint32_t> words;
        Unshuffle(shuffled, n, words);
        const bool isFloat = encoding == static_cast<std::uint8_t>(EPlotStorage::kFloat);
        std::transform(words.begin(), words.end(), out.begin(), [isFloat](std::uint32_t w) {
            if (isFloat) {
                return static_cast<double>(std::bit_cast<float>(w));
            }
            const auto value = static_cast<std::int32_t>(w);
            return value == CPlotColumn::kAbsentInt ? std::numeric_limits<double>::quiet_NaN()
                                                    : static_cast<double>(value);
        });
    }
    return true;
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
    if (!Decompress(sealed[static_cast<std::size_t>(block)], BlockLength(block), decoded.values)) {
        damaged_ = true;
        return nullptr;
    }
    decoded_.push_front(std::move(decoded));
    decodedIndex_[key] = decoded_.begin();
    return &decoded_.front().values;
}

template <typename Visit>
void CPlotCache::ForEachValue(int channel, std::int64_t first, std::int64_t end,
                              Visit&& visit) const {
    const std::int64_t blockRecords = options_.blockRecords;
    while (first < end) {
        const std::int64_t block = first / blockRecords;
        const std::int64_t blockEnd = std::min(end, (block + 1) * blockRecords);
        const std::vector<double>* values = Block(channel, block);
        for (std::int64_t i = first; i < blockEnd; ++i) {
            visit(i, values != nullptr
                         ? (*values)[static_cast<std::size_t>(i - block * blockRecords)]
                         : std::numeric_limits<double>::quiet_NaN());
        }
        first = blockEnd;
    }
}

CPlotCache::CPyramid<ValueRange>& CPlotCache::Leaves(int channel) const {
    auto& leaves = leaves_[static_cast<std::size_t>(channel)];
    if (!leaves) {
        leaves = std::make_unique<CPyramid<ValueRange>>();
        leaves->Assign(MappedLeaves(channel));
    }
    return *leaves;
}

std::vector<ValueRange> CPlotCache::MappedLeaves(int channel) const {
    const std::int64_t leafRecords = options_.leafRecords;
    const std::int64_t count = CeilDiv(records_, leafRecords);
    std::vector<ValueRange> items(static_cast<std::size_t>(count));
    LockMapped(F_RDLCK);
    PlotCacheHeader now{};
    const bool read = CurrentHeader(now);
    if (read && now.headerHash == mappedHeaderHash_) {
        // As opened, whose bounds Open checked.
        const std::uint8_t* at =
            map_ + leafOffset_ + static_cast<std::uint64_t>(channel * count) * 2 * kWord;
        for (auto& item : items) {
            item.min = LoadAt<double>(at);
            item.max = LoadAt<double>(at + kWord);
            at += 2 * kWord;
        }
    } else if (read && now.channelCount == channels_.size() &&
               now.leafRecords == static_cast<std::uint32_t>(leafRecords) &&
               now.blockRecords == static_cast<std::uint32_t>(options_.blockRecords) &&
               now.recordCount >= static_cast<std::uint64_t>(records_)) {
        // Brought up to date in place by another cache since: the leaves of whole leaves are
        // where its metadata says, the last, shorter one is taken from the tail.
        const auto nowRecords = static_cast<std::int64_t>(now.recordCount);
        const auto nowLeaves = static_cast<std::uint64_t>(CeilDiv(nowRecords, leafRecords));
        const MetaLayout layout =
            Layout(channels_.size(), static_cast<std::uint64_t>(CeilDiv(nowRecords, options_.blockRecords)),
                   nowLeaves, now.runCount);
        const std::int64_t whole = records_ / leafRecords;
        std::vector<double> words(static_cast<std::size_t>(2 * whole));
        const std::uint64_t offset = now.metaOffset + layout.channels + layout.index +
                                     layout.summaries + layout.decay +
                                     static_cast<std::uint64_t>(channel) * nowLeaves * 2 * kWord;
        const auto bytes = static_cast<ssize_t>(words.size() * sizeof(double));
        if (::pread(mappedFd_, words.data(), static_cast<std::size_t>(bytes),
                    static_cast<off_t>(offset)) != bytes) {
            damaged_ = true;
        }
        for (std::int64_t l = 0; l < whole; ++l) {
            items[static_cast<std::size_t>(l)] = {words[static_cast<std::size_t>(2 * l)],
                                                  words[static_cast<std::size_t>(2 * l + 1)]};
        }
        if (whole < count) {
            const std::vector<double>& tail = tail_[static_cast<std::size_t>(channel)];
            const std::int64_t tailFirst = records_ - static_cast<std::int64_t>(tail.size());
            for (std::int64_t i = whole * leafRecords; i < records_; ++i) {
                items.back().Add(tail[static_cast<std::size_t>(i - tailFirst)]);
            }
        }
    } else {
        damaged_ = true;  // replaced by something this cache cannot read: rebuilt by the caller
    }
    LockMapped(F_UNLCK);
    return items;
}

bool CPlotCache::LockMapped(short type) const {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    while (mappedFd_ >= 0 && ::fcntl(mappedFd_, F_OFD_SETLKW, &lock) != 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return mappedFd_ >= 0;
}

bool CPlotCache::CurrentHeader(PlotCacheHeader& header) const {
    return ::pread(mappedFd_, &header, sizeof header, 0) == static_cast<ssize_t>(sizeof header) &&
           std::memcmp(header.magic, kPlotCacheMagic, sizeof header.magic) == 0 &&
           header.version == kPlotCacheVersion &&
           PlotCacheHash(&header, offsetof(PlotCacheHeader, headerHash)) == header.headerHash;
}

// ---- queries -------------------------------------------------------------------------------

void CPlotCache::PrepareChannel(int channel) const {
    if (channel < 0 || channel >= static_cast<int>(channels_.size()) || records_ == 0) {
        return;
    }
    const CPyramid<ValueRange>& leaves = Leaves(channel);
    leaves.Sum(0, leaves.Size());  // builds the levels above the leaves
}

bool CPlotCache::Values(int channel, std::int64_t first, std::int64_t end, double* out) const {
    if (channel < 0 || channel >= static_cast<int>(channels_.size()) || first < 0 ||
        end > records_ || first > end) {
        return false;
    }
    ForEachValue(channel, first, end, [&](std::int64_t i, double v) { out[i - first] = v; });
    return true;
}

ValueRange CPlotCache::Range(int channel, std::int64_t first, std::int64_t end) const {
    ValueRange range;
    if (channel < 0 || channel >= static_cast<int>(channels_.size())) {
        return range;
    }
    first = std::max<std::int64_t>(first, 0);
    end = std::min(end, records_);
    if (first >= end) {
        return range;
    }
    const std::int64_t leafRecords = options_.leafRecords;
    const std::int64_t firstLeaf = CeilDiv(first, leafRecords);
    const std::int64_t endLeaf = end / leafRecords;
    auto add = [&range](std::int64_t, double v) { range.Add(v); };
    if (firstLeaf >= endLeaf) {
        ForEachValue(channel, first, end, add);
        return range;
    }
    ForEachValue(channel, first, firstLeaf * leafRecords, add);
    range.Add(Leaves(channel).Sum(firstLeaf, endLeaf));
    ForEachValue(channel, endLeaf * leafRecords, end, add);
    return range;
}

std::vector<ValueRange> CPlotCache::FrameColumns(int channel, std::int64_t first, std::int64_t end,
                                                 int columns) const {
    std::vector<ValueRange> result(static_cast<std::size_t>(std::max(columns, 0)));
    first = std::max<std::int64_t>(first, 0);
    end = std::min(end, records_);
    if (columns <= 0 || first >= end) {
        return result;
    }
    const std::int64_t span = end - first;
    const std::int64_t leafRecords = options_.leafRecords;
    const bool snap =
        span > kExactFrameBlocks * options_.blockRecords && span / columns >= leafRecords;
    std::int64_t from = first;
    for (int c = 0; c < columns; ++c) {
        std::int64_t to = end;
        if (c + 1 < columns) {
            to = first + static_cast<std::int64_t>(static_cast<__int128>(span) * (c + 1) / columns);
            if (snap) {
                to = std::clamp((to + leafRecords / 2) / leafRecords * leafRecords, from, end);
            }
        }
        result[static_cast<std::size_t>(c)] = Range(channel, from, to);
        from = to;
    }
    return result;
}

std::vector<std::int64_t> CPlotCache::MjdSteps() const {
    std::vector<std::int64_t> steps;
    for (std::size_t r = 1; r < runs_.size(); ++r) {
        steps.push_back(runs_[r].first);
    }
    return steps;
}

std::int64_t CPlotCache::RunEnd(std::size_t run) const {
    return run + 1 < runs_.size() ? runs_[run + 1].first : records_;
}

double CPlotCache::MjdAt(std::int64_t record) const {
    const std::int64_t block = record / options_.blockRecords;
    const std::vector<double>* values = Block(timeIndex_, block);
    return values != nullptr
               ? (*values)[static_cast<std::size_t>(record - block * options_.blockRecords)]
               : std::numeric_limits<double>::quiet_NaN();
}

std::int64_t CPlotCache::LowerBoundIn(std::int64_t first, std::int64_t end, double mjd) const {
    // The whole blocks in the range first: the first whose latest MJD reaches mjd. The answer
    // then lies in it, or before it when it is the first whole block.
    const std::int64_t blockRecords = options_.blockRecords;
    const auto& blocks = summaries_[static_cast<std::size_t>(timeIndex_)];
    const std::int64_t wholeFirst = CeilDiv(first, blockRecords);
    const std::int64_t wholeEnd = std::max(wholeFirst, end / blockRecords);
    std::int64_t low = wholeFirst;
    std::int64_t high = wholeEnd;
    while (low < high) {
        const std::int64_t mid = low + (high - low) / 2;
        if (blocks.ItemAt(mid).range.max < mjd) {
            low = mid + 1;
        } else {
            high = mid;
        }
    }
    std::int64_t from = low == wholeFirst ? first : low * blockRecords;
    std::int64_t to = low < wholeEnd ? std::min(end, (low + 1) * blockRecords) : end;
    // At most two blocks left: halved record by record.
    while (from < to) {
        const std::int64_t mid = from + (to - from) / 2;
        if (MjdAt(mid) < mjd) {
            from = mid + 1;
        } else {
            to = mid;
        }
    }
    return from;
}

const std::vector<std::int64_t>& CPlotCache::FrameBorders(const std::vector<double>& edges,
                                                          std::size_t run) const {
    std::vector<std::int64_t>& borders = frameBorders_[run];
    if (!borders.empty()) {
        return borders;
    }
    const std::int64_t runFirst = runs_[run].first;
    const std::int64_t runEnd = RunEnd(run);
    const ValueRange& runTimes = runs_[run].mjd;
    // Edges outside the run's times need no search.
    const auto lowerBound = [&](std::int64_t from, std::int64_t to, double edge) {
        return edge <= runTimes.min ? from
                                    : edge > runTimes.max ? to : LowerBoundIn(from, to, edge);
    };
    const std::int64_t first = lowerBound(runFirst, runEnd, edges.front());
    const std::int64_t end = std::max(first, lowerBound(runFirst, runEnd, edges.back()));
    // Leaf borders only where every column spans a few leaves: finer, they would leave columns
    // without records. Only the columns the run's times reach count.
    const auto inRun = [&](double edge) { return edge > runTimes.min && edge <= runTimes.max; };
    const auto columns = 1 + std::count_if(edges.begin() + 1, edges.end() - 1, inRun);
    const std::int64_t leafRecords = options_.leafRecords;
    const bool exact = end - first <= kExactFrameBlocks * options_.blockRecords ||
                       end - first < kLeavesPerSnappedColumn * leafRecords * columns;
    const CPyramid<ValueRange>& times = Leaves(timeIndex_);
    // The leaves wholly in the run (the last, shorter leaf of the records too); their latest
    // MJDs do not decrease.
    const std::int64_t leafFirst = CeilDiv(runFirst, leafRecords);
    const std::int64_t leafEnd = std::max(
        leafFirst, runEnd == records_ ? times.Size() : runEnd / leafRecords);
    borders.reserve(edges.size());
    borders.push_back(first);
    std::int64_t from = first;
    std::int64_t low = leafFirst;  // the leaf search goes on from the last border
    for (std::size_t c = 1; c + 1 < edges.size(); ++c) {
        const double edge = edges[c];
        std::int64_t to = 0;
        if (exact || edge <= runTimes.min || edge > runTimes.max) {
            to = lowerBound(from, end, edge);
        } else {
            // The first leaf whose latest MJD reaches the edge holds the border.
            std::int64_t high = leafEnd;
            while (low < high) {
                const std::int64_t mid = low + (high - low) / 2;
                if (times.ItemAt(mid).max < edge) {
                    low = mid + 1;
                } else {
                    high = mid;
                }
            }
            to = low * leafRecords;
        }
        to = std::clamp(to, from, end);
        borders.push_back(to);
        from = to;
    }
    borders.push_back(end);
    return borders;
}

ValueRange CPlotCache::RangeInRun(int channel, std::size_t run, std::int64_t first,
                                  std::int64_t end) const {
    const std::int64_t leafRecords = options_.leafRecords;
    const std::int64_t runFirst = runs_[run].first;
    const std::int64_t runEnd = RunEnd(run);
    // The leaves the run starts and ends in are partly another run's. The last run is still
    // growing: its ends are not kept (its end lies in the records held in memory anyway).
    if (run + 1 == runs_.size()) {
        return Range(channel, first, end);
    }
    const std::int64_t headEnd = std::min(runEnd, CeilDiv(runFirst, leafRecords) * leafRecords);
    const std::int64_t tailFirst = std::max(headEnd, runEnd / leafRecords * leafRecords);
    const bool head = first == runFirst && end >= headEnd && runFirst < headEnd;
    const bool tail = end == runEnd && first <= tailFirst && tailFirst < runEnd;
    if (!head && !tail) {
        return Range(channel, first, end);
    }
    runEnds_.resize(runs_.size());
    std::vector<RunEnds>& ends = runEnds_[run];
    ends.resize(channels_.size());
    RunEnds& known = ends[static_cast<std::size_t>(channel)];
    if (!known.known) {
        known.head = Range(channel, runFirst, headEnd);
        known.tail = Range(channel, tailFirst, runEnd);
        known.known = true;
    }
    ValueRange range;
    if (head) {
        range.Add(known.head);
        first = headEnd;
    }
    if (tail) {
        range.Add(known.tail);
        end = tailFirst;
    }
    range.Add(Range(channel, first, std::max(first, end)));
    return range;
}

std::vector<ValueRange> CPlotCache::FrameColumnsMjd(int channel, const std::vector<double>& edges,
                                                    std::vector<RecordSpan>* spans) const {
    std::vector<ValueRange> result(edges.size() > 1 ? edges.size() - 1 : 0);
    if (spans != nullptr) {
        spans->assign(result.size(), {});
    }
    if (timeIndex_ < 0 || result.empty()) {
        return result;
    }
    // Panes side by side have the same edges: their borders are searched once.
    if (edges != frameEdges_ || frameRecords_ != records_ || frameBorders_.size() != runs_.size()) {
        frameEdges_ = edges;
        frameRecords_ = records_;
        frameBorders_.assign(runs_.size(), {});
    }
    std::vector<RecordSpan> found(result.size());
    for (std::size_t run = 0; run < runs_.size(); ++run) {
        // Only the runs whose times reach into the frame are searched, and only the columns
        // their times reach are looked at.
        const ValueRange& times = runs_[run].mjd;
        if (times.Empty() || times.max < edges.front() || times.min >= edges.back()) {
            continue;
        }
        const std::vector<std::int64_t>& borders = FrameBorders(edges, run);
        const auto column = [&](double mjd) {
            const auto at = std::upper_bound(edges.begin(), edges.end(), mjd) - edges.begin();
            return static_cast<std::size_t>(std::max<std::ptrdiff_t>(at - 1, 0));
        };
        const std::size_t columnEnd = std::min(result.size(), column(times.max) + 1);
        for (std::size_t c = column(times.min); c < columnEnd; ++c) {
            if (borders[c] == borders[c + 1]) {
                continue;
            }
            result[c].Add(RangeInRun(channel, run, borders[c], borders[c + 1]));
            // Runs come in file order: the first piece starts the span, the last ends it.
            RecordSpan& span = found[c];
            if (span.first == span.end) {
                span.first = borders[c];
            }
            span.end = borders[c + 1];
        }
    }
    if (spans != nullptr) {
        *spans = std::move(found);
    }
    return result;
}

ChannelStatistics CPlotCache::Statistics(int channel, std::int64_t first, std::int64_t end) const {
    BlockSummary summary;
    if (channel >= 0 && channel < static_cast<int>(channels_.size())) {
        first = std::max<std::int64_t>(first, 0);
        end = std::min(end, records_);
        const std::int64_t blockRecords = options_.blockRecords;
        const std::int64_t firstBlock = CeilDiv(first, blockRecords);
        const std::int64_t endBlock = end / blockRecords;
        auto add = [&summary](std::int64_t, double v) { summary.Add(v); };
        if (firstBlock >= endBlock) {
            ForEachValue(channel, first, end, add);
        } else {
            ForEachValue(channel, first, firstBlock * blockRecords, add);
            summary.Add(summaries_[static_cast<std::size_t>(channel)].Sum(firstBlock, endBlock));
            ForEachValue(channel, endBlock * blockRecords, end, add);
        }
    }
    return summary.Statistics();
}

std::int64_t CPlotCache::LowerBoundMjd(double mjd) const {
    if (timeIndex_ < 0) {
        return -1;
    }
    // Every run before the first that reaches mjd lies wholly below it.
    for (std::size_t run = 0; run < runs_.size(); ++run) {
        if (runs_[run].mjd.max >= mjd) {
            return LowerBoundIn(runs_[run].first, RunEnd(run), mjd);
        }
    }
    return records_;
}

DecayFit CPlotCache::FitDecay(std::int64_t first, std::int64_t last) const {
    DecaySums sums;
    first = std::max<std::int64_t>(first, 0);
    const std::int64_t end = std::min(last + 1, records_);
    if (decayIndex_ >= 0 && first < end) {
        const std::int64_t blockRecords = options_.blockRecords;
        auto ragged = [&](std::int64_t from, std::int64_t to) {
            if (from >= to) {
                return;
            }
            // Both columns of one block: MJD first, then the signal against it.
            std::vector<double> mjd(static_cast<std::size_t>(to - from));
            ForEachValue(timeIndex_, from, to, [&](std::int64_t i, double v) {
                mjd[static_cast<std::size_t>(i - from)] = v;
            });
            ForEachValue(decayIndex_, from, to, [&](std::int64_t i, double v) {
                sums.Add(mjd[static_cast<std::size_t>(i - from)] - firstMjd_, v);
            });
        };
        const std::int64_t firstBlock = CeilDiv(first, blockRecords);
        const std::int64_t endBlock = end / blockRecords;
        if (firstBlock >= endBlock) {
            ragged(first, end);
        } else {
            ragged(first, firstBlock * blockRecords);
            sums.Add(decay_.Sum(firstBlock, endBlock));
            ragged(endBlock * blockRecords, end);
        }
    }
    return sums.Fit();
}

std::vector<CPlotCache::PairedBlock> CPlotCache::PairedBlocks(int channel) const {
    std::vector<PairedBlock> blocks;
    if (timeIndex_ < 0 || channel < 0 || channel >= static_cast<int>(channels_.size())) {
        return blocks;
    }
    const auto& times = summaries_[static_cast<std::size_t>(timeIndex_)];
    const auto& values = summaries_[static_cast<std::size_t>(channel)];
    blocks.resize(static_cast<std::size_t>(BlockCount()));
    for (std::int64_t b = 0; b < BlockCount(); ++b) {
        PairedBlock& paired = blocks[static_cast<std::size_t>(b)];
        const std::int64_t length = BlockLength(b);
        const auto complete = static_cast<std::uint64_t>(length);
        if (times.ItemAt(b).count == 0 || values.ItemAt(b).count == 0) {
            continue;  // nothing to pair: a unit without the reading costs no decoding
        }
        if (times.ItemAt(b).count == complete && values.ItemAt(b).count == complete) {
            paired = {times.ItemAt(b), values.ItemAt(b)};
            continue;
        }
        const std::int64_t first = b * options_.blockRecords;
        std::vector<double> mjd(static_cast<std::size_t>(length));
        ForEachValue(timeIndex_, first, first + length, [&](std::int64_t i, double v) {
            mjd[static_cast<std::size_t>(i - first)] = v;
        });
        ForEachValue(channel, first, first + length, [&](std::int64_t i, double v) {
            const double when = mjd[static_cast<std::size_t>(i - first)];
            if (!std::isnan(when) && !std::isnan(v)) {
                paired.mjd.Add(when);
                paired.value.Add(v);
            }
        });
    }
    return blocks;
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

// ---- the file ------------------------------------------------------------------------------

PlotCacheWriteResult CPlotCache::Write(const std::string& cachePath,
                                       const std::string& sourcePath) {
    PlotCacheWriteResult result;
    auto fail = [&](const std::string& why) {
        result.message = "Plot cache not written: " + cachePath + ": " + why;
        return result;
    };
    if (cachePath.empty()) {
        return fail("no cache folder");
    }
    PlotCacheHeader header{};
    std::memcpy(header.magic, kPlotCacheMagic, sizeof header.magic);
    header.version = kPlotCacheVersion;
    header.headerBytes = sizeof header;
    header.channelCount = static_cast<std::uint32_t>(channels_.size());
    header.blockRecords = static_cast<std::uint32_t>(options_.blockRecords);
    header.leafRecords = static_cast<std::uint32_t>(options_.leafRecords);
    header.timeIndex = timeIndex_;
    header.decayIndex = decayIndex_;
    header.flags = 0;
    header.recordCount = static_cast<std::uint64_t>(records_);
    header.runCount = runs_.size();
    header.firstMjd = firstMjd_;
    {
        std::string reason;
        const int fd = OpenRegularFile(sourcePath, reason);
        if (fd < 0) {
            return fail("telemetry file " + sourcePath + ": " + reason);
        }
        struct stat st {};
        const bool ok =
            ::fstat(fd, &st) == 0 && SourceSampleHash(fd, coveredBytes_, header.source.sampleHash);
        ::close(fd);
        if (!ok) {
            return fail("telemetry file " + sourcePath + " is shorter than the records cached");
        }
        header.source.device = static_cast<std::uint64_t>(st.st_dev);
        header.source.inode = static_cast<std::uint64_t>(st.st_ino);
        header.source.coveredBytes = coveredBytes_;
        header.source.mtimeNs = MtimeNs(st);
    }

    // The tail as the last, shorter block.
    const std::int64_t blocks = BlockCount();
    std::vector<std::vector<SealedBlock>> tailBlocks(channels_.size());
    if (!tail_.empty() && !tail_[0].empty()) {
        for (std::size_t c = 0; c < channels_.size(); ++c) {
            SealedBlock block{};
            block.owned = Compress(tail_[c], channels_[c].storage, block.entry.encoding,
                                   codec_->CompressorFor(0));
            block.entry.bytes = static_cast<std::uint32_t>(block.owned.size());
            block.entry.hash = PlotCacheHash(block.owned.data(), block.owned.size());
            tailBlocks[c].push_back(std::move(block));
        }
    }
    auto blockAt = [&](std::size_t c, std::int64_t b) -> const SealedBlock& {
        const auto& sealed = sealed_[c];
        return b < static_cast<std::int64_t>(sealed.size()) ? sealed[static_cast<std::size_t>(b)]
                                                            : tailBlocks[c][0];
    };

    // Where the blocks go: the file the blocks were spilled to, the mapped file itself when it
    // is the one to bring up to date, or a new file.
    namespace fs = std::filesystem;
    std::error_code error;
    fs::create_directories(fs::path(cachePath).parent_path(), error);
    if (error) {
        return fail(error.message());
    }
    struct stat existing {};
    const bool exists = ::lstat(cachePath.c_str(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode)) {
        return fail(kNotARegularFile);
    }
    const bool spilling = spillFd_ >= 0 && !spillTarget_.empty() && spillTarget_ == cachePath;
    if (spilling && spillFailed_) {
        return fail(std::strerror(ENOSPC));
    }
    // In place only under the write lock and while the file is still as this cache opened or
    // last wrote it (another cache of it may have brought it up to date since); otherwise a
    // new file replaces it, and whoever has the old one mapped keeps reading that.
    bool inPlace = !spilling && map_ != nullptr && mappedPath_ == cachePath && exists &&
                   static_cast<std::uint64_t>(existing.st_ino) == mappedInode_ &&
                   LockMapped(F_WRLCK);
    struct Unlock {
        const CPlotCache* cache;
        bool locked;
        ~Unlock() {
            if (locked) {
                cache->LockMapped(F_UNLCK);
            }
        }
    } unlock{this, inPlace};
    PlotCacheHeader current{};
    inPlace = inPlace && CurrentHeader(current) && current.headerHash == mappedHeaderHash_;
    int fd = -1;
    // A new file (the spilled one too) is named cachePath only once it is whole.
    const bool fresh = spilling || !inPlace;
    std::string fallback;  // its temporary name, where it needs one
    std::uint64_t position = 0;  // in the data section
    if (spilling) {
        fd = spillFd_;
        fallback = spillPath_;
        position = spillEnd_;
    } else if (inPlace) {
        fd = ::open(cachePath.c_str(), O_RDWR | O_CLOEXEC);
        // Blocks already in the file stay where they are; the rest follows the last of them.
        for (std::size_t c = 0; c < channels_.size(); ++c) {
            for (const SealedBlock& block : sealed_[c]) {
                if (block.Mapped()) {
                    position = std::max(position, RoundUp8(block.entry.offset + block.entry.bytes));
                }
            }
        }
    } else {
        fd = CreateUnnamedFileBeside(cachePath, fallback);
    }
    if (fd < 0) {
        return fail(std::strerror(errno));
    }
    const auto abandon = [&](int writeError) {
        if (!spilling && fresh) {
            ::close(fd);
            if (!fallback.empty()) {
                ::unlink(fallback.c_str());
            }
        } else if (inPlace) {
            ::close(fd);
        }
        return fail(std::strerror(writeError != 0 ? writeError : EIO));
    };

    std::string index;
    for (std::int64_t b = 0; b < blocks; ++b) {
        for (std::size_t c = 0; c < channels_.size(); ++c) {
            const SealedBlock& block = blockAt(c, b);
            PlotCacheBlockEntry entry = block.entry;
            const bool inFile = (spilling && block.spilled) || (inPlace && block.Mapped());
            if (!inFile) {
                const std::string_view bytes = BlockBytes(block);
                entry.offset = position;
                entry.bytes = static_cast<std::uint32_t>(bytes.size());
                entry.hash = PlotCacheHash(bytes.data(), bytes.size());
                if (!WriteBlockAt(fd, bytes, sizeof header + position)) {
                    return abandon(errno);
                }
                position = RoundUp8(position + bytes.size());
            }
            Put(index, entry);
        }
    }
    header.dataOffset = sizeof header;
    header.dataBytes = position;
    header.metaOffset = header.dataOffset + header.dataBytes;
    CPlotCacheSectionWriter meta(fd, header.metaOffset);
    for (const auto& channel : channels_) {
        meta.Put(static_cast<std::int32_t>(channel.slot));
        meta.Put(static_cast<std::uint32_t>(channel.storage));
    }
    meta.Append(index.data(), index.size());
    for (std::int64_t b = 0; b < blocks; ++b) {
        for (std::size_t c = 0; c < channels_.size(); ++c) {
            const BlockSummary& s = summaries_[c].ItemAt(b);
            meta.Put(s.count);
            meta.Put(s.range.min);
            meta.Put(s.range.max);
            meta.Put(s.sum);
            meta.Put(s.sumOfSquares);
        }
    }
    for (std::int64_t b = 0; b < blocks; ++b) {
        const DecaySums d = b < decay_.Size() ? decay_.ItemAt(b) : DecaySums{};
        meta.Put(d.count);
        meta.Put(d.days.min);
        meta.Put(d.days.max);
        meta.Put(d.x);
        meta.Put(d.y);
        meta.Put(d.xx);
        meta.Put(d.xy);
    }
    const std::int64_t leafCount = CeilDiv(records_, options_.leafRecords);
    for (std::size_t c = 0; c < channels_.size(); ++c) {
        const CPyramid<ValueRange>& leaves = Leaves(static_cast<int>(c));
        for (std::int64_t l = 0; l < leafCount; ++l) {
            meta.Put(leaves.ItemAt(l).min);
            meta.Put(leaves.ItemAt(l).max);
        }
    }
    for (const MjdRun& run : runs_) {
        meta.Put(run.first);
        meta.Put(run.mjd.min);
        meta.Put(run.mjd.max);
    }
    if (!meta.Finish()) {
        return abandon(errno);
    }
    header.metaBytes = meta.Bytes();
    header.metaHash = meta.Hash();
    header.headerHash = PlotCacheHash(&header, offsetof(PlotCacheHeader, headerHash));
    // The header last: until it is written, the file does not claim the new contents.
    const std::string_view headerBytes(reinterpret_cast<const char*>(&header), sizeof header);
    if (!WriteWholeAt(fd, headerBytes, 0)) {
        return abandon(errno);
    }
    if (inPlace) {
        mappedHeaderHash_ = header.headerHash;  // the file is now as this cache wrote it
    }
    if (spilling) {
        spillPath_.clear();  // named below; the file stays open to read spilled blocks
        spillTarget_.clear();
    }
    if (fresh && !NameUnnamedFile(fd, fallback, cachePath)) {
        const int nameError = errno;
        if (!spilling) {
            ::close(fd);
        }
        if (!fallback.empty()) {
            ::unlink(fallback.c_str());
        }
        return fail(std::strerror(nameError));
    }
    if (!spilling && ::close(fd) != 0) {
        const int closeError = errno;
        if (fresh) {
            ::unlink(cachePath.c_str());  // what it holds is not known to be whole
        }
        return fail(std::strerror(closeError));
    }
    result.written = true;
    return result;
}

PlotCacheOpenResult CPlotCache::Open(const std::string& cachePath, const std::string& sourcePath,
                                     bool checkBlocks) {
    PlotCacheOpenResult result = Load(cachePath, sourcePath, checkBlocks);
    if (result.status != EPlotCacheOpen::kValid) {
        Clear();
        result.coveredBytes = 0;
        result.records = 0;
    }
    return result;
}

PlotCacheOpenResult CPlotCache::Load(const std::string& cachePath, const std::string& sourcePath,
                                     bool checkBlocks) {
    Clear();
    PlotCacheOpenResult result;
    auto give = [&](EPlotCacheOpen status, std::string reason) {
        result.status = status;
        result.reason = std::move(reason);
        return result;
    };
    std::string reason;
    const int fd = OpenCacheFile(cachePath, reason);
    if (fd < 0) {
        return give(errno == ENOENT ? EPlotCacheOpen::kMissing : EPlotCacheOpen::kCorrupt, reason);
    }
    // Read under the read lock: a cache bringing the file up to date in place finishes first.
    mappedFd_ = fd;
    LockMapped(F_RDLCK);
    struct Unlock {
        const CPlotCache* cache;
        ~Unlock() { cache->LockMapped(F_UNLCK); }
    } unlock{this};
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_size < static_cast<off_t>(sizeof(PlotCacheHeader))) {
        return give(EPlotCacheOpen::kCorrupt, "shorter than a header");
    }
    mapBytes_ = static_cast<std::size_t>(st.st_size);
    void* map = ::mmap(nullptr, mapBytes_, PROT_READ, MAP_PRIVATE, fd, 0);
    if (map == MAP_FAILED) {
        mapBytes_ = 0;
        return give(EPlotCacheOpen::kCorrupt,
                    std::string("cannot be mapped: ") + std::strerror(errno));
    }
    map_ = static_cast<const std::uint8_t*>(map);
    mappedPath_ = cachePath;
    mappedInode_ = static_cast<std::uint64_t>(st.st_ino);
    const std::uint64_t size = mapBytes_;

    PlotCacheHeader header;
    std::memcpy(&header, map_, sizeof header);
    if (std::memcmp(header.magic, kPlotCacheMagic, sizeof header.magic) != 0) {
        return give(EPlotCacheOpen::kCorrupt, "not a plot cache");
    }
    if (header.version != kPlotCacheVersion) {
        return give(EPlotCacheOpen::kOtherVersion, "layout version " +
                                                       std::to_string(header.version) + ", not " +
                                                       std::to_string(kPlotCacheVersion));
    }
    if (header.headerBytes != sizeof header ||
        PlotCacheHash(map_, offsetof(PlotCacheHeader, headerHash)) != header.headerHash) {
        return give(EPlotCacheOpen::kCorrupt, "header damaged");
    }
    mappedHeaderHash_ = header.headerHash;
    const std::uint64_t channels = header.channelCount;
    if (header.flags != 0 || channels == 0 ||
        channels > kPlotCacheMaxChannels || header.leafRecords == 0 || header.blockRecords == 0 ||
        header.blockRecords > kPlotCacheMaxBlockRecords ||
        header.blockRecords % header.leafRecords != 0 ||
        header.recordCount > kPlotCacheMaxRecords || header.runCount > header.recordCount ||
        (header.recordCount > 0 && header.runCount == 0) || header.timeIndex < -1 ||
        header.timeIndex >= static_cast<std::int64_t>(channels) || header.decayIndex < -1 ||
        header.decayIndex >= static_cast<std::int64_t>(channels) ||
        (header.decayIndex >= 0 && header.timeIndex < 0)) {
        return give(EPlotCacheOpen::kCorrupt, "header out of bounds");
    }
    const auto records = static_cast<std::int64_t>(header.recordCount);
    const std::int64_t blocks = CeilDiv(records, header.blockRecords);
    const std::int64_t leafCount = CeilDiv(records, header.leafRecords);
    const MetaLayout layout = Layout(channels, static_cast<std::uint64_t>(blocks),
                                     static_cast<std::uint64_t>(leafCount), header.runCount);
    if (header.dataOffset != sizeof header || header.dataBytes > size - header.dataOffset ||
        header.metaOffset != header.dataOffset + header.dataBytes ||
        header.metaBytes != layout.Total() || header.metaBytes > size - header.metaOffset) {
        return give(EPlotCacheOpen::kCorrupt, "sizes do not match the file (truncated?)");
    }
    const std::uint8_t* meta = map_ + header.metaOffset;
    if (PlotCacheHash(meta, header.metaBytes) != header.metaHash) {
        return give(EPlotCacheOpen::kCorrupt, "summaries damaged");
    }

    // The telemetry file: the same file, at least as long, its covered bytes unchanged.
    {
        const int source = OpenRegularFile(sourcePath, reason);
        if (source < 0) {
            return give(EPlotCacheOpen::kSourceMissing, sourcePath + ": " + reason);
        }
        struct stat now {};
        std::uint64_t hash = 0;
        const bool statted = ::fstat(source, &now) == 0;
        const bool sameFile = statted &&
                              static_cast<std::uint64_t>(now.st_dev) == header.source.device &&
                              static_cast<std::uint64_t>(now.st_ino) == header.source.inode;
        const bool longEnough =
            statted && static_cast<std::uint64_t>(now.st_size) >= header.source.coveredBytes;
        // A file that did not grow but was written to since has been rewritten in place; the
        // samples might miss where.
        const bool rewritten =
            statted && static_cast<std::uint64_t>(now.st_size) == header.source.coveredBytes &&
            MtimeNs(now) != header.source.mtimeNs;
        const bool sameBytes = sameFile && longEnough && !rewritten &&
                               SourceSampleHash(source, header.source.coveredBytes, hash) &&
                               hash == header.source.sampleHash;
        ::close(source);
        if (!sameFile) {
            return give(EPlotCacheOpen::kStale, "the telemetry file was replaced");
        }
        if (!longEnough) {
            return give(EPlotCacheOpen::kStale, "the telemetry file was truncated");
        }
        if (rewritten) {
            return give(EPlotCacheOpen::kStale, "the telemetry file was rewritten");
        }
        if (!sameBytes) {
            return give(EPlotCacheOpen::kStale, "the telemetry file's recorded part changed");
        }
    }

    std::vector<PlotCacheChannel> list(channels);
    const std::uint8_t* at = meta;
    for (auto& channel : list) {
        channel.slot = LoadAt<std::int32_t>(at);
        const auto storage = LoadAt<std::uint32_t>(at + 4);
        if (storage > static_cast<std::uint32_t>(EPlotStorage::kDouble)) {
            return give(EPlotCacheOpen::kCorrupt, "unknown storage");
        }
        channel.storage = static_cast<EPlotStorage>(storage);
        at += kWord;
    }
    // Reset unmaps: keep the mapping across it.
    const std::uint8_t* keptMap = map_;
    const std::size_t keptBytes = mapBytes_;
    const std::uint64_t keptInode = mappedInode_;
    const int keptFd = mappedFd_;
    map_ = nullptr;
    mappedFd_ = -1;
    options_.blockRecords = header.blockRecords;
    options_.leafRecords = header.leafRecords;
    const bool reset = Reset(list);
    map_ = keptMap;
    mappedFd_ = keptFd;
    mapBytes_ = keptBytes;
    mappedPath_ = cachePath;
    mappedInode_ = keptInode;
    if (!reset || timeIndex_ != header.timeIndex || decayIndex_ != header.decayIndex) {
        return give(EPlotCacheOpen::kCorrupt, "channel list damaged");
    }
    records_ = records;
    firstMjd_ = header.firstMjd;
    coveredBytes_ = header.source.coveredBytes;
    dataOffset_ = header.dataOffset;

    // The pages hashed are given back as the hashing goes, so that checking a cache of a
    // gigabyte does not make it resident (they stay in the page cache).
    std::uint64_t released = 0;
    const auto ReleaseReadPages = [&](std::uint64_t upTo) {
        constexpr std::uint64_t kReleaseBytes = std::uint64_t{32} << 20;
        const auto page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
        upTo = upTo / page * page;
        if (upTo >= released + kReleaseBytes) {
            ::madvise(const_cast<std::uint8_t*>(map_) + released, upTo - released, MADV_DONTNEED);
            released = upTo;
        }
    };
    const std::uint8_t* index = meta + layout.channels;
    for (std::int64_t b = 0; b < blocks; ++b) {
        for (std::uint64_t c = 0; c < channels; ++c) {
            SealedBlock block{};
            std::memcpy(&block.entry, index, sizeof block.entry);
            index += sizeof block.entry;
            if (block.entry.offset > header.dataBytes ||
                block.entry.bytes > header.dataBytes - block.entry.offset ||
                block.entry.encoding > static_cast<std::uint8_t>(EPlotStorage::kDouble)) {
                return give(EPlotCacheOpen::kCorrupt, "block index out of bounds");
            }
            // Every block's hash now (a tenth of a second for a decade's cache), so that a
            // damaged block makes the cache rebuilt instead of drawn with a hole.
            if (checkBlocks && PlotCacheHash(map_ + header.dataOffset + block.entry.offset,
                                             block.entry.bytes) != block.entry.hash) {
                return give(EPlotCacheOpen::kCorrupt, "block damaged");
            }
            ReleaseReadPages(header.dataOffset + block.entry.offset + block.entry.bytes);
            sealed_[c].push_back(std::move(block));
        }
    }
    const std::uint8_t* summary = meta + layout.channels + layout.index;
    for (std::uint64_t c = 0; c < channels; ++c) {
        std::vector<BlockSummary> items(static_cast<std::size_t>(blocks));
        for (std::int64_t b = 0; b < blocks; ++b) {
            const std::uint8_t* s = summary + (static_cast<std::uint64_t>(b) * channels + c) *
                                                  kPlotCacheSummaryWords * kWord;
            BlockSummary& item = items[static_cast<std::size_t>(b)];
            item.count = LoadAt<std::uint64_t>(s);
            item.range = {LoadAt<double>(s + 8), LoadAt<double>(s + 16)};
            item.sum = LoadDD(s + 24);
            item.sumOfSquares = LoadDD(s + 40);
            if (item.count > static_cast<std::uint64_t>(BlockLength(b))) {
                return give(EPlotCacheOpen::kCorrupt, "block summary out of bounds");
            }
        }
        summaries_[c].Assign(std::move(items));
    }
    const std::uint8_t* decay = summary + layout.summaries;
    std::vector<DecaySums> decayItems(static_cast<std::size_t>(blocks));
    for (auto& item : decayItems) {
        item.count = LoadAt<std::uint64_t>(decay);
        item.days = {LoadAt<double>(decay + 8), LoadAt<double>(decay + 16)};
        item.x = LoadDD(decay + 24);
        item.y = LoadDD(decay + 40);
        item.xx = LoadDD(decay + 56);
        item.xy = LoadDD(decay + 72);
        decay += kPlotCacheDecayWords * kWord;
    }
    decay_.Assign(std::move(decayItems));
    leafOffset_ =
        header.metaOffset + layout.channels + layout.index + layout.summaries + layout.decay;
    for (auto& leaves : leaves_) {
        leaves.reset();  // read from the map when first needed
    }
    const std::uint8_t* run = map_ + leafOffset_ + layout.leaves;
    runs_.resize(header.runCount);
    for (std::size_t r = 0; r < runs_.size(); ++r) {
        MjdRun& item = runs_[r];
        item.first = LoadAt<std::int64_t>(run);
        item.mjd = {LoadAt<double>(run + 8), LoadAt<double>(run + 16)};
        run += kPlotCacheRunWords * kWord;
        // Runs start in order, the first at record 0.
        if (r == 0 ? item.first != 0 : item.first <= runs_[r - 1].first || item.first >= records) {
            return give(EPlotCacheOpen::kCorrupt, "MJD runs out of bounds");
        }
    }

    // A last, shorter block goes back to the tail so that appending continues it.
    if (records % options_.blockRecords != 0) {
        const std::int64_t last = blocks - 1;
        for (std::uint64_t c = 0; c < channels; ++c) {
            std::vector<double> values;
            if (!Decompress(sealed_[c].back(), BlockLength(last), values)) {
                return give(EPlotCacheOpen::kCorrupt, "last block damaged");
            }
            sealed_[c].pop_back();
            tail_[c] = std::move(values);
            accumulators_[c].Add(tail_[c].data(), tail_[c].size());
        }
        if (decayIndex_ >= 0) {
            decayAccumulator_.Add(tail_[static_cast<std::size_t>(timeIndex_)].data(),
                                  tail_[static_cast<std::size_t>(decayIndex_)].data(),
                                  tail_[static_cast<std::size_t>(timeIndex_)].size(), firstMjd_);
        }
    }
    result.status = EPlotCacheOpen::kValid;
    result.coveredBytes = coveredBytes_;
    result.records = records_;
    return result;
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
