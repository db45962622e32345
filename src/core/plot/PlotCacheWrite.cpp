// CPlotCache: writing the cache file, new or brought up to date in place.

#include "core/plot/PlotCache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "core/base/RegularFile.h"
#include "core/base/UnnamedFile.h"
#include "core/base/WriteWhole.h"

namespace corvane3 {

namespace {

// Fingerprints the first coveredBytes of the telemetry file into source; empty, or why not.
std::string FingerprintSource(const std::string& sourcePath, std::uint64_t coveredBytes,
                              PlotCacheSource& source) {
    std::string reason;
    const int fd = OpenRegularFile(sourcePath, reason);
    if (fd < 0) {
        return "telemetry file " + sourcePath + ": " + reason;
    }
    struct stat st {};
    const bool ok =
        ::fstat(fd, &st) == 0 && SourceSampleHash(fd, coveredBytes, source.sampleHash);
    ::close(fd);
    if (!ok) {
        return "telemetry file " + sourcePath + " is shorter than the records cached";
    }
    source.device = static_cast<std::uint64_t>(st.st_dev);
    source.inode = static_cast<std::uint64_t>(st.st_ino);
    source.coveredBytes = coveredBytes;
    source.mtimeNs = PlotCacheMtimeNs(st);
    return {};
}

}  // namespace

PlotCacheHeader CPlotCache::NewHeader() const {
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
    return header;
}

bool CPlotCache::WriteMetadata(CPlotCacheSectionWriter& meta, std::string_view index) const {
    for (const auto& channel : channels_) {
        PutRecord(meta, PlotCacheStoredChannel{static_cast<std::int32_t>(channel.slot),
                                               static_cast<std::uint32_t>(channel.storage)});
    }
    meta.Append(index.data(), index.size());
    const std::int64_t blocks = BlockCount();
    for (std::int64_t b = 0; b < blocks; ++b) {
        for (const auto& summaries : summaries_) {
            PutRecord(meta, summaries.ItemAt(b));
        }
    }
    for (std::int64_t b = 0; b < blocks; ++b) {
        PutRecord(meta, b < decay_.Size() ? decay_.ItemAt(b) : DecaySums{});
    }
    const std::int64_t leafCount = CeilDiv(records_, options_.leafRecords);
    for (std::size_t c = 0; c < channels_.size(); ++c) {
        const CSumPyramid<ValueRange>& leaves = Leaves(static_cast<int>(c));
        for (std::int64_t l = 0; l < leafCount; ++l) {
            PutRecord(meta, leaves.ItemAt(l));
        }
    }
    for (const PlotCacheMjdRun& run : runs_) {
        PutRecord(meta, run);
    }
    return meta.Finish();
}

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
    PlotCacheHeader header = NewHeader();
    if (const std::string why = FingerprintSource(sourcePath, coveredBytes_, header.source);
        !why.empty()) {
        return fail(why);
    }

    // The tail as the last, shorter block.
    const std::int64_t blocks = BlockCount();
    std::vector<std::vector<SealedBlock>> tailBlocks(channels_.size());
    if (!tail_.empty() && !tail_[0].empty()) {
        for (std::size_t c = 0; c < channels_.size(); ++c) {
            tailBlocks[c].push_back(Seal(c, CompressorFor(0)));
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
                if (!WritePlotCacheBlockAt(fd, bytes, sizeof header + position)) {
                    return abandon(errno);
                }
                position = RoundUp8(position + bytes.size());
            }
            index.append(reinterpret_cast<const char*>(&entry), sizeof entry);
        }
    }
    header.dataOffset = sizeof header;
    header.dataBytes = position;
    header.metaOffset = header.dataOffset + header.dataBytes;
    CPlotCacheSectionWriter meta(fd, header.metaOffset);
    if (!WriteMetadata(meta, index)) {
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

}  // namespace corvane3
