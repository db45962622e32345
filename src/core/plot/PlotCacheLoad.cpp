// CPlotCache: opening a cache file, checking it against itself and the telemetry file, mapping it,
// and reading its leaves from the map.

#include "core/plot/PlotCache.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "core/base/RegularFile.h"

namespace corvane3 {

namespace {

// The cache file for reading and, where it may be written, writing (a write lock needs that);
// -1 with the reason and its error number when it cannot be opened.
int OpenCacheFile(const std::string& path, std::string& reason, int& error) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0) {
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
            return fd;
        }
        ::close(fd);
    }
    return OpenRegularFile(path, reason, error);
}

PlotCacheOpenResult Refused(EPlotCacheOpen status, std::string reason) {
    PlotCacheOpenResult result;
    result.status = status;
    result.reason = std::move(reason);
    return result;
}

const PlotCacheOpenResult kAccepted{EPlotCacheOpen::kValid, {}, 0, 0};

// Whether the header, read from a file of size bytes whose start is at map, is one this program
// wrote and its counts fit the file.
PlotCacheOpenResult CheckHeader(const PlotCacheHeader& header, const std::uint8_t* map,
                                std::uint64_t size) {
    if (std::memcmp(header.magic, kPlotCacheMagic, sizeof header.magic) != 0) {
        return Refused(EPlotCacheOpen::kCorrupt, "not a plot cache");
    }
    if (header.version != kPlotCacheVersion) {
        return Refused(EPlotCacheOpen::kOtherVersion, "layout version " +
                                                          std::to_string(header.version) +
                                                          ", not " +
                                                          std::to_string(kPlotCacheVersion));
    }
    if (header.headerBytes != sizeof header ||
        PlotCacheHash(map, offsetof(PlotCacheHeader, headerHash)) != header.headerHash) {
        return Refused(EPlotCacheOpen::kCorrupt, "header damaged");
    }
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
        return Refused(EPlotCacheOpen::kCorrupt, "header out of bounds");
    }
    const PlotCacheMetaLayout layout = LayoutOf(header);
    if (header.dataOffset != sizeof header || header.dataBytes > size - header.dataOffset ||
        header.metaOffset != header.dataOffset + header.dataBytes ||
        header.metaBytes != layout.Total() || header.metaBytes > size - header.metaOffset) {
        return Refused(EPlotCacheOpen::kCorrupt, "sizes do not match the file (truncated?)");
    }
    if (PlotCacheHash(map + header.metaOffset, header.metaBytes) != header.metaHash) {
        return Refused(EPlotCacheOpen::kCorrupt, "summaries damaged");
    }
    return kAccepted;
}

// Whether the telemetry file is the same file, at least as long, its covered bytes unchanged.
PlotCacheOpenResult CheckSource(const PlotCacheSource& cached, const std::string& sourcePath) {
    std::string reason;
    const int source = OpenRegularFile(sourcePath, reason);
    if (source < 0) {
        return Refused(EPlotCacheOpen::kSourceMissing, sourcePath + ": " + reason);
    }
    struct stat now {};
    std::uint64_t hash = 0;
    const bool statted = ::fstat(source, &now) == 0;
    const bool sameFile = statted && static_cast<std::uint64_t>(now.st_dev) == cached.device &&
                          static_cast<std::uint64_t>(now.st_ino) == cached.inode;
    const bool longEnough =
        statted && static_cast<std::uint64_t>(now.st_size) >= cached.coveredBytes;
    // A file that did not grow but was written to since has been rewritten in place; the
    // samples might miss where.
    const bool rewritten = statted &&
                           static_cast<std::uint64_t>(now.st_size) == cached.coveredBytes &&
                           PlotCacheMtimeNs(now) != cached.mtimeNs;
    const bool sameBytes = sameFile && longEnough && !rewritten &&
                           SourceSampleHash(source, cached.coveredBytes, hash) &&
                           hash == cached.sampleHash;
    ::close(source);
    if (!sameFile) {
        return Refused(EPlotCacheOpen::kStale, "the telemetry file was replaced");
    }
    if (!longEnough) {
        return Refused(EPlotCacheOpen::kStale, "the telemetry file was truncated");
    }
    if (rewritten) {
        return Refused(EPlotCacheOpen::kStale, "the telemetry file was rewritten");
    }
    if (!sameBytes) {
        return Refused(EPlotCacheOpen::kStale, "the telemetry file's recorded part changed");
    }
    return kAccepted;
}

}  // namespace

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
    std::string reason;
    int error = 0;
    const int fd = OpenCacheFile(cachePath, reason, error);
    if (fd < 0) {
        return Refused(error == ENOENT ? EPlotCacheOpen::kMissing : EPlotCacheOpen::kCorrupt,
                       reason);
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
        return Refused(EPlotCacheOpen::kCorrupt, "shorter than a header");
    }
    mapBytes_ = static_cast<std::size_t>(st.st_size);
    void* map = ::mmap(nullptr, mapBytes_, PROT_READ, MAP_PRIVATE, fd, 0);
    if (map == MAP_FAILED) {
        mapBytes_ = 0;
        return Refused(EPlotCacheOpen::kCorrupt,
                       std::string("cannot be mapped: ") + std::strerror(errno));
    }
    map_ = static_cast<const std::uint8_t*>(map);
    mappedPath_ = cachePath;
    mappedInode_ = static_cast<std::uint64_t>(st.st_ino);

    PlotCacheHeader header;
    std::memcpy(&header, map_, sizeof header);
    if (PlotCacheOpenResult refused = CheckHeader(header, map_, mapBytes_);
        refused.status != EPlotCacheOpen::kValid) {
        return refused;
    }
    mappedHeaderHash_ = header.headerHash;
    if (PlotCacheOpenResult refused = CheckSource(header.source, sourcePath);
        refused.status != EPlotCacheOpen::kValid) {
        return refused;
    }
    PlotCacheOpenResult result = LoadMetadata(header, checkBlocks);
    if (result.status == EPlotCacheOpen::kValid) {
        result.coveredBytes = coveredBytes_;
        result.records = records_;
    }
    return result;
}

