#pragma once
// The plot cache of one telemetry file: its channels as compressed column blocks plus summaries
// per block (count, extremes, double-double sums and sums of squares, the decay fit's sums) and
// min/max per leaf of a few hundred records, so that a frame's pixel columns, the statistics of a
// view and the decay fit over any range cost O(columns x log N) and a few block decodings, not a
// pass over N records. The file is memory-mapped; only the blocks a query needs are decompressed,
// into a small bounded cache of decoded blocks.
//
// A cache is never trusted blindly: Open checks the layout version, every offset and length
// against the file's size, hashes of the header and metadata (and of each block before it is
// decompressed), and that the telemetry file is the same file whose covered bytes still hold
// what they held. Anything else gives a reason and the caller rebuilds.
//
//   CPlotCache cache;
//   PlotCacheOpenResult opened = cache.Open(PlotCachePathFor(csd), csd);
//   if (opened.status != EPlotCacheOpen::kValid) {
//       cache.Reset(channels);          // and feed it every record of the file
//   }
//   cache.Append(columns);              // records after opened.coveredBytes
//   cache.SetCoveredBytes(parsedUpTo);
//   cache.Write(PlotCachePathFor(csd), csd);   // a failure only means no cache next time
//   ChannelStatistics view = cache.Statistics(cache.ChannelIndex(4), first, end);
//
// One cache is used on one thread (queries fill the decoded-block cache).
//
// By job: PlotCache.cpp builds (Reset, Append, sealing blocks, the decoded-block cache),
// PlotCacheQueries.cpp answers the queries, PlotCacheSpill.cpp finds a block's bytes (held,
// spilled or mapped) and spills them while building, PlotCacheWrite.cpp writes the file and
// PlotCacheLoad.cpp opens, checks and maps it. The block codec is PlotCacheCodec; the metadata's
// field lists are in PlotCacheLayout.h.

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/plot/BlockSummary.h"
#include "core/plot/PlotCacheCodec.h"
#include "core/plot/PlotCacheDamage.h"
#include "core/plot/PlotCacheFormat.h"
#include "core/plot/PlotCacheLayout.h"
#include "core/plot/PlotData.h"
#include "core/plot/Statistics.h"
#include "core/plot/SumPyramid.h"
#include "core/plot/ValueRange.h"

namespace corvane3 {

// One cached channel: a CPlotData slot (channel number, or CPlotData::kAxis0Slot for the MJD)
// and the storage its values usually fit. A block whose values do not fit is kept as doubles.
struct PlotCacheChannel {
    int slot = 0;
    EPlotStorage storage = EPlotStorage::kDouble;
    bool operator==(const PlotCacheChannel&) const = default;
};

struct PlotCacheOptions {
    // Records per compressed block: a range's two ragged ends decode and scan at most this many.
    std::int64_t blockRecords = std::int64_t{1} << 14;
    std::int64_t leafRecords = 256;  // records per min/max leaf; divides blockRecords
    int compressionLevel = 1;  // Zstandard fastest: much the size of its default, built sooner
    std::size_t decodedBlocks = 256;  // decoded blocks kept for queries (32 MiB at most)
};

enum class EPlotCacheOpen {
    kValid,          // records 0..RecordCount()-1 are the first coveredBytes of the file
    kMissing,        // no cache file
    kStale,          // the telemetry file was replaced, truncated or changed
    kOtherVersion,   // written by another layout version
    kCorrupt,        // damaged, truncated or not a cache file
    kSourceMissing,  // the telemetry file cannot be read
};

struct PlotCacheOpenResult {
    EPlotCacheOpen status = EPlotCacheOpen::kMissing;
    std::string reason;  // for a log line; empty when valid
    std::uint64_t coveredBytes = 0;
    std::int64_t records = 0;
};

struct PlotCacheWriteResult {
    bool written = false;
    std::string message;  // why not, with the path: "Plot cache not written: ..."
};

class CPlotCache {
  public:
    explicit CPlotCache(PlotCacheOptions options = {});
    ~CPlotCache();
    CPlotCache(const CPlotCache&) = delete;
    CPlotCache& operator=(const CPlotCache&) = delete;

    // Starts an empty cache for these channels (at most kPlotCacheMaxChannels, slots distinct).
    // The decay sums are kept when both the MJD (axis 0 slot) and the Signal channel are among
    // them. False, leaving the cache empty with no channels, when the list is not acceptable.
    bool Reset(const std::vector<PlotCacheChannel>& channels);

    // Maps the cache file and checks it against the telemetry file. On any status but kValid
    // the cache is left empty (as after Reset with no channels). Never throws.
    // checkBlocks false leaves the blocks' hashes to be checked as they are decoded: for a
    // cache this program has just written itself.
    PlotCacheOpenResult Open(const std::string& cachePath, const std::string& sourcePath,
                             bool checkBlocks = true);

