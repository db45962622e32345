#include "core/plot/PlotCacheFormat.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <filesystem>
#include <vector>

#include "core/base/VectorState.h"
#include "core/base/WriteWhole.h"

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace corvane3 {

namespace {
constexpr std::uint64_t kEdgeBytes = 64 * 1024;   // the header line and the latest records
constexpr std::uint64_t kSampleBytes = 4 * 1024;  // one page
constexpr std::uint64_t kSamples = 64;

bool ReadAt(int fd, std::uint64_t offset, std::uint64_t bytes, std::vector<char>& buffer) {
    buffer.resize(bytes);
    std::uint64_t done = 0;
    while (done < bytes) {
        const ssize_t n =
            ::pread(fd, buffer.data() + done, bytes - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::uint64_t>(n);
    }
    return true;
}
}  // namespace

std::uint64_t PlotCacheHash(const void* data, std::size_t bytes) {
    ClearUpperVectorState();  // XXH3's SSE code after the C library's AVX-512 copies
    return XXH3_64bits(data, bytes);
}

struct CPlotCacheSectionWriter::State {
    XXH3_state_t hash;
};

namespace {
constexpr std::size_t kSectionBuffer = std::size_t{1} << 20;
}  // namespace

CPlotCacheSectionWriter::CPlotCacheSectionWriter(int fd, std::uint64_t offset)
    : fd_(fd), offset_(offset), state_(std::make_unique<State>()) {
    XXH3_64bits_reset(&state_->hash);
    buffer_.resize(kSectionBuffer);
}

CPlotCacheSectionWriter::~CPlotCacheSectionWriter() = default;

void CPlotCacheSectionWriter::Append(const void* data, std::size_t bytes) {
    bytes_ += bytes;
    const auto* from = static_cast<const char*>(data);
    while (bytes > 0) {
        if (used_ == buffer_.size()) {
            Flush();
        }
        const std::size_t part = std::min(bytes, buffer_.size() - used_);
        std::memcpy(buffer_.data() + used_, from, part);
        used_ += part;
        from += part;
        bytes -= part;
    }
}

// Hashed a buffer at a time: the hash's own buffering costs more per word than the hashing.
bool CPlotCacheSectionWriter::Flush() {
    const std::string_view held(buffer_.data(), used_);
    ClearUpperVectorState();
    XXH3_64bits_update(&state_->hash, held.data(), held.size());
    if (!failed_ && !held.empty()) {
        if (WriteWholeAt(fd_, held, offset_)) {
            offset_ += held.size();
        } else {
            failed_ = true;
            error_ = errno;
        }
    }
    used_ = 0;
    return !failed_;
}

bool CPlotCacheSectionWriter::Finish() {
    const bool ok = Flush();
    if (!ok) {
        errno = error_;
    }
    return ok;
}

std::uint64_t CPlotCacheSectionWriter::Hash() const {
    return XXH3_64bits_digest(&state_->hash);
}

bool SourceSampleHash(int fd, std::uint64_t coveredBytes, std::uint64_t& hash) {
    XXH64_state_t* state = XXH64_createState();
    if (state == nullptr) {
        return false;
    }
    XXH64_reset(state, 0);
    XXH64_update(state, &coveredBytes, sizeof coveredBytes);
    std::vector<char> buffer;
    bool ok = true;
    auto take = [&](std::uint64_t offset, std::uint64_t bytes) {
        if (ok && bytes > 0) {
            ok = ReadAt(fd, offset, bytes, buffer);
            if (ok) {
                XXH64_update(state, buffer.data(), buffer.size());
            }
        }
    };
    const std::uint64_t head = std::min(coveredBytes, kEdgeBytes);
    take(0, head);
    if (coveredBytes > head) {
        const std::uint64_t tailStart = std::max(head, coveredBytes - kEdgeBytes);
        const std::uint64_t middle = tailStart - head;
        if (middle > kSamples * kSampleBytes) {
            for (std::uint64_t k = 0; k < kSamples; ++k) {
                take(head + middle / kSamples * k, kSampleBytes);
            }
        } else {
            take(head, middle);
        }
        take(tailStart, coveredBytes - tailStart);
    }
    hash = XXH64_digest(state);
    XXH64_freeState(state);
    return ok;
}

std::string PlotCachePathFor(const std::string& sourcePath) {
    std::string folder;
    if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache != nullptr && cache[0] == '/') {
        folder = cache;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
        folder = std::string(home) + "/.cache";
    } else {
        return {};
    }
    std::error_code error;
    std::filesystem::path canonical = std::filesystem::weakly_canonical(sourcePath, error);
    const std::string key = error ? sourcePath : canonical.string();
    char name[32];
    std::snprintf(name, sizeof name, "%016llx.plotcache",
                  static_cast<unsigned long long>(PlotCacheHash(key.data(), key.size())));
    return folder + "/corvane3/" + name;
}

}  // namespace corvane3
