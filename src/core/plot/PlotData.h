#pragma once
// The plot channel store: 60 named telemetry channels and 5 time axes, one value per point,
// filled point by point from live status records or all at once by the .csd file reader.
//
// Storage is sized for years of telemetry: a channel that never received a value takes no
// memory and reads 0.0; values grow in fixed chunks (nothing is copied when a large store
// grows); readings that are integers or single-precision at the instrument are kept as 32-bit
// values and widened to double on access; time axes 1 to 4 are computed from axis 0. An
// absent value (a field missing from a short file line) reads as NaN.
//
// One store belongs to one window and is used on one thread, except that the file reader fills
// disjoint index ranges of prepared columns from several threads (see CPlotColumn::TryStore).
//
//   CPlotData store;
//   store.AppendLiveRecord(unit.Snapshot());
//   double y = store.Channel(4)[store.PointCount() - 1];

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "core/link/UnitState.h"
#include "core/plot/ValueRange.h"

namespace corvane3 {

inline constexpr int kPlotChannelSlots = 60;
inline constexpr int kPlotTimeAxes = 5;
// Name lookups search the 37 defined channels and the unnamed slot 37.
inline constexpr int kPlotChannelCount = 38;
inline constexpr int kChannelSignal = 30;
inline constexpr int kChannelFlopBackground = 31;
// Values per storage chunk: a whole chunk of 32-bit values is one 2 MiB huge page (a loaded file
// then costs few page faults and TLB misses); a live store's first chunk grows geometrically and
// stays small.
inline constexpr std::int64_t kPlotChunkPoints = std::int64_t{1} << 19;

enum class EPlotStorage : std::uint8_t { kInt32, kFloat, kDouble };

// One channel's values. Reading past what was stored gives 0.0.
class CPlotColumn {
  public:
    explicit CPlotColumn(EPlotStorage storage = EPlotStorage::kDouble) : storage_(storage) {}

    // An int32 column keeps absent values (NaN) as this; a real INT32_MIN widens the column.
    static constexpr std::int32_t kAbsentInt = std::numeric_limits<std::int32_t>::min();

    // Inline: drawing and the statistics read values one by one.
    double At(std::int64_t index) const {
        if (index < 0 || index >= size_) {
            return 0.0;
        }
        const auto chunk = static_cast<std::size_t>(index / kPlotChunkPoints);
        const auto offset = static_cast<std::size_t>(index % kPlotChunkPoints);
        switch (storage_) {
            case EPlotStorage::kInt32: {
                const std::int32_t value = ints_[chunk][offset];
                return value == kAbsentInt ? std::numeric_limits<double>::quiet_NaN() : value;
            }
            case EPlotStorage::kFloat:
                return floats_[chunk][offset];
            case EPlotStorage::kDouble:
                break;
        }
        return doubles_[chunk][offset];
    }
    // Adds values first..end-1 to range in one pass over the chunks (as At reads them).
    void AddRange(std::int64_t first, std::int64_t end, ValueRange& range) const;
    // Stores value at index, growing the column (new elements 0.0) and widening its storage to
    // double when the value does not fit.
    void Store(std::int64_t index, double value);
    // Stores without allocating: index must be below Size(). Returns false, storing nothing,
    // when the value does not fit the storage. Threads may call it for distinct indices.
    bool TryStore(std::int64_t index, double value);
    // Grows to at least size elements, new ones 0.0. With fill false the new elements are left
    // unset, for a caller that stores every one of them (page faults then happen in the
    // threads that store).
    void Grow(std::int64_t size, bool fill = true);
    void Clear();

    std::int64_t Size() const { return size_; }
    EPlotStorage Storage() const { return storage_; }
    std::size_t MemoryBytes() const;

