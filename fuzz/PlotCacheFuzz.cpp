// Arbitrary bytes as a plot cache file: opening it never crashes and never reads outside the
// file; a cache it accepts answers every query without crashing, and a damaged block only
// reads as absent. So that inputs get past the hashes to the bounds checks and the decoder,
// the target first reseals an input that starts like a cache: the telemetry file's identity
// and fingerprint, the hashes of the blocks the index points at, of the metadata and of the
// header are set as a writer would set them.

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "core/plot/PlotCache.h"
#include "core/plot/PlotCacheFormat.h"

using namespace corvane3;

namespace {

constexpr std::uint64_t kSourceBytes = 4096;

// The telemetry file every input stands for.
int SourceFd() {
    static const int fd = [] {
        const int made = ::memfd_create("source", MFD_CLOEXEC);
        FUZZ_CHECK(made >= 0);
        const std::string text(kSourceBytes, 'x');
        FUZZ_CHECK(::write(made, text.data(), text.size()) == static_cast<ssize_t>(text.size()));
        return made;
    }();
    return fd;
}

void Reseal(std::vector<std::uint8_t>& bytes) {
    PlotCacheHeader header;
    if (bytes.size() < sizeof header) {
        return;
    }
    std::memcpy(&header, bytes.data(), sizeof header);
    if (std::memcmp(header.magic, kPlotCacheMagic, sizeof header.magic) != 0) {
        return;
    }
    struct stat st {};
    FUZZ_CHECK(::fstat(SourceFd(), &st) == 0);
    header.source.device = static_cast<std::uint64_t>(st.st_dev);
    header.source.inode = static_cast<std::uint64_t>(st.st_ino);
    header.source.coveredBytes %= kSourceBytes + 1;
    FUZZ_CHECK(SourceSampleHash(SourceFd(), header.source.coveredBytes, header.source.sampleHash));
    const std::uint64_t size = bytes.size();
    const std::uint64_t channels = header.channelCount;
    if (header.metaOffset <= size && header.metaBytes <= size - header.metaOffset && channels > 0 &&
        channels <= kPlotCacheMaxChannels && header.blockRecords > 0 &&
        header.recordCount <= kPlotCacheMaxRecords && header.dataOffset <= size &&
        header.dataBytes <= size - header.dataOffset) {
        std::uint8_t* meta = bytes.data() + header.metaOffset;
        const std::uint64_t blocks =
            (header.recordCount + header.blockRecords - 1) / header.blockRecords;
        const std::uint64_t indexOffset = channels * 8;
        for (std::uint64_t k = 0; k < blocks * channels; ++k) {
            const std::uint64_t at = indexOffset + k * sizeof(PlotCacheBlockEntry);
            if (at + sizeof(PlotCacheBlockEntry) > header.metaBytes) {
                break;
            }
            PlotCacheBlockEntry entry;
            std::memcpy(&entry, meta + at, sizeof entry);
            if (entry.offset <= header.dataBytes &&
                entry.bytes <= header.dataBytes - entry.offset) {
                entry.hash =
                    PlotCacheHash(bytes.data() + header.dataOffset + entry.offset, entry.bytes);
                std::memcpy(meta + at, &entry, sizeof entry);
            }
        }
        header.metaHash = PlotCacheHash(meta, header.metaBytes);
    }
    header.headerHash = PlotCacheHash(&header, offsetof(PlotCacheHeader, headerHash));
    std::memcpy(bytes.data(), &header, sizeof header);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> bytes(data, data + size);
    Reseal(bytes);
    const int fd = ::memfd_create("cache", MFD_CLOEXEC);
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(::write(fd, bytes.data(), size) == static_cast<ssize_t>(size));
    const std::string cachePath = "/proc/self/fd/" + std::to_string(fd);
    CPlotCache cache;
    const PlotCacheOpenResult result =
        cache.Open(cachePath, "/proc/self/fd/" + std::to_string(SourceFd()));
    if (result.status == EPlotCacheOpen::kValid) {
        const std::int64_t n = cache.RecordCount();
        FUZZ_CHECK(result.records == n);
        std::vector<double> values(static_cast<std::size_t>(std::min<std::int64_t>(n, 1 << 16)));
        for (int c = 0; c < static_cast<int>(cache.Channels().size()); ++c) {
            FUZZ_CHECK(cache.Values(c, 0, static_cast<std::int64_t>(values.size()), values.data()));
            (void)cache.Range(c, 0, n);
            (void)cache.Statistics(c, n / 3, n);
            (void)cache.FrameColumns(c, 0, n, 17);
            (void)cache.FrameColumnsMjd(c, {59000.0, 60000.0, 60000.5, 70000.0});
        }
        (void)cache.FitDecay(0, n - 1);
        (void)cache.LowerBoundMjd(60000.0);
        const std::vector<double> one(cache.Channels().size(), 1.0);
        std::vector<std::span<const double>> columns;
        for (const double& value : one) {
            columns.emplace_back(&value, 1);
        }
        FUZZ_CHECK(cache.Append(columns));
        FUZZ_CHECK(cache.RecordCount() == n + 1);
    } else {
        FUZZ_CHECK(cache.RecordCount() == 0 && !result.reason.empty());
    }
    ::close(fd);
    return 0;
}
