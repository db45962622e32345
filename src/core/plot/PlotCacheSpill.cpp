// CPlotCache: where a block's compressed bytes are (held, spilled or in the mapped file), and the
// file blocks are spilled to while a cache is built.

#include "core/plot/PlotCache.h"

#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "core/base/UnnamedFile.h"

namespace corvane3 {

std::string_view CPlotCache::BlockBytes(const SealedBlock& block) const {
    if (block.spilled) {
        spillScratch_.resize(block.entry.bytes);
        const auto read = ::pread(spillFd_, spillScratch_.data(), block.entry.bytes,
                                  static_cast<off_t>(sizeof(PlotCacheHeader) + block.entry.offset));
        return read == static_cast<ssize_t>(block.entry.bytes) ? std::string_view(spillScratch_)
                                                               : std::string_view();
    }
    if (!block.owned.empty() || map_ == nullptr) {
        return block.owned;
    }
    return {reinterpret_cast<const char*>(map_ + dataOffset_ + block.entry.offset),
            block.entry.bytes};
}

bool CPlotCache::SpillTo(const std::string& cachePath) {
    CloseSpill();
    namespace fs = std::filesystem;
    std::error_code error;
    fs::create_directories(fs::path(cachePath).parent_path(), error);
    if (cachePath.empty() || error) {
        return false;
    }
    std::string fallback;
    const int fd = CreateUnnamedFileBeside(cachePath, fallback);
    if (fd < 0) {
        return false;
    }
    spillFd_ = fd;
    spillPath_ = fallback;
    spillTarget_ = cachePath;
    spillEnd_ = 0;
    flushedBlocks_ = static_cast<std::int64_t>(sealed_.empty() ? 0 : sealed_[0].size());
    spillFailed_ = false;
    return true;
}

void CPlotCache::FlushSealed() {
    if (spillFd_ < 0 || spillFailed_ || spillTarget_.empty() || sealed_.empty()) {
        return;
    }
    const auto sealedBlocks = static_cast<std::int64_t>(sealed_[0].size());
    for (; flushedBlocks_ < sealedBlocks; ++flushedBlocks_) {
        for (auto& sealed : sealed_) {
            SealedBlock& block = sealed[static_cast<std::size_t>(flushedBlocks_)];
            if (block.owned.empty()) {
                continue;
            }
            const std::uint64_t at = spillEnd_;
            if (!WritePlotCacheBlockAt(spillFd_, block.owned, sizeof(PlotCacheHeader) + at)) {
                spillFailed_ = true;  // the rest stays in memory; Write will say why
                return;
            }
            block.entry.offset = at;
            block.spilled = true;
            std::string().swap(block.owned);
            spillEnd_ = RoundUp8(at + block.entry.bytes);
        }
    }
}

void CPlotCache::CloseSpill() {
    if (spillFd_ >= 0) {
        ::close(spillFd_);
    }
    if (!spillPath_.empty()) {
        ::unlink(spillPath_.c_str());
    }
    spillFd_ = -1;
    spillPath_.clear();
    spillTarget_.clear();
    spillEnd_ = 0;
    flushedBlocks_ = 0;
    spillFailed_ = false;
}


EPlotCacheDamage CPlotCache::Decompress(const SealedBlock& block, std::int64_t length,
                                        std::vector<double>& out) const {
    return decompressor_->Decompress(BlockBytes(block), block.entry,
                                     static_cast<std::size_t>(length), out);
}

}  // namespace corvane3
