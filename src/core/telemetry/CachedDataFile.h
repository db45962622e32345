#pragma once
// Loads a telemetry file through its plot cache, for files too long to hold in memory: the
// cache is opened when it is valid and brought up to date by parsing only the bytes the file
// gained since; anything else (missing, stale, damaged, from another layout) makes it be built
// again from the whole file, parsed in pieces on every core. The cache is then written back, so
// that the next open is quick; a cache that cannot be written only makes that open slower.
//
// Runs on the caller's thread until the file is read; the callbacks are called on that thread.
//
//   CachedDataFileResult result = ReadDataFileCached(path, {});
//   if (result.read.status == EDataFileRead::kRead) store.AttachCache(std::move(result.cache),
//   ...);

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/plot/PlotCache.h"
#include "core/telemetry/DataFileReader.h"
#include "core/telemetry/TelemetryChunks.h"

namespace corvane3 {

struct CachedDataFileOptions {
    // Where the cache lives; empty chooses PlotCachePathFor(path).
    std::string cachePath;
    // The identity of a file whose records do not tell it (as the store's own).
    TelemetryIdentity defaults;
    // As DataFileReadOptions.
    std::atomic<std::int32_t>* instrumentModel = nullptr;
    std::function<void(const std::string& text, std::int64_t total)> started;
    std::function<void(std::int64_t done, std::int64_t total)> progress;
    int threads = 0;  // 0 chooses by the machine
    // Channels (store slots) the first frame will draw: the cache prepares them on the reading
    // thread (CPlotCache::PrepareChannel), not on the thread that draws.
    std::vector<int> shownSlots;
    // Given, a cache that is built from the whole file is preceded by one of the MJD and the
    // shown slots alone, parsed by their columns and handed here before the other channels are
    // read, so that a long file is drawn sooner. Called on the reading thread, once at most.
    std::function<void(std::unique_ptr<CPlotCache> shown, const TelemetryIdentity& identity)>
        preview;
    // Set, the read stops at the next piece: cancelled is set and nothing is written.
    const std::atomic<bool>* cancel = nullptr;
};

struct CachedDataFileResult {
    // Status and texts as ReadDataFile gives them for the same file.
    DataFileReadResult read;
    // The file's records (with status kRead); the MJDs may step back (see MjdSteps).
    std::unique_ptr<CPlotCache> cache;
    TelemetryIdentity identity;
    // How the cache on disk was found, and why it was not used when it was not.
    EPlotCacheOpen found = EPlotCacheOpen::kMissing;
    std::string foundReason;
    // Records parsed from the file in this load (all of them when the cache was rebuilt).
    std::int64_t parsedRecords = 0;
    // Why the cache could not be written ("Plot cache not written: ..."); empty when it was, or
    // when nothing had to be written.
    std::string writeMessage;
    // The read stopped because options.cancel was set.
    bool cancelled = false;
};

CachedDataFileResult ReadDataFileCached(const std::string& path,
                                        const CachedDataFileOptions& options = {});

}  // namespace corvane3