  private:
    // Chunk memory: whole chunks on huge-page boundaries, asking the kernel for huge pages.
    static void* AllocateChunk(std::size_t bytes);
    static void FreeChunk(void* memory, std::size_t bytes);
    // Leaves new elements uninitialised; GrowChunks fills them when asked to.
    template <typename T>
    struct UnsetAllocator : std::allocator<T> {
        template <typename U>
        struct rebind {
            using other = UnsetAllocator<U>;
        };
        UnsetAllocator() = default;
        template <typename U>
        UnsetAllocator(const UnsetAllocator<U>&) {}
        T* allocate(std::size_t n) { return static_cast<T*>(AllocateChunk(n * sizeof(T))); }
        void deallocate(T* p, std::size_t n) { FreeChunk(p, n * sizeof(T)); }
        template <typename U>
        void construct(U* p) noexcept {
            ::new (static_cast<void*>(p)) U;
        }
        template <typename U, typename... A>
        void construct(U* p, A&&... a) {
            ::new (static_cast<void*>(p)) U(std::forward<A>(a)...);
        }
    };
    template <typename T>
    using Chunk = std::vector<T, UnsetAllocator<T>>;
    template <typename T>
    using Chunks = std::vector<Chunk<T>>;
    void Widen();

    EPlotStorage storage_;
    std::int64_t size_ = 0;
    Chunks<std::int32_t> ints_;
    Chunks<float> floats_;
    Chunks<double> doubles_;
};

class CPlotData;
class CPlotCache;

// A read-only view of one channel or time axis, valid while its store lives.
class CPlotSeries {
  public:
    const std::string& Name() const;
    const std::string& Unit() const;
    double operator[](std::int64_t index) const;
    // As CPlotColumn::AddRange.
    void AddRange(std::int64_t first, std::int64_t end, ValueRange& range) const;
    // The store's point count.
    std::int64_t Size() const;

  private:
    friend class CPlotData;
    CPlotSeries(const CPlotData& data, int slot) : data_(&data), slot_(slot) {}
    bool Valid() const { return slot_ >= 0 && slot_ < kPlotChannelSlots + kPlotTimeAxes; }
    const CPlotData* data_;
    int slot_;  // channel number, or kPlotChannelSlots + X-unit index
};

// Signal and Flop/Background of one record. A file load replaces a background of exactly 0.0
// by 0.1; a live record keeps the division as it comes.
struct SignalChannels {
    double signal;
    double flopBackground;
};

// The value as a column of this storage gives it back: rounded to single precision for a float
// column (an integer that does not fit an int32 column widens it instead). Inline: a long
// file's first read calls it for every value.
inline double StoredValue(double value, EPlotStorage storage) {
    // The range first: converting a double beyond float's range is undefined.
    if (storage == EPlotStorage::kFloat && std::fabs(value) <= std::numeric_limits<float>::max()) {
        return static_cast<double>(static_cast<float>(value));
    }
    return value;  // an integer that does not fit makes its int32 block double
}

SignalChannels DeriveSignalChannels(double cLevel, double numGain, double dacGain, double dcLevel,
                                    bool replaceZeroBackground);

// Points a live store holds in memory before they move into a plot cache (about a month at the
// default interval).
inline constexpr std::int64_t kLivePointsBeforeCache = std::int64_t{1} << 18;

class CPlotData {
  public:
    CPlotData();
    ~CPlotData();
    CPlotData(CPlotData&&) noexcept;
    CPlotData& operator=(CPlotData&&) noexcept;

    // Empties every channel and axis, restores names, units and axis names; the serial number,
    // unit type and factory flag stay.
    void ResetStore();
    // Appends one live point from a status record. A record of another serial number resets
    // the store first. Amortised constant time.
    void AppendLiveRecord(const UnitStateData& record);

    // The lowest channel number below kPlotChannelCount with exactly this name, or -1.
    int FindChannel(const std::string& name) const;