    // Appends records: columns[c][i] is channel c's value of record i (channel order as given to
    // Reset), NaN for an absent value; every span has the same length. False, appending nothing,
    // when the count of columns or their lengths differ. Amortised O(channels) per record.
    bool Append(std::span<const std::span<const double>> columns);
    // How many bytes of the telemetry file the records appended so far stand for.
    void SetCoveredBytes(std::uint64_t bytes) { coveredBytes_ = bytes; }
    std::uint64_t CoveredBytes() const { return coveredBytes_; }

    // Writes the blocks sealed from now on to a new cache file for cachePath as they are made,
    // instead of holding them in memory, so that building a cache of any size takes little
    // memory; Write(cachePath, ...) then finishes that file. False, holding the blocks as
    // before, when the file cannot be made.
    bool SpillTo(const std::string& cachePath);

    // Writes the cache to cachePath (the folder is made when missing). The telemetry file at
    // sourcePath is fingerprinted for CoveredBytes(). A new file is written beside it and renamed
    // into place, except that a cache opened from cachePath is brought up to date in place: its
    // blocks stay where they are and only the new ones and the summaries are written (the header
    // last, so that a write cut short reads as damaged). A folder that cannot be written, a full
    // disk or a path that is not a regular file gives written false and a message; the cache in
    // memory stays usable.
    PlotCacheWriteResult Write(const std::string& cachePath, const std::string& sourcePath);

    std::int64_t RecordCount() const { return records_; }
    const std::vector<PlotCacheChannel>& Channels() const { return channels_; }
    // The index of the channel for this slot, or -1.
    int ChannelIndex(int slot) const;
    // True while no record's MJD is below the one before it (the PC's clock was never set
    // back). The searches by MJD work either way: the records stay in file order, and the
    // stretches between the steps back, each in order, are searched one by one.
    bool MjdOrdered() const { return runs_.size() <= 1; }
    // The records where the MJD steps back below the one before it, in file order.
    std::vector<std::int64_t> MjdSteps() const;
    // True once a block or the leaves could not be read during a query; their values then
    // read as absent. The caller should rebuild the cache. DamageCode and DamageText tell the
    // first cause.
    bool Damaged() const { return damage_ != EPlotCacheDamage::kNone; }
    EPlotCacheDamage DamageCode() const { return damage_; }
    const char* DamageText() const { return PlotCacheDamageText(damage_); }

    // Reads the channel's leaf ranges, builds their sums and finds the ranges at the ends of the
    // MJD runs now, so that the first frame that draws it decodes no blocks for them: a long
    // file's loading thread does it for the channels a window shows.
    void PrepareChannel(int channel) const;
    // Values of records first..end-1 into out (end - first elements); false when the range is
    // outside the records or the channel unknown.
    bool Values(int channel, std::int64_t first, std::int64_t end, double* out) const;
    // Min and max of a channel over records [first, end), absent values skipped.
    ValueRange Range(int channel, std::int64_t first, std::int64_t end) const;
    // One frame: records [first, end) split into columns equal record stretches, each reduced to
    // its min and max. Exact when the stretch spans at most a few blocks; otherwise the inner
    // borders between columns are moved to the nearest leaf border (a point is then drawn at
    // most one leaf, a fraction of a column, from its exact column). Each column costs
    // O(log N); only the two outer ends decode blocks.
    std::vector<ValueRange> FrameColumns(int channel, std::int64_t first, std::int64_t end,
                                         int columns) const;
    // One frame by time: column c holds the records with edges[c] <= MJD < edges[c+1] (edges
    // ascending; edges.size() - 1 columns). The outer borders are exact; when the frame holds
    // more than a few blocks of records (in all the runs it reaches), the inner ones of a run
    // with at least two leaves a column are found among the leaves and fall on the start of
    // the leaf that holds them. O(columns x log N) for each stretch of ordered MJDs that
    // reaches into the frame; empty without an MJD channel.
    // spans, when given, gets for each column the first record in it and the end of its last
    // (first == end when it holds none); where the clock stepped back, records of other
    // columns may lie between.
    struct RecordSpan {
        std::int64_t first = 0;
        std::int64_t end = 0;
    };
    std::vector<ValueRange> FrameColumnsMjd(int channel, const std::vector<double>& edges,
                                            std::vector<RecordSpan>* spans = nullptr) const;
    // As ComputeStatistics over records [first, end).
    ChannelStatistics Statistics(int channel, std::int64_t first, std::int64_t end) const;
    // The first record whose MJD is not below mjd (RecordCount() when none), as a pass from the
    // first record would find it; -1 without an MJD channel. For ordered MJDs a time range's
    // statistics are Statistics(c, LowerBoundMjd(from), LowerBoundMjd(to)). A block or two
    // decoded.
    std::int64_t LowerBoundMjd(double mjd) const;
    // As FitDecay over records first..last (inclusive) with days = MJD - first record's MJD.
    DecayFit FitDecay(std::int64_t first, std::int64_t last) const;
    // Per block (the last, partly filled one included), the records where both the MJD and
    // the channel hold a value: the two channels' summaries over just those records. Blocks
    // where both are complete come from the stored summaries, blocks where either has no
    // value at all are empty; only a block where one of them lacks some values is decoded to
    // pair the records. Empty without an MJD channel or for an unknown channel.
    struct PairedBlock {
        BlockSummary mjd;
        BlockSummary value;
    };
    std::vector<PairedBlock> PairedBlocks(int channel) const;
    // How many blocks the queries have decompressed so far: what a frame or PrepareChannel cost.
    std::int64_t BlocksDecoded() const { return blocksDecoded_; }
    // Bytes the cache holds in memory besides the mapped file (summaries, leaves, decoded blocks).
    std::size_t MemoryBytes() const;

