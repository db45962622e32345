#pragma once
// Why a plot cache read as damaged after it was opened, as a code and its text: its values
// then read as absent, and the caller should rebuild the cache.

namespace corvane3 {

enum class EPlotCacheDamage {
    kNone,
    kBlockUnreadable,    // a block's bytes could not be read back from the file it was spilled to
    kBlockHashMismatch,  // a block's bytes are not those hashed when it was written
    kBlockSizeMismatch,  // a block does not hold as many values as its records
    kBlockUndecodable,   // Zstandard could not decompress a block
    kLeavesUnreadable,   // the min/max leaves could not be read from the cache file
    kFileReplaced,       // the cache file became one this cache cannot read its leaves from
};

inline const char* PlotCacheDamageText(EPlotCacheDamage damage) {
    switch (damage) {
        case EPlotCacheDamage::kNone:
            return "not damaged";
        case EPlotCacheDamage::kBlockUnreadable:
            return "block unreadable";
        case EPlotCacheDamage::kBlockHashMismatch:
            return "block hash mismatch";
        case EPlotCacheDamage::kBlockSizeMismatch:
            return "block size mismatch";
        case EPlotCacheDamage::kBlockUndecodable:
            return "block not decompressible";
        case EPlotCacheDamage::kLeavesUnreadable:
            return "leaves unreadable";
        case EPlotCacheDamage::kFileReplaced:
            return "cache file replaced by an unreadable one";
    }
    return "unknown";
}

}  // namespace corvane3
