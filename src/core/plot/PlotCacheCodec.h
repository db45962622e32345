#pragma once
// The plot cache's block codec: one channel's values of one block as the smallest words they fit
// (int32, float or double), each XORed with the one before it, the bytes regrouped by
// significance, then compressed with Zstandard; and back, checking the block's hash and size
// first.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/plot/PlotCacheDamage.h"
#include "core/plot/PlotCacheFormat.h"
#include "core/plot/PlotData.h"

struct ZSTD_CCtx_s;
struct ZSTD_DCtx_s;

namespace corvane3 {

// A compression context with its scratch buffers, kept from block to block: blocks are sealed
// by the thousand, and fresh buffers of this size would each cost page faults. One per thread.
class CBlockCompressor {
  public:
    CBlockCompressor();
    ~CBlockCompressor();
    CBlockCompressor(const CBlockCompressor&) = delete;
    CBlockCompressor& operator=(const CBlockCompressor&) = delete;

    // The compressed block: values stored as declared where they all fit it, else as doubles,
    // with the storage used in encoding. Empty when Zstandard fails (memory ran out): the block
    // then reads as damaged and the cache is rebuilt.
    std::string Compress(std::span<const double> values, EPlotStorage declared, int level,
                         std::uint8_t& encoding);

  private:
    ZSTD_CCtx_s* context_;
    std::vector<std::uint64_t> words64_;
    std::vector<std::uint32_t> words32_;
    std::string shuffled_;
    std::string out_;
};

class CBlockDecompressor {
  public:
    CBlockDecompressor();
    ~CBlockDecompressor();
    CBlockDecompressor(const CBlockDecompressor&) = delete;
    CBlockDecompressor& operator=(const CBlockDecompressor&) = delete;

    // The records values of the block whose index entry is entry into out; kNone, or why not
    // (one of the block damages).
    EPlotCacheDamage Decompress(std::string_view bytes, const PlotCacheBlockEntry& entry,
                            std::size_t records, std::vector<double>& out);

  private:
    ZSTD_DCtx_s* context_;
    std::string shuffled_;
};

}  // namespace corvane3