  private:
    struct SealedBlock {
        PlotCacheBlockEntry entry;
        std::string owned;     // compressed bytes made in this run and held
        bool spilled = false;  // written to the spill file at entry.offset, not held
        bool Mapped() const { return owned.empty() && !spilled; }
    };
    struct Decoded {
        std::int64_t block;
        int channel;
        std::vector<double> values;
    };

    void Clear();
    std::int64_t BlockCount() const;
    std::int64_t BlockLength(std::int64_t block) const;
    // Calls work(channel, compressor) for every channel, on several threads when threaded
    // (each with a compressor of its own).
    void ForEachChannel(bool threaded,
                        const std::function<void(std::size_t, CBlockCompressor&)>& work);
    CBlockCompressor& CompressorFor(std::size_t worker);
    // Channel c's tail block compressed, the tail left as it is.
    SealedBlock Seal(std::size_t c, CBlockCompressor& compressor) const;
    // Seals channel c's full tail block and starts the next.
    void SealChannel(std::size_t c, CBlockCompressor& compressor);
    EPlotCacheDamage Decompress(const SealedBlock& block, std::int64_t length,
                                std::vector<double>& out) const;
    // Keeps the first cause of damage.
    void NoteDamage(EPlotCacheDamage damage) const;
    // The decoded values of one block (the tail's included); null when damaged.
    const std::vector<double>* Block(int channel, std::int64_t block) const;
    template <typename Visit>
    void ForEachValue(int channel, std::int64_t first, std::int64_t end, Visit&& visit) const;
    CSumPyramid<ValueRange>& Leaves(int channel) const;
    std::int64_t RunEnd(std::size_t run) const;
    double MjdAt(std::int64_t record) const;
    // LowerBoundMjd within records [first, end), whose MJDs do not decrease.
    std::int64_t LowerBoundIn(std::int64_t first, std::int64_t end, double mjd) const;
    // Range over [first, end) within run: the partial leaves at the run's two ends, which a
    // frame over many runs would otherwise decode again and again, are taken once and kept.
    ValueRange RangeInRun(int channel, std::size_t run, std::int64_t first,
                          std::int64_t end) const;
    // LowerBoundIn within the run's records [first, end), with no search for an MJD outside the
    // run's times.
    std::int64_t LowerBoundInRun(std::size_t run, std::int64_t first, std::int64_t end,
                                 double mjd) const;
    // Whether the run's times reach into the frame, and which of its records lie in it.
    bool RunInFrame(const std::vector<double>& edges, std::size_t run) const;
    RecordSpan RunSpanInFrame(const std::vector<double>& edges, std::size_t run) const;
    // The record index where each column of a frame by time starts within run's records, and
    // the end; kept for the panes that follow with the same edges.
    const std::vector<std::int64_t>& FrameBorders(const std::vector<double>& edges,
                                                  std::size_t run) const;
    std::string_view BlockBytes(const SealedBlock& block) const;
    // Writes the blocks sealed since the last call to the spill file.
    void FlushSealed();
    void CloseSpill();
    // The header of a file of this cache, without the source's fingerprint and the sections.
    PlotCacheHeader NewHeader() const;
    // The metadata after the index: false on a write error, errno telling why.
    bool WriteMetadata(CPlotCacheSectionWriter& meta, std::string_view index) const;
    PlotCacheOpenResult Load(const std::string& cachePath, const std::string& sourcePath,
                             bool checkBlocks);
    // The channels, block index, summaries and MJD runs of the mapped file, whose header was
    // checked.
    PlotCacheOpenResult LoadMetadata(const PlotCacheHeader& header, bool checkBlocks);
    PlotCacheOpenResult LoadBlockIndex(const PlotCacheHeader& header, const std::uint8_t* index,
                                       bool checkBlocks);
    void Unmap();

