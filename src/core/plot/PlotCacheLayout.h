#pragma once
// The plot cache file's metadata records, each written and read through ONE list of its fields
// (FileFields), so that the writer and the reader cannot place a field differently; and the
// sizes and offsets of the metadata sections. The byte layout is described in PlotCacheFormat.h.

#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <string_view>
#include <type_traits>

#include "core/plot/BlockSummary.h"
#include "core/plot/PlotCacheFormat.h"
#include "core/plot/ValueRange.h"

namespace corvane3 {

inline constexpr std::uint64_t kPlotCacheWord = 8;

// A stretch of records whose MJDs do not decrease (NaN aside), and its earliest and latest.
struct PlotCacheMjdRun {
    std::int64_t first = 0;
    ValueRange mjd;
};

// One channel as the file lists it; the storage is widened to a word's remaining bytes.
struct PlotCacheStoredChannel {
    std::int32_t slot = 0;
    std::uint32_t storage = 0;
};

// FileFields<R>::Each(record, visit) calls visit on each field of R in file order.
template <typename Record>
struct FileFields;

template <>
struct FileFields<PlotCacheStoredChannel> {
    template <typename R, typename Visit>
    static constexpr void Each(R& r, Visit&& visit) {
        visit(r.slot);
        visit(r.storage);
    }
};

template <>
struct FileFields<DoubleDouble> {  // hi, then lo
    template <typename R, typename Visit>
    static constexpr void Each(R& r, Visit&& visit) {
        visit(r.hi);
        visit(r.lo);
    }
};

template <>
struct FileFields<ValueRange> {
    template <typename R, typename Visit>
    static constexpr void Each(R& r, Visit&& visit) {
        visit(r.min);
        visit(r.max);
    }
};

template <>
struct FileFields<BlockSummary> {
    template <typename R, typename Visit>
    static constexpr void Each(R& r, Visit&& visit) {
        visit(r.count);
        visit(r.range);
        visit(r.sum);
        visit(r.sumOfSquares);
    }
};

template <>
struct FileFields<DecaySums> {
    template <typename R, typename Visit>
    static constexpr void Each(R& r, Visit&& visit) {
        visit(r.count);
        visit(r.days);
        visit(r.x);
        visit(r.y);
        visit(r.xx);
        visit(r.xy);
    }
};

template <>
struct FileFields<PlotCacheMjdRun> {
    template <typename R, typename Visit>
    static constexpr void Each(R& r, Visit&& visit) {
        visit(r.first);
        visit(r.mjd);
    }
};

// Calls visit on each plain word of record (a field that is itself a record is gone into).
template <typename Record, typename Visit>
constexpr void ForEachWord(Record& record, Visit&& visit) {
    if constexpr (std::is_arithmetic_v<std::remove_const_t<Record>>) {
        visit(record);
    } else {
        FileFields<std::remove_const_t<Record>>::Each(
            record, [&](auto& field) { ForEachWord(field, visit); });
    }
}

// The bytes Record takes in the file.
template <typename Record>
constexpr std::uint64_t FileBytes() {
    Record record{};
    std::uint64_t bytes = 0;
    ForEachWord(record, [&](const auto& word) { bytes += sizeof word; });
    return bytes;
}

// Appends record to a section.
template <typename Record>
void PutRecord(CPlotCacheSectionWriter& out, const Record& record) {
    ForEachWord(record, [&](const auto& word) { out.Put(word); });
}

// Reads a record at at (bounds checked by the caller) and moves at past it.
template <typename Record>
Record LoadRecord(const std::uint8_t*& at) {
    Record record{};
    ForEachWord(record, [&](auto& word) {
        std::memcpy(&word, at, sizeof word);
        at += sizeof word;
    });
    return record;
}

// The sizes of the metadata sections for these counts, and where each starts.
struct PlotCacheMetaLayout {
    std::uint64_t channels = 0;
    std::uint64_t index = 0;
    std::uint64_t summaries = 0;
    std::uint64_t decay = 0;
    std::uint64_t leaves = 0;
    std::uint64_t runs = 0;

    PlotCacheMetaLayout(std::uint64_t channelCount, std::uint64_t blocks,
                        std::uint64_t leafCount, std::uint64_t runCount);
    std::uint64_t Total() const { return channels + index + summaries + decay + leaves + runs; }
    // From the start of the metadata.
    std::uint64_t IndexOffset() const { return channels; }
    std::uint64_t SummariesOffset() const { return IndexOffset() + index; }
    std::uint64_t DecayOffset() const { return SummariesOffset() + summaries; }
    std::uint64_t LeavesOffset() const { return DecayOffset() + decay; }
    std::uint64_t RunsOffset() const { return LeavesOffset() + leaves; }
};

// The layout of the metadata a header describes (its counts within bounds).
PlotCacheMetaLayout LayoutOf(const PlotCacheHeader& header);

inline std::int64_t CeilDiv(std::int64_t a, std::int64_t b) {
    return (a + b - 1) / b;
}

inline std::uint64_t RoundUp8(std::uint64_t bytes) {
    return (bytes + 7) / 8 * 8;
}

// The modification time of the telemetry file as the header keeps it.
std::int64_t PlotCacheMtimeNs(const struct stat& st);

// A block's bytes and the zeros up to the next multiple of 8 (a file brought up to date in
// place then holds exactly what a new one would). False on a write error, errno telling why.
bool WritePlotCacheBlockAt(int fd, std::string_view bytes, std::uint64_t offset);

}  // namespace corvane3