    std::int64_t PointCount() const { return pointCount_; }
    // number 0 to 59; any other number gives a series without name whose values are 0.0.
    CPlotSeries Channel(int number) const;
    // xUnit 0 to 4 (others as for Channel): MJD, days, hours, minutes, seconds (the last four
    // relative to point 0).
    CPlotSeries TimeAxis(int xUnit) const;
    std::int32_t SerialNumber() const { return serialNumber_; }
    std::int32_t UnitType() const { return unitType_; }
    std::int32_t FactoryFlag() const { return factoryFlag_; }
    int ChannelCount() const { return kPlotChannelCount; }
    // How a channel's values are kept (single-precision readings as float, counts as int32),
    // so that a value can be written back in the fewest digits that give it again.
    EPlotStorage ChannelStorage(int number) const;
    // Changes whenever the points are replaced (a reset or a load), never when points are
    // appended; unique among all stores of the process.
    std::uint64_t Generation() const { return generation_; }
    // Bytes held by the values (not the names).
    std::size_t MemoryBytes() const;

    // For the file reader: empties the store and sizes the given channels, axis 0 and the two
    // derived channels to records elements (their storage as the channel table says, or all
    // double when exact). Afterwards MutableColumn gives those columns.
    void PrepareLoad(std::int64_t records, const std::vector<int>& channels, bool exact);
    CPlotColumn& MutableColumn(int slot) { return columns_[static_cast<std::size_t>(slot)]; }
    // Ends a load: points become the point count, the relative axes are renamed after the
    // first point's MJD.
    void FinishLoad(std::int64_t points, std::int32_t serialNumber, std::int32_t unitType,
                    std::int32_t factoryFlag);
    static constexpr int kAxis0Slot = kPlotChannelSlots;

    // Replaces the points by those of a plot cache (a file too long to hold): values are read
    // from it, and live records are appended to it, so the store stays small however long the
    // series grows. Channels the cache does not hold read 0.0.
    void AttachCache(std::unique_ptr<CPlotCache> cache, std::int32_t serialNumber,
                     std::int32_t unitType, std::int32_t factoryFlag);
    // Empties the store and gives up its cache, for the caller to close (closing a large one
    // frees its file's pages, which takes a while).
    std::unique_ptr<CPlotCache> ReleaseCache();
    // The cache the points live in, or null while they are held in memory.
    const CPlotCache* Cache() const { return cache_.get(); }
    // The cache's channel index of slot (a channel number or kAxis0Slot), or -1.
    int CacheChannel(int slot) const;
    // The MJD at which time axis xUnit shows x (the inverse of TimeAxis).
    double AxisToMjd(int xUnit, double x) const;
    // A live store moves its points into a cache in memory once it holds this many.
    void SetLivePointsBeforeCache(std::int64_t points) { livePointsBeforeCache_ = points; }

  private:
    friend class CPlotSeries;
    double Value(int slot, std::int64_t index) const {
        if (slot > kAxis0Slot) {
            return RelativeTime(slot, index);
        }
        return cache_ ? CachedValue(slot, index)
                      : columns_[static_cast<std::size_t>(slot)].At(index);
    }
    double CachedValue(int slot, std::int64_t index) const;
    void MoveIntoCache();
    double RelativeTime(int slot, std::int64_t index) const;
    static std::uint64_t NextGeneration();

    static constexpr int kSlots = kPlotChannelSlots + 1;  // channels and axis 0
    std::array<CPlotColumn, kSlots> columns_;
    std::array<std::string, kPlotChannelSlots + kPlotTimeAxes> names_;
    std::array<std::string, kPlotChannelSlots + kPlotTimeAxes> units_;
    std::int64_t pointCount_ = 0;
    std::uint64_t generation_ = 0;
    std::int32_t factoryFlag_ = 0;
    std::int32_t serialNumber_ = 0;  // matches no unit before the first record
    std::int32_t unitType_ = kModelBeforeIdentification;
    std::unique_ptr<CPlotCache> cache_;
    std::array<int, kSlots> cacheChannel_{};
    std::int64_t livePointsBeforeCache_ = kLivePointsBeforeCache;
};

inline double CPlotSeries::operator[](std::int64_t index) const {
    return Valid() ? data_->Value(slot_, index) : 0.0;
}

}  // namespace corvane3