    PlotCacheOptions options_;
    std::vector<PlotCacheChannel> channels_;
    int timeIndex_ = -1;
    int decayIndex_ = -1;
    double firstMjd_ = 0.0;
    // The stretches of ordered MJDs, in file order (one while the clock never stepped back).
    std::vector<PlotCacheMjdRun> runs_;
    std::int64_t records_ = 0;
    std::uint64_t coveredBytes_ = 0;

    // Per channel: sealed blocks, then the records after the last sealed block, decoded.
    std::vector<std::vector<SealedBlock>> sealed_;
    std::vector<std::vector<double>> tail_;
    // Per channel: the sums of the tail block so far; the decay sums likewise.
    std::vector<CBlockAccumulator> accumulators_;
    CDecayAccumulator decayAccumulator_;
    // Per channel: a summary per block (the tail's included); the decay sums per block.
    std::vector<CSumPyramid<BlockSummary>> summaries_;
    CSumPyramid<DecaySums> decay_;
    // Per channel: min/max per leaf, taken from the mapped file when first needed.
    mutable std::vector<std::unique_ptr<CSumPyramid<ValueRange>>> leaves_;

    // The file blocks are spilled to while a cache is built (see SpillTo); kept open for reading
    // them back until the cache is cleared.
    int spillFd_ = -1;
    std::string spillPath_;       // its temporary name, on a file system without unnamed files
    std::string spillTarget_;     // the cache path it becomes
    std::uint64_t spillEnd_ = 0;  // bytes of its data section written
    std::int64_t flushedBlocks_ = 0;
    bool spillFailed_ = false;
    mutable std::string spillScratch_;

    // Sets the lock on the mapped file (F_RDLCK, F_WRLCK, F_UNLCK), waiting for it. Windows
    // and programs that have one cache file open read it under the read lock, and bring it up
    // to date in place under the write lock. False when it cannot be had.
    bool LockMapped(short type) const;
    // The header the mapped file has now; false when it cannot be read or is damaged.
    bool CurrentHeader(PlotCacheHeader& header) const;
    // Channel's leaves from the mapped file, where another cache of the same file may have
    // moved them since it was opened (by bringing it up to date in place).
    std::vector<ValueRange> MappedLeaves(int channel) const;

    // The mapped cache file, the path it was opened from, and the hash of its header as this
    // cache opened or last wrote it. It stays open for reading while mapped.
    int mappedFd_ = -1;
    std::uint64_t mappedHeaderHash_ = 0;
    std::string mappedPath_;
    std::uint64_t mappedInode_ = 0;
    const std::uint8_t* map_ = nullptr;
    std::size_t mapBytes_ = 0;
    std::uint64_t dataOffset_ = 0;
    std::uint64_t leafOffset_ = 0;  // of channel 0's leaves in the map

    // One compressor for each sealing thread; the decompressor for queries.
    std::vector<std::unique_ptr<CBlockCompressor>> compressors_;
    std::unique_ptr<CBlockDecompressor> decompressor_;
    // Per run and channel: the range of the run's first and last partial leaf (see RangeInRun),
    // [run's first, headEnd) and [tailFirst, run's end).
    struct RunEnds {
        bool known = false;
        std::int64_t headEnd = 0;
        std::int64_t tailFirst = 0;
        ValueRange head;
        ValueRange tail;
    };
    // The partial leaves at both ends of a run that is not the last, found once and kept.
    const RunEnds& EndsOfRun(int channel, std::size_t run) const;
    mutable std::vector<std::vector<RunEnds>> runEnds_;
    // The last frame's edges and the borders found in each run (see FrameBorders).
    mutable std::vector<double> frameEdges_;
    mutable std::vector<std::vector<std::int64_t>> frameBorders_;
    mutable std::int64_t frameRecords_ = -1;
    mutable bool frameExact_ = true;  // the last frame's borders are all exact
    mutable std::list<Decoded> decoded_;  // most recently used first
    // Where each decoded block is in decoded_, by block * kPlotCacheMaxChannels + channel.
    mutable std::unordered_map<std::uint64_t, std::list<Decoded>::iterator> decodedIndex_;
    mutable EPlotCacheDamage damage_ = EPlotCacheDamage::kNone;
    mutable std::int64_t blocksDecoded_ = 0;
};

// The text for a status, for messages: "valid", "missing", "stale", ...
const char* PlotCacheOpenText(EPlotCacheOpen status);

}  // namespace corvane3
