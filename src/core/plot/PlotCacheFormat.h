#pragma once
// The plot cache file, byte by byte (little-endian, every section 8-byte aligned):
//
//   header      PlotCacheHeader, its last field a hash of the fields before it
//   data        dataBytes at dataOffset (right after the header): the compressed column blocks,
//               each with its own hash, in the order they were written
//   metadata    metaBytes at metaOffset (right after the data), hashed as a whole (metaHash):
//                 channels        channelCount x {int32 slot, uint32 storage (EPlotStorage)}
//                 block index     blockCount x channelCount x BlockEntry
//                 summaries       blockCount x channelCount x 7 words (count, min, max,
//                                 sum hi/lo, sum of squares hi/lo)
//                 decay sums      blockCount x 11 words (count, day min/max, x, y, xx, xy hi/lo)
//                 leaves          channelCount x leafCount x {min, max}
//                 MJD runs        runCount x {first record, earliest MJD, latest MJD}: the
//                                 stretches of records whose MJDs do not decrease, in order
//   (bytes after the metadata are not read: a cache brought up to date in place never shrinks,
//   so that another program that has it mapped never reads past its end)
//
// A block is blockRecords records of one channel (the last block may be shorter): the values'
// bit patterns (int32, float or double words, chosen per block as the values allow), each XORed
// with the one before it, bytes regrouped by significance, then compressed with Zstandard.
// Everything the counts imply is checked against the file's size before anything is read.
// The metadata records are written and read through the field lists of PlotCacheLayout.h.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace corvane3 {

inline constexpr char kPlotCacheMagic[8] = {'C', 'V', '3', 'P', 'L', 'O', 'T', '\n'};
// Raised whenever the layout or the meaning of a field changes; another version is rebuilt.
inline constexpr std::uint32_t kPlotCacheVersion = 5;

// Where the source file stood when the cache was written, and a fingerprint of the bytes the
// cache covers: an append-only file that only grew keeps all of these for its old part.
struct PlotCacheSource {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t coveredBytes = 0;  // the records cached end here (after a line end)
    std::int64_t mtimeNs = 0;        // must not differ while the file has not grown since
    std::uint64_t sampleHash = 0;    // see SourceSampleHash
};

struct PlotCacheHeader {
    char magic[8];
    std::uint32_t version;
    std::uint32_t headerBytes;
    std::uint32_t channelCount;
    std::uint32_t blockRecords;
    std::uint32_t leafRecords;
    std::int32_t timeIndex;   // the channel holding the MJD, or -1
    std::int32_t decayIndex;  // the channel the decay sums are kept for, or -1
    std::uint32_t flags;      // none defined yet: 0
    std::uint64_t recordCount;
    std::uint64_t runCount;  // stretches of ordered MJDs (more than one: the clock stepped back)
    PlotCacheSource source;
    double firstMjd;  // days of the decay fit count from the first record's MJD
    std::uint64_t metaOffset;
    std::uint64_t metaBytes;
    std::uint64_t metaHash;
    std::uint64_t dataOffset;
    std::uint64_t dataBytes;
    std::uint64_t headerHash;  // of every byte above
};
static_assert(sizeof(PlotCacheHeader) % 8 == 0);

// One compressed block of one channel.
struct PlotCacheBlockEntry {
    std::uint64_t offset;   // from dataOffset
    std::uint32_t bytes;    // compressed size
    std::uint8_t encoding;  // EPlotStorage of the words
    std::uint8_t reserved[3];
    std::uint64_t hash;  // of the compressed bytes
};
static_assert(sizeof(PlotCacheBlockEntry) == 24);

inline constexpr std::uint64_t kPlotCacheSummaryWords = 7;
inline constexpr std::uint64_t kPlotCacheDecayWords = 11;
inline constexpr std::uint64_t kPlotCacheRunWords = 3;

// Bounds a file must keep to be read at all (a header that claims more is corrupt).
inline constexpr std::uint32_t kPlotCacheMaxChannels = 128;
inline constexpr std::uint32_t kPlotCacheMaxBlockRecords = std::uint32_t{1} << 22;
inline constexpr std::uint64_t kPlotCacheMaxRecords = std::uint64_t{1} << 40;

// XXH3 (64 bits) of the bytes.
std::uint64_t PlotCacheHash(const void* data, std::size_t bytes);

// Writes a section of a cache file from offset on through a small buffer, and hashes it as
// PlotCacheHash hashes it whole: the metadata of a decade (about 100 MB) is never held.
class CPlotCacheSectionWriter {
  public:
    CPlotCacheSectionWriter(int fd, std::uint64_t offset);
    ~CPlotCacheSectionWriter();
    CPlotCacheSectionWriter(const CPlotCacheSectionWriter&) = delete;
    CPlotCacheSectionWriter& operator=(const CPlotCacheSectionWriter&) = delete;

    template <typename T>
    void Put(const T& value) {
        Append(&value, sizeof value);
    }
    void Append(const void* data, std::size_t bytes);
    // Writes what is still buffered. False on a write error, with errno telling why.
    bool Finish();
    std::uint64_t Bytes() const { return bytes_; }
    std::uint64_t Hash() const;

  private:
    bool Flush();

    struct State;
    int fd_;
    std::uint64_t offset_;  // where the buffered bytes go
    std::uint64_t bytes_ = 0;
    std::vector<char> buffer_;
    std::size_t used_ = 0;
    std::unique_ptr<State> state_;
    bool failed_ = false;
    int error_ = 0;
};

// A fingerprint of the first coveredBytes of the open file fd: its first and last 64 KiB and
// 64 pieces of 4 KiB spread evenly between them, hashed with their count. It reads at most about
// 400 KiB whatever the file's size, so checking a 7 GB file costs a few milliseconds; a file
// rewritten in place with the same size is caught when any sampled byte differs (a changed
// header line or recent records always are). False when the file is shorter than coveredBytes
// or cannot be read.
bool SourceSampleHash(int fd, std::uint64_t coveredBytes, std::uint64_t& hash);

// The cache file for the telemetry file at sourcePath: in $XDG_CACHE_HOME/corvane3/ (by default
// ~/.cache/corvane3/), named by a hash of the file's canonical path. Empty when no folder can be
// named (neither variable set).
std::string PlotCachePathFor(const std::string& sourcePath);

}  // namespace corvane3
