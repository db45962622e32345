#include "core/plot/PlotCacheCodec.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>
#include <vector>

namespace corvane3 {
namespace {

TEST(PlotCacheCodecTest, ABlockThatCannotBeDecodedSaysWhy) {
    std::vector<double> values(1000);
    for (std::size_t i = 0; i < values.size(); ++i) {
        values[i] = 1000.0 * std::sin(0.01 * static_cast<double>(i));
    }
    CBlockCompressor compressor;
    PlotCacheBlockEntry entry{};
    const std::string bytes =
        compressor.Compress(values, EPlotStorage::kDouble, 1, entry.encoding);
    ASSERT_FALSE(bytes.empty());
    entry.bytes = static_cast<std::uint32_t>(bytes.size());
    entry.hash = PlotCacheHash(bytes.data(), bytes.size());

    std::string flipped = bytes;
    flipped[flipped.size() / 2] ^= 0x10;
    // A frame cut short whose hash was taken as it is: only the decompression can tell.
    const std::string cut = bytes.substr(0, bytes.size() - 8);
    PlotCacheBlockEntry cutEntry = entry;
    cutEntry.bytes = static_cast<std::uint32_t>(cut.size());
    cutEntry.hash = PlotCacheHash(cut.data(), cut.size());
    struct Case {
        const char* name;
        std::string bytes;
        PlotCacheBlockEntry entry;
        std::size_t records;
        EPlotCacheDamage damage;
    };
    const Case cases[] = {
        {"intact", bytes, entry, values.size(), EPlotCacheDamage::kNone},
        {"read short", bytes.substr(0, 10), entry, values.size(),
         EPlotCacheDamage::kBlockUnreadable},
        {"byte flipped", flipped, entry, values.size(), EPlotCacheDamage::kBlockHashMismatch},
        {"other record count", bytes, entry, values.size() - 1,
         EPlotCacheDamage::kBlockSizeMismatch},
        {"frame cut short", cut, cutEntry, values.size(), EPlotCacheDamage::kBlockUndecodable},
    };
    std::set<std::string> texts;
    for (const Case& c : cases) {
        CBlockDecompressor decompressor;
        std::vector<double> out;
        EXPECT_EQ(decompressor.Decompress(c.bytes, c.entry, c.records, out), c.damage) << c.name;
        if (c.damage == EPlotCacheDamage::kNone) {
            EXPECT_EQ(out, values);
        }
        texts.insert(PlotCacheDamageText(c.damage));
    }
    EXPECT_EQ(texts.size(), std::size(cases)) << "each cause has a text of its own";
}

}  // namespace
}  // namespace corvane3