PlotCacheOpenResult CPlotCache::LoadMetadata(const PlotCacheHeader& header, bool checkBlocks) {
    const std::uint64_t channels = header.channelCount;
    const PlotCacheMetaLayout layout = LayoutOf(header);
    const std::uint8_t* meta = map_ + header.metaOffset;
    std::vector<PlotCacheChannel> list(channels);
    const std::uint8_t* at = meta;
    for (auto& channel : list) {
        const auto stored = LoadRecord<PlotCacheStoredChannel>(at);
        if (stored.storage > static_cast<std::uint32_t>(EPlotStorage::kDouble)) {
            return Refused(EPlotCacheOpen::kCorrupt, "unknown storage");
        }
        channel.slot = stored.slot;
        channel.storage = static_cast<EPlotStorage>(stored.storage);
    }
    // Reset unmaps: keep the mapping across it.
    const std::uint8_t* keptMap = map_;
    const std::size_t keptBytes = mapBytes_;
    const std::uint64_t keptInode = mappedInode_;
    const std::string keptPath = mappedPath_;
    const int keptFd = mappedFd_;
    map_ = nullptr;
    mappedFd_ = -1;
    options_.blockRecords = header.blockRecords;
    options_.leafRecords = header.leafRecords;
    const bool reset = Reset(list);
    map_ = keptMap;
    mappedFd_ = keptFd;
    mapBytes_ = keptBytes;
    mappedPath_ = keptPath;
    mappedInode_ = keptInode;
    if (!reset || timeIndex_ != header.timeIndex || decayIndex_ != header.decayIndex) {
        return Refused(EPlotCacheOpen::kCorrupt, "channel list damaged");
    }
    const auto records = static_cast<std::int64_t>(header.recordCount);
    records_ = records;
    firstMjd_ = header.firstMjd;
    coveredBytes_ = header.source.coveredBytes;
    dataOffset_ = header.dataOffset;

    if (PlotCacheOpenResult refused =
            LoadBlockIndex(header, meta + layout.IndexOffset(), checkBlocks);
        refused.status != EPlotCacheOpen::kValid) {
        return refused;
    }
    const std::int64_t blocks = BlockCount();
    const std::uint8_t* summary = meta + layout.SummariesOffset();
    const std::uint64_t summaryBytes = FileBytes<BlockSummary>();
    for (std::uint64_t c = 0; c < channels; ++c) {
        std::vector<BlockSummary> items(static_cast<std::size_t>(blocks));
        for (std::int64_t b = 0; b < blocks; ++b) {
            // Stored block by block, each block's channels side by side.
            const std::uint8_t* s =
                summary + (static_cast<std::uint64_t>(b) * channels + c) * summaryBytes;
            BlockSummary& item = items[static_cast<std::size_t>(b)];
            item = LoadRecord<BlockSummary>(s);
            if (item.count > static_cast<std::uint64_t>(BlockLength(b))) {
                return Refused(EPlotCacheOpen::kCorrupt, "block summary out of bounds");
            }
        }
        summaries_[c].Assign(std::move(items));
    }
    const std::uint8_t* decay = meta + layout.DecayOffset();
    std::vector<DecaySums> decayItems(static_cast<std::size_t>(blocks));
    for (auto& item : decayItems) {
        item = LoadRecord<DecaySums>(decay);
    }
    decay_.Assign(std::move(decayItems));
    leafOffset_ = header.metaOffset + layout.LeavesOffset();
    for (auto& leaves : leaves_) {
        leaves.reset();  // read from the map when first needed
    }
    const std::uint8_t* run = meta + layout.RunsOffset();
    runs_.resize(header.runCount);
    for (std::size_t r = 0; r < runs_.size(); ++r) {
        PlotCacheMjdRun& item = runs_[r];
        item = LoadRecord<PlotCacheMjdRun>(run);
        // Runs start in order, the first at record 0.
        if (r == 0 ? item.first != 0 : item.first <= runs_[r - 1].first || item.first >= records) {
            return Refused(EPlotCacheOpen::kCorrupt, "MJD runs out of bounds");
        }
    }

    // A last, shorter block goes back to the tail so that appending continues it.
    if (records % options_.blockRecords != 0) {
        const std::int64_t last = blocks - 1;
        for (std::uint64_t c = 0; c < channels; ++c) {
            std::vector<double> values;
            if (Decompress(sealed_[c].back(), BlockLength(last), values) !=
                EPlotCacheDamage::kNone) {
                return Refused(EPlotCacheOpen::kCorrupt, "last block damaged");
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
    return kAccepted;
}

PlotCacheOpenResult CPlotCache::LoadBlockIndex(const PlotCacheHeader& header,
                                               const std::uint8_t* index, bool checkBlocks) {
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
    const std::int64_t blocks = BlockCount();
    for (std::int64_t b = 0; b < blocks; ++b) {
        for (auto& sealed : sealed_) {
            SealedBlock block{};
            std::memcpy(&block.entry, index, sizeof block.entry);
            index += sizeof block.entry;
            if (block.entry.offset > header.dataBytes ||
                block.entry.bytes > header.dataBytes - block.entry.offset ||
                block.entry.encoding > static_cast<std::uint8_t>(EPlotStorage::kDouble)) {
                return Refused(EPlotCacheOpen::kCorrupt, "block index out of bounds");
            }
            // Every block's hash now (a tenth of a second for a decade's cache), so that a
            // damaged block makes the cache rebuilt instead of drawn with a hole.
            if (checkBlocks && PlotCacheHash(map_ + header.dataOffset + block.entry.offset,
                                             block.entry.bytes) != block.entry.hash) {
                return Refused(EPlotCacheOpen::kCorrupt, "block damaged");
            }
            ReleaseReadPages(header.dataOffset + block.entry.offset + block.entry.bytes);
            sealed.push_back(std::move(block));
        }
    }
    return kAccepted;
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


CSumPyramid<ValueRange>& CPlotCache::Leaves(int channel) const {
    auto& leaves = leaves_[static_cast<std::size_t>(channel)];
    if (!leaves) {
        leaves = std::make_unique<CSumPyramid<ValueRange>>();
        leaves->Assign(MappedLeaves(channel));
    }
    return *leaves;
}

std::vector<ValueRange> CPlotCache::MappedLeaves(int channel) const {
    const std::int64_t leafRecords = options_.leafRecords;
    const std::int64_t count = CeilDiv(records_, leafRecords);
    std::vector<ValueRange> items(static_cast<std::size_t>(count));
    const std::uint64_t leafBytes = FileBytes<ValueRange>();
    LockMapped(F_RDLCK);
    PlotCacheHeader now{};
    const bool read = CurrentHeader(now);
    if (read && now.headerHash == mappedHeaderHash_) {
        // As opened, whose bounds Open checked.
        const std::uint8_t* at = map_ + leafOffset_ +
                                 static_cast<std::uint64_t>(channel * count) * leafBytes;
        for (auto& item : items) {
            item = LoadRecord<ValueRange>(at);
        }
    } else if (read && now.channelCount == channels_.size() &&
               now.leafRecords == static_cast<std::uint32_t>(leafRecords) &&
               now.blockRecords == static_cast<std::uint32_t>(options_.blockRecords) &&
               now.recordCount >= static_cast<std::uint64_t>(records_)) {
        // Brought up to date in place by another cache since: the leaves of whole leaves are
        // where its metadata says, the last, shorter one is taken from the tail.
        const auto nowLeaves = static_cast<std::uint64_t>(
            CeilDiv(static_cast<std::int64_t>(now.recordCount), leafRecords));
        const std::int64_t whole = records_ / leafRecords;
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(whole) * leafBytes);
        const std::uint64_t offset = now.metaOffset + LayoutOf(now).LeavesOffset() +
                                     static_cast<std::uint64_t>(channel) * nowLeaves * leafBytes;
        if (::pread(mappedFd_, bytes.data(), bytes.size(), static_cast<off_t>(offset)) !=
            static_cast<ssize_t>(bytes.size())) {
            NoteDamage(EPlotCacheDamage::kLeavesUnreadable);
        }
        const std::uint8_t* at = bytes.data();
        for (std::int64_t l = 0; l < whole; ++l) {
            items[static_cast<std::size_t>(l)] = LoadRecord<ValueRange>(at);
        }
        if (whole < count) {
            const std::vector<double>& tail = tail_[static_cast<std::size_t>(channel)];
            const std::int64_t tailFirst = records_ - static_cast<std::int64_t>(tail.size());
            for (std::int64_t i = whole * leafRecords; i < records_; ++i) {
                items.back().Add(tail[static_cast<std::size_t>(i - tailFirst)]);
            }
        }
    } else {
        // Replaced by something this cache cannot read: rebuilt by the caller.
        NoteDamage(EPlotCacheDamage::kFileReplaced);
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


}  // namespace corvane3
