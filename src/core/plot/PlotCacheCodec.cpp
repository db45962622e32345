#include "core/plot/PlotCacheCodec.h"

#include <zstd.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

#include "core/base/VectorState.h"

namespace corvane3 {

namespace {

// Whether every value is absent or an int32 (and not -0.0), so that the block may be stored as
// int32. Blocks are checked by the hundred thousand when a long file is read, so the test is
// a conversion and back rather than a call to trunc.
bool AllFitInt32(std::span<const double> values) {
    constexpr double kLimit = 2147483647.0;
    constexpr auto kNegativeZero = std::bit_cast<std::uint64_t>(-0.0);
    for (const double v : values) {
        if (std::fabs(v) <= kLimit) {
            if (static_cast<double>(static_cast<std::int32_t>(v)) != v ||
                std::bit_cast<std::uint64_t>(v) == kNegativeZero) {
                return false;
            }
        } else if (!std::isnan(v)) {
            return false;
        }
    }
    return true;
}

// Whether every value is non-finite or exactly a normal float (or zero), so that the block may
// be stored as float, tested on the bits: the low 29 bits of the mantissa are zero and the
// exponent is within float's. A float subnormal fails the test and only makes its block double.
bool AllFitFloat(std::span<const double> values) {
    constexpr std::uint64_t kLowMantissa = (std::uint64_t{1} << 29) - 1;
    constexpr std::uint64_t kLowestExponent = 1023 - 126;
    constexpr std::uint64_t kHighestExponent = 1023 + 127;
    constexpr std::uint64_t kNonFinite = 0x7FF;
    bool fits = true;
    for (const double v : values) {
        const auto bits = std::bit_cast<std::uint64_t>(v);
        const std::uint64_t exponent = (bits >> 52) & kNonFinite;
        const bool normal = (bits & kLowMantissa) == 0 &&
                            exponent - kLowestExponent <= kHighestExponent - kLowestExponent;
        fits &= normal || exponent == kNonFinite || (bits << 1) == 0;
    }
    return fits;
}

std::size_t Width(std::uint8_t encoding) {
    return encoding == static_cast<std::uint8_t>(EPlotStorage::kDouble) ? 8 : 4;
}

// Each word XORed with the one before (slowly changing readings then give mostly zero bits),
// then the bytes regrouped by significance (the zero bytes then form long runs). The words are
// changed to their differences.
template <typename Word>
void Shuffle(std::vector<Word>& words, std::string& out) {
    const std::size_t n = words.size();
    out.resize(n * sizeof(Word));
    for (std::size_t i = n; i-- > 1;) {
        words[i] ^= words[i - 1];
    }
    // One plane of bytes at a time: each loop then reads and writes in order.
    // Local pointers: bytes written through a char pointer could otherwise be the vector's own.
    const Word* const deltas = words.data();
    auto* const bytes = reinterpret_cast<std::uint8_t*>(out.data());
    for (std::size_t b = 0; b < sizeof(Word); ++b) {
        std::uint8_t* const plane = bytes + b * n;
        for (std::size_t i = 0; i < n; ++i) {
            plane[i] = static_cast<std::uint8_t>(deltas[i] >> (8 * b));
        }
    }
}

template <typename Word>
void Unshuffle(const std::string& in, std::size_t n, std::vector<Word>& words) {
    words.resize(n);
    Word previous = 0;
    for (std::size_t i = 0; i < n; ++i) {
        Word delta = 0;
        for (std::size_t b = 0; b < sizeof(Word); ++b) {
            delta |= static_cast<Word>(static_cast<std::uint8_t>(in[b * n + i])) << (8 * b);
        }
        previous ^= delta;
        words[i] = previous;
    }
}

}  // namespace

CBlockCompressor::CBlockCompressor() : context_(ZSTD_createCCtx()) {}

CBlockCompressor::~CBlockCompressor() {
    ZSTD_freeCCtx(context_);
}

std::string CBlockCompressor::Compress(std::span<const double> values, EPlotStorage declared,
                                       int level, std::uint8_t& encoding) {
    ClearUpperVectorState();
    EPlotStorage storage = declared;
    if (storage == EPlotStorage::kInt32 && !AllFitInt32(values)) {
        storage = EPlotStorage::kDouble;
    }
    if (storage == EPlotStorage::kFloat && !AllFitFloat(values)) {
        storage = EPlotStorage::kDouble;
    }
    encoding = static_cast<std::uint8_t>(storage);
    if (storage == EPlotStorage::kDouble) {
        words64_.resize(values.size());
        std::transform(values.begin(), values.end(), words64_.begin(),
                       [](double v) { return std::bit_cast<std::uint64_t>(v); });
        Shuffle(words64_, shuffled_);
    } else {
        words32_.resize(values.size());
        std::transform(values.begin(), values.end(), words32_.begin(), [storage](double v) {
            if (storage == EPlotStorage::kFloat) {
                return std::bit_cast<std::uint32_t>(static_cast<float>(v));
            }
            return static_cast<std::uint32_t>(std::isnan(v) ? CPlotColumn::kAbsentInt
                                                            : static_cast<std::int32_t>(v));
        });
        Shuffle(words32_, shuffled_);
    }
    out_.resize(ZSTD_compressBound(shuffled_.size()));
    const std::size_t bytes = ZSTD_compressCCtx(context_, out_.data(), out_.size(),
                                                shuffled_.data(), shuffled_.size(), level);
    if (ZSTD_isError(bytes)) {
        encoding = static_cast<std::uint8_t>(EPlotStorage::kDouble);
        return {};
    }
    return out_.substr(0, bytes);
}

CBlockDecompressor::CBlockDecompressor() : context_(ZSTD_createDCtx()) {}

CBlockDecompressor::~CBlockDecompressor() {
    ZSTD_freeDCtx(context_);
}

EPlotCacheDamage CBlockDecompressor::Decompress(std::string_view bytes,
                                                const PlotCacheBlockEntry& entry, std::size_t records,
                                            std::vector<double>& out) {
    if (bytes.size() != entry.bytes) {
        return EPlotCacheDamage::kBlockUnreadable;
    }
    if (PlotCacheHash(bytes.data(), bytes.size()) != entry.hash) {
        return EPlotCacheDamage::kBlockHashMismatch;
    }
    const std::uint8_t encoding = entry.encoding;
    const std::size_t expected = records * Width(encoding);
    if (ZSTD_getFrameContentSize(bytes.data(), bytes.size()) != expected) {
        return EPlotCacheDamage::kBlockSizeMismatch;
    }
    shuffled_.resize(expected);
    const std::size_t got = ZSTD_decompressDCtx(context_, shuffled_.data(), shuffled_.size(),
                                                bytes.data(), bytes.size());
    if (ZSTD_isError(got) || got != expected) {
        return EPlotCacheDamage::kBlockUndecodable;
    }
    out.resize(records);
    if (encoding == static_cast<std::uint8_t>(EPlotStorage::kDouble)) {
        std::vector<std::uint64_t> words;
        Unshuffle(shuffled_, records, words);
        std::transform(words.begin(), words.end(), out.begin(),
                       [](std::uint64_t w) { return std::bit_cast<double>(w); });
    } else {
        std::vector<std::uint32_t> words;
        Unshuffle(shuffled_, records, words);
        const bool isFloat = encoding == static_cast<std::uint8_t>(EPlotStorage::kFloat);
        std::transform(words.begin(), words.end(), out.begin(), [isFloat](std::uint32_t w) {
            if (isFloat) {
                return static_cast<double>(std::bit_cast<float>(w));
            }
            const auto value = static_cast<std::int32_t>(w);
            return value == CPlotColumn::kAbsentInt ? std::numeric_limits<double>::quiet_NaN()
                                                    : static_cast<double>(value);
        });
    }
    return EPlotCacheDamage::kNone;
}

}  // namespace corvane3
