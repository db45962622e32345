#include "core/plot/PlotData.h"

#include <sys/mman.h>
#include <atomic>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <new>
#include <span>
#include <type_traits>

#include "core/base/CLocale.h"
#include "core/plot/PlotCache.h"

namespace corvane3 {

namespace {

using S = EPlotStorage;

struct ChannelDefinition {
    const char* name;
    const char* unit;
    EPlotStorage storage;  // what the instrument's value fits in
};

// Channels 0 to 36. Integer readings fit 32 bits; single-precision readings fit a float.
constexpr std::array<ChannelDefinition, 37> kChannels{{
    {"Hour Meter", "Hours", S::kInt32},  {"Variance", "mV", S::kInt32},
    {"Clk Ramsey", "mV", S::kInt32},     {"Clk Rabi", "mV", S::kInt32},
    {"Clk Signal", "mV", S::kInt32},     {"OCXO V", "mV", S::kInt32},
    {"Zeeman Ramsey", "mV", S::kInt32},  {"Zeeman Rabi", "mV", S::kInt32},
    {"Zeeman Signal", "mV", S::kInt32},  {"CField Control", "mV", S::kInt32},
    {"Cfield Current", "mA", S::kFloat}, {"uWave Pow Control", "mV", S::kInt32},
    {"DC Level", "mV", S::kInt32},       {"DAC Gain", "", S::kFloat},
    {"Num Gain", "", S::kFloat},         {"Chassis T", "Deg. C", S::kFloat},
    {"Cs Oven", "V", S::kFloat},         {"Elec. Mult.", "V", S::kFloat},
    {"Ion Pump", "uA", S::kInt32},       {"Mass. Spec.", "V", S::kFloat},
    {"Ionizer", "V", S::kFloat},         {"+21 VDC", "VDC", S::kFloat},
    {"+5 VDC", "VDC", S::kFloat},        {"+15 VDC", "VDC", S::kFloat},
    {"-15 VDC", "VDC", S::kFloat},       {"Freq.Offset", "E-15", S::kInt32},
    {"Burps Daily", "", S::kInt32},      {"Burps Total", "", S::kInt32},
    {"Hops Daily", "", S::kInt32},       {"Hops Total", "", S::kInt32},
    {"Signal", "mV", S::kDouble},        {"Flop/Background", "", S::kDouble},
    {"System Voltage", "V", S::kFloat},  {"DC from AC", "V", S::kFloat},
    {"DC Input", "V", S::kFloat},        {"Battery Voltage", "V", S::kFloat},
    {"Charge Current", "mA", S::kInt32},
}};

constexpr std::array<const char*, kPlotTimeAxes> kAxisNames{"MJD", "Time [Days]", "Time [Hours]",
                                                            "Time [Minutes]", "Time [Seconds]"};
constexpr std::array<const char*, kPlotTimeAxes> kAxisUnits{"MJD", "Days", "Hours", "Minutes",
                                                            "Seconds"};
// Names of the relative axes after a file load, formatted with the MJD of point 0.
constexpr std::array<const char*, kPlotTimeAxes> kLoadedAxisNames{
    "", "Time since MJD %.1f [Days]", "Time since MJD %.2f [Hours]",
    "Time since MJD %.3f [Minutes]", "Time since MJD %.5f [Seconds]"};

constexpr std::int32_t kAbsentInt = CPlotColumn::kAbsentInt;
// A file load divides by this background when the computed one is exactly zero.
constexpr double kZeroBackgroundReplacement = 0.1;
constexpr double kHoursPerDay = 24.0;
constexpr double kMinutesPerHour = 60.0;
constexpr double kSecondsPerMinute = 60.0;

constexpr std::size_t ChunkOf(std::int64_t index) {
    return static_cast<std::size_t>(index / kPlotChunkPoints);
}
constexpr std::size_t Offset(std::int64_t index) {
    return static_cast<std::size_t>(index % kPlotChunkPoints);
}

bool FitsInt(double value) {
    return std::isnan(value) || (value == std::trunc(value) && value > kAbsentInt &&
                                 value <= std::numeric_limits<std::int32_t>::max());
}
bool FitsFloat(double value) {
    // The range first: converting a double beyond float's range is undefined.
    return !std::isfinite(value) || std::fabs(value) <= std::numeric_limits<float>::max();
}

template <typename Chunk>
void Resize(Chunk& chunk, std::size_t size, bool fill) {
    const std::size_t old = chunk.size();
    chunk.resize(size);
    if (fill && size > old) {
        std::fill(chunk.begin() + static_cast<std::ptrdiff_t>(old), chunk.end(),
                  typename Chunk::value_type{});
    }
}

// Huge pages are this large on the machines the program runs on (x86-64 and arm64 with 4 KiB
// pages); elsewhere the advice is ignored and only the alignment is kept.
constexpr std::size_t kHugePageBytes = std::size_t{2} << 20;

// The bytes allocated for a chunk of bytes: whole huge pages when that adds at most an eighth
// (a loaded file's last chunk), else just the bytes (a live store's small first chunk).
constexpr std::size_t kHugePageSlackShare = 8;
std::size_t AllocatedBytes(std::size_t bytes) {
    const std::size_t pages = (bytes + kHugePageBytes - 1) / kHugePageBytes;
    const std::size_t rounded = pages * kHugePageBytes;
    return bytes > 0 && rounded - bytes <= bytes / kHugePageSlackShare ? rounded : bytes;
}
bool OnHugePages(std::size_t bytes) {
    return AllocatedBytes(bytes) % kHugePageBytes == 0 && bytes > 0;
}

// Chunks after the first are allocated whole, except when a load that knows its size (fill
// false) ends in a part of one.
template <typename Chunks>
void GrowChunks(Chunks& chunks, std::int64_t size, bool fill) {
    if (size <= 0) {
        return;
    }
    const auto whole = static_cast<std::size_t>(kPlotChunkPoints);
    const std::size_t lastChunk = ChunkOf(size - 1);
    while (chunks.size() <= lastChunk) {
        if (!chunks.empty()) {
            Resize(chunks.back(), whole, fill);
        }
        chunks.emplace_back();
    }
    // Only the first chunk grows geometrically; later ones are allocated whole once.
    auto& last = chunks.back();
    const std::size_t needed = Offset(size - 1) + 1;
    if (needed > last.size()) {
        if (needed > last.capacity()) {
            last.reserve(chunks.size() == 1 ? std::min(whole, std::max(needed, 2 * last.capacity()))
                         : fill             ? whole
                                            : needed);
        }
        Resize(last, needed, fill);
    }
}

template <typename Chunks>
std::size_t ChunkBytes(const Chunks& chunks) {
    std::size_t bytes = chunks.capacity() * sizeof(typename Chunks::value_type);
    for (const auto& chunk : chunks) {
        bytes += AllocatedBytes(chunk.capacity() * sizeof(typename Chunks::value_type::value_type));
    }
    return bytes;
}

}  // namespace

void* CPlotColumn::AllocateChunk(std::size_t bytes) {
    if (!OnHugePages(bytes)) {
        return ::operator new(bytes);
    }
    bytes = AllocatedBytes(bytes);
    void* memory = std::aligned_alloc(kHugePageBytes, bytes);
    if (memory == nullptr) {
        throw std::bad_alloc();
    }
    ::madvise(memory, bytes, MADV_HUGEPAGE);  // advice only: without huge pages it still works
    return memory;
}

void CPlotColumn::FreeChunk(void* memory, std::size_t bytes) {
    if (OnHugePages(bytes)) {
        std::free(memory);
    } else {
        ::operator delete(memory);
    }
}

namespace {

// Adds values[first..end) to range; an int32 column's absent marker is left out like NaN. The
// extremes are kept in locals without branches: the values of a column are noise more often
// than not, and a mispredicted branch costs more than the comparison.
template <typename T>
void AddValues(const T* values, std::size_t first, std::size_t end, ValueRange& range) {
    if constexpr (std::is_same_v<T, std::int32_t>) {
        constexpr std::int32_t kHighest = std::numeric_limits<std::int32_t>::max();
        std::int32_t low = kHighest;
        std::int32_t high = kAbsentInt;  // the lowest int32, so an absent value never raises it
        for (std::size_t i = first; i < end; ++i) {
            const std::int32_t value = values[i];
            high = std::max(high, value);
            low = std::min(low, value == kAbsentInt ? kHighest : value);
        }
        if (high != kAbsentInt) {
            range.Add(static_cast<double>(low));
            range.Add(static_cast<double>(high));
        }
    } else {
        double low = range.min;
        double high = range.max;
        for (std::size_t i = first; i < end; ++i) {
            const double value = values[i];
            low = value < low ? value : low;  // NaN compares false and is skipped
            high = value > high ? value : high;
        }
        range.min = low;
        range.max = high;
    }
}

template <typename Chunks>
void AddChunkValues(const Chunks& chunks, std::int64_t first, std::int64_t end, ValueRange& range) {
    while (first < end) {
        const std::size_t chunk = ChunkOf(first);
        const std::int64_t chunkEnd =
            std::min(end, static_cast<std::int64_t>(chunk + 1) * kPlotChunkPoints);
        AddValues(chunks[chunk].data(), Offset(first), Offset(chunkEnd - 1) + 1, range);
        first = chunkEnd;
    }
}

}  // namespace

void CPlotColumn::AddRange(std::int64_t first, std::int64_t end, ValueRange& range) const {
    first = std::max<std::int64_t>(first, 0);
    if (first >= end) {
        return;
    }
    if (end > size_) {
        range.Add(0.0);  // values never stored read as 0.0
        end = std::max(first, size_);
    }
    switch (storage_) {
        case S::kInt32:
            AddChunkValues(ints_, first, end, range);
            return;
        case S::kFloat:
            AddChunkValues(floats_, first, end, range);
            return;
        case S::kDouble:
            break;
    }
    AddChunkValues(doubles_, first, end, range);
}

bool CPlotColumn::TryStore(std::int64_t index, double value) {
    switch (storage_) {
        case S::kInt32:
            if (!FitsInt(value)) {
                return false;
            }
            ints_[ChunkOf(index)][Offset(index)] =
                std::isnan(value) ? kAbsentInt : static_cast<std::int32_t>(value);
            return true;
        case S::kFloat:
            if (!FitsFloat(value)) {
                return false;
            }
            floats_[ChunkOf(index)][Offset(index)] = static_cast<float>(value);
            return true;
        case S::kDouble:
            break;
    }
    doubles_[ChunkOf(index)][Offset(index)] = value;
    return true;
}

void CPlotColumn::Store(std::int64_t index, double value) {
    Grow(index + 1);
    if (!TryStore(index, value)) {
        Widen();
        TryStore(index, value);
    }
}

void CPlotColumn::Grow(std::int64_t size, bool fill) {
    if (size <= size_) {
        return;
    }
    switch (storage_) {
        case S::kInt32:
            GrowChunks(ints_, size, fill);
            break;
        case S::kFloat:
            GrowChunks(floats_, size, fill);
            break;
        case S::kDouble:
            GrowChunks(doubles_, size, fill);
            break;
    }
    size_ = size;
}

void CPlotColumn::Widen() {
    Chunks<double> wide;
    wide.reserve(std::max(ints_.size(), floats_.size()));
    // Chunk by chunk, so at most one chunk is held twice.
    for (std::size_t c = 0; c < std::max(ints_.size(), floats_.size()); ++c) {
        auto& chunk = wide.emplace_back();
        const std::size_t length = storage_ == S::kInt32 ? ints_[c].size() : floats_[c].size();
        chunk.reserve(c == 0 && length < static_cast<std::size_t>(kPlotChunkPoints)
                          ? length
                          : static_cast<std::size_t>(kPlotChunkPoints));
        for (std::size_t i = 0; i < length; ++i) {
            chunk.push_back(
                At(static_cast<std::int64_t>(c) * kPlotChunkPoints + static_cast<std::int64_t>(i)));
        }
        if (storage_ == S::kInt32) {
            Chunk<std::int32_t>().swap(ints_[c]);
        } else {
            Chunk<float>().swap(floats_[c]);
        }
    }
    ints_.clear();
    floats_.clear();
    doubles_ = std::move(wide);
    storage_ = S::kDouble;
}

void CPlotColumn::Clear() {
    Chunks<std::int32_t>().swap(ints_);
    Chunks<float>().swap(floats_);
    Chunks<double>().swap(doubles_);
    size_ = 0;
}

std::size_t CPlotColumn::MemoryBytes() const {
    return ChunkBytes(ints_) + ChunkBytes(floats_) + ChunkBytes(doubles_);
}

// A slot number from outside (a Plot view read from the configuration file) may be out of
// range: such a series has no name and reads 0.0.
const std::string& CPlotSeries::Name() const {
    static const std::string none;
    return Valid() ? data_->names_[static_cast<std::size_t>(slot_)] : none;
}
const std::string& CPlotSeries::Unit() const {
    static const std::string none;
    return Valid() ? data_->units_[static_cast<std::size_t>(slot_)] : none;
}
void CPlotSeries::AddRange(std::int64_t first, std::int64_t end, ValueRange& range) const {
    if (Valid() && data_->Cache() != nullptr && slot_ <= CPlotData::kAxis0Slot) {
        const int channel = data_->CacheChannel(slot_);
        if (channel >= 0) {
            range.Add(data_->Cache()->Range(channel, first, std::min(end, Size())));
        } else if (first < end) {
            range.Add(0.0);
        }
        return;
    }
    if (Valid() && slot_ <= CPlotData::kAxis0Slot) {
        data_->columns_[static_cast<std::size_t>(slot_)].AddRange(first, end, range);
        return;
    }
    for (std::int64_t i = first; i < end; ++i) {
        range.Add((*this)[i]);
    }
}
std::int64_t CPlotSeries::Size() const {
    return data_->PointCount();
}

SignalChannels DeriveSignalChannels(double cLevel, double numGain, double dacGain, double dcLevel,
                                    bool replaceZeroBackground) {
    const double signal = cLevel / (numGain * dacGain);
    double background = dcLevel / dacGain - signal;
    if (replaceZeroBackground && background == 0.0) {
        background = kZeroBackgroundReplacement;
    }
    return {signal, 2.0 * signal / background};
}

CPlotData::CPlotData() {
    ResetStore();
}
CPlotData::~CPlotData() = default;
CPlotData::CPlotData(CPlotData&&) noexcept = default;
CPlotData& CPlotData::operator=(CPlotData&&) noexcept = default;

std::uint64_t CPlotData::NextGeneration() {
    static std::atomic<std::uint64_t> generations{0};
    return ++generations;
}

void CPlotData::ResetStore() {
    generation_ = NextGeneration();
    cache_.reset();
    for (int slot = 0; slot < kSlots; ++slot) {
        const bool defined = slot < static_cast<int>(kChannels.size());
        columns_[static_cast<std::size_t>(slot)] =
            CPlotColumn(defined ? kChannels[static_cast<std::size_t>(slot)].storage : S::kDouble);
    }
    for (std::size_t slot = 0; slot < kPlotChannelSlots; ++slot) {
        names_[slot] = slot < kChannels.size() ? kChannels[slot].name : "";
        units_[slot] = slot < kChannels.size() ? kChannels[slot].unit : "";
    }
    for (std::size_t axis = 0; axis < kPlotTimeAxes; ++axis) {
        names_[kPlotChannelSlots + axis] = kAxisNames[axis];
        units_[kPlotChannelSlots + axis] = kAxisUnits[axis];
    }
    pointCount_ = 0;
}

void CPlotData::AppendLiveRecord(const UnitStateData& record) {
    const D1Record& d1 = record.d1;
    const auto serial = static_cast<std::int32_t>(d1.serialNumber);
    if (serial != serialNumber_) {
        ResetStore();
    }
    // Slots a live record fills: channels 0 to 36 and axis 0.
    constexpr int kLiveChannels = 37;
    std::array<double, kSlots> values{};
    values[kAxis0Slot] = record.mjd;
    const auto set = [&](int channel, double value) {
        values[static_cast<std::size_t>(channel)] = value;
    };
    const auto unsignedValue = [](auto value) {
        return static_cast<double>(static_cast<std::uint32_t>(value));
    };
    set(0, unsignedValue(record.d5.powerOnHours));
    const std::array<double, 25> d1Values{double(d1.stdDev),
                                          double(d1.cRamErr),
                                          double(d1.cRabErr),
                                          double(d1.cLevel),
                                          double(d1.vvcxo),
                                          double(d1.zRamErr),
                                          double(d1.zRabErr),
                                          double(d1.zLevel),
                                          double(d1.vcField),
                                          double(d1.icField),
                                          double(d1.vuWave),
                                          double(d1.dcLevel),
                                          double(record.d2.dacGain),
                                          double(d1.numGain),
                                          double(d1.tChassis),
                                          double(d1.vCsOven),
                                          double(d1.vem),
                                          double(d1.iip),
                                          double(d1.vms),
                                          double(d1.vion),
                                          double(d1.pos21V),
                                          double(d1.pos5V),
                                          double(d1.pos15V),
                                          double(d1.neg15V),
                                          double(d1.freqTune)};
    for (std::size_t i = 0; i < d1Values.size(); ++i) {
        set(static_cast<int>(i) + 1, d1Values[i]);
    }
    const OutlierCounts& outliers = record.outliers;
    set(26, unsignedValue(outliers.burpsToday));
    set(27, unsignedValue(outliers.burpsTotal));
    set(28, unsignedValue(outliers.hopsToday));
    set(29, unsignedValue(outliers.hopsTotal));
    const SignalChannels derived = DeriveSignalChannels(
        d1.cLevel, d1.numGain, record.d2.dacGain, d1.dcLevel, /*replaceZeroBackground=*/false);
    set(kChannelSignal, derived.signal);
    set(kChannelFlopBackground, derived.flopBackground);
    const B20Record& b20 = record.b20;
    set(32, b20.system24);
    set(33, b20.acdc24);
    set(34, b20.dcin24);
    set(35, b20.batt24);
    set(36, b20.charge);
    serialNumber_ = serial;
    if (cache_) {
        std::vector<double> cached(cache_->Channels().size());
        std::vector<std::span<const double>> columns;
        for (std::size_t c = 0; c < cached.size(); ++c) {
            const PlotCacheChannel& channel = cache_->Channels()[c];
            const int slot = channel.slot;
            const bool filled = slot == kAxis0Slot || slot < kLiveChannels;
            cached[c] =
                StoredValue(filled ? values[static_cast<std::size_t>(slot)] : 0.0, channel.storage);
            columns.emplace_back(&cached[c], 1);
        }
        cache_->Append(columns);
        ++pointCount_;
        return;
    }
    const std::int64_t n = pointCount_;
    columns_[kAxis0Slot].Store(n, values[kAxis0Slot]);
    for (int slot = 0; slot < kLiveChannels; ++slot) {
        columns_[static_cast<std::size_t>(slot)].Store(n, values[static_cast<std::size_t>(slot)]);
    }
    ++pointCount_;
    if (pointCount_ >= livePointsBeforeCache_) {
        MoveIntoCache();
    }
}

int CPlotData::CacheChannel(int slot) const {
    if (!cache_ || slot < 0 || slot >= kSlots) {
        return -1;
    }
    return cacheChannel_[static_cast<std::size_t>(slot)];
}

double CPlotData::CachedValue(int slot, std::int64_t index) const {
    const int channel = CacheChannel(slot);
    double value = 0.0;
    if (channel < 0 || !cache_->Values(channel, index, index + 1, &value)) {
        return 0.0;
    }
    return value;
}

void CPlotData::AttachCache(std::unique_ptr<CPlotCache> cache, std::int32_t serialNumber,
                            std::int32_t unitType, std::int32_t factoryFlag) {
    ResetStore();
    for (int slot = 0; slot < kSlots; ++slot) {
        cacheChannel_[static_cast<std::size_t>(slot)] = cache->ChannelIndex(slot);
    }
    const std::int64_t points = cache->RecordCount();
    cache_ = std::move(cache);
    FinishLoad(points, serialNumber, unitType, factoryFlag);
}

std::unique_ptr<CPlotCache> CPlotData::ReleaseCache() {
    std::unique_ptr<CPlotCache> cache = std::move(cache_);
    ResetStore();
    return cache;
}

void CPlotData::MoveIntoCache() {
    std::vector<PlotCacheChannel> channels;
    for (int slot = 0; slot < kSlots; ++slot) {
        const CPlotColumn& column = columns_[static_cast<std::size_t>(slot)];
        if (column.Size() > 0) {
            channels.push_back({slot, column.Storage()});
        }
    }
    auto cache = std::make_unique<CPlotCache>();
    // On failure the points stay in memory for good: trying again at every record would copy
    // them all each time.
    if (!cache->Reset(channels)) {
        livePointsBeforeCache_ = std::numeric_limits<std::int64_t>::max();
        return;
    }
    constexpr std::int64_t kStep = std::int64_t{1} << 14;
    std::vector<std::vector<double>> values(channels.size());
    std::vector<std::span<const double>> columns(channels.size());
    for (std::int64_t first = 0; first < pointCount_; first += kStep) {
        const std::int64_t end = std::min(pointCount_, first + kStep);
        for (std::size_t c = 0; c < channels.size(); ++c) {
            const CPlotColumn& column = columns_[static_cast<std::size_t>(channels[c].slot)];
            values[c].resize(static_cast<std::size_t>(end - first));
            for (std::int64_t i = first; i < end; ++i) {
                values[c][static_cast<std::size_t>(i - first)] = column.At(i);
            }
            columns[c] = values[c];
        }
        cache->Append(columns);
    }
    // The axis names and the generation stay: the points are the same.
    for (int slot = 0; slot < kSlots; ++slot) {
        cacheChannel_[static_cast<std::size_t>(slot)] = cache->ChannelIndex(slot);
        CPlotColumn& column = columns_[static_cast<std::size_t>(slot)];
        column = CPlotColumn(column.Storage());
    }
    cache_ = std::move(cache);
}

int CPlotData::FindChannel(const std::string& name) const {
    for (int channel = 0; channel < kPlotChannelCount; ++channel) {
        if (names_[static_cast<std::size_t>(channel)] == name) {
            return channel;
        }
    }
    return -1;
}

CPlotSeries CPlotData::Channel(int number) const {
    return CPlotSeries(*this, number >= 0 && number < kPlotChannelSlots ? number : -1);
}

CPlotSeries CPlotData::TimeAxis(int xUnit) const {
    return CPlotSeries(*this, xUnit >= 0 && xUnit < kPlotTimeAxes ? kPlotChannelSlots + xUnit : -1);
}

double CPlotData::RelativeTime(int slot, std::int64_t index) const {
    // Relative axes, multiplied step by step as days, hours, minutes, seconds.
    double value = Value(kAxis0Slot, index) - Value(kAxis0Slot, 0);
    const std::array<double, kPlotTimeAxes> steps{1.0, 1.0, kHoursPerDay, kMinutesPerHour,
                                                  kSecondsPerMinute};
    for (int axis = 2; axis <= slot - kPlotChannelSlots; ++axis) {
        value *= steps[static_cast<std::size_t>(axis)];
    }
    return value;
}

double CPlotData::AxisToMjd(int xUnit, double x) const {
    if (xUnit <= 0 || xUnit >= kPlotTimeAxes) {
        return x;
    }
    const std::array<double, kPlotTimeAxes> steps{1.0, 1.0, kHoursPerDay, kMinutesPerHour,
                                                  kSecondsPerMinute};
    for (int axis = xUnit; axis >= 2; --axis) {
        x /= steps[static_cast<std::size_t>(axis)];
    }
    return Value(kAxis0Slot, 0) + x;
}

std::size_t CPlotData::MemoryBytes() const {
    std::size_t bytes = cache_ ? cache_->MemoryBytes() : 0;
    for (const CPlotColumn& column : columns_) {
        bytes += column.MemoryBytes();
    }
    return bytes;
}

void CPlotData::PrepareLoad(std::int64_t records, const std::vector<int>& channels, bool exact) {
    ResetStore();
    std::vector<int> slots = channels;
    slots.insert(slots.end(), {kAxis0Slot, kChannelSignal, kChannelFlopBackground});
    for (int slot : slots) {
        CPlotColumn& column = columns_[static_cast<std::size_t>(slot)];
        if (exact) {
            column = CPlotColumn(S::kDouble);
        }
        column.Grow(records, /*fill=*/false);  // the reader stores every element
    }
}

void CPlotData::FinishLoad(std::int64_t points, std::int32_t serialNumber, std::int32_t unitType,
                           std::int32_t factoryFlag) {
    generation_ = NextGeneration();
    pointCount_ = points;
    serialNumber_ = serialNumber;
    unitType_ = unitType;
    factoryFlag_ = factoryFlag;
    const double t0 = columns_[kAxis0Slot].At(0);
    const CScopedCLocale numbers;
    for (std::size_t axis = 1; axis < kPlotTimeAxes; ++axis) {
        char name[96];
        std::snprintf(name, sizeof name, kLoadedAxisNames[axis], t0);
        names_[kPlotChannelSlots + axis] = name;
    }
}

EPlotStorage CPlotData::ChannelStorage(int number) const {
    if (number < 0 || number >= kPlotChannelSlots) {
        return EPlotStorage::kDouble;
    }
    if (const int channel = CacheChannel(number); channel >= 0) {
        return cache_->Channels()[static_cast<std::size_t>(channel)].storage;
    }
    return columns_[static_cast<std::size_t>(number)].Storage();
}

}  // namespace corvane3
