#include "core/plot/PlotCache.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <random>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "core/plot/PlotCacheCodec.h"
#include "core/plot/PlotCacheDamage.h"
#include "core/plot/PlotCacheLayout.h"
#include "core/plot/PlotCacheFormat.h"
#include "support/CacheAgreement.h"
#include "support/CacheHome.h"
#include "support/FileSizeLimit.h"
#include "support/TempDir.h"

namespace corvane3 {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();

// Small blocks and leaves, so that a few thousand records span many of each.
constexpr PlotCacheOptions kSmallBlocks{.blockRecords = 64, .leafRecords = 8, .decodedBlocks = 3};

// The MJD, a count, a single-precision reading, a double and the beam signal.
const std::vector<PlotCacheChannel> kChannels = {
    {CPlotData::kAxis0Slot, EPlotStorage::kDouble},
    {26, EPlotStorage::kInt32},
    {15, EPlotStorage::kFloat},
    {25, EPlotStorage::kDouble},
    {kChannelSignal, EPlotStorage::kDouble},
};

// Columns in kChannels order. offset shifts the readings (a large offset tests the sums).
std::vector<std::vector<double>> Generate(std::size_t records, unsigned seed, double offset = 0) {
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0.0, 1.0);
    std::uniform_int_distribution<int> percent(0, 99);
    std::vector<std::vector<double>> columns(kChannels.size(), std::vector<double>(records));
    for (std::size_t i = 0; i < records; ++i) {
        const bool absent = percent(random) < 3;
        columns[0][i] = 60123.0 + static_cast<double>(i) / 8640.0;
        columns[1][i] = absent ? kNan : static_cast<double>(i / 50);
        columns[2][i] = absent ? kNan : static_cast<float>(35.5 + offset + 0.25 * noise(random));
        columns[3][i] = offset + 1000.0 * noise(random);
        // Falls 1 % a day; now and then zero or negative (no logarithm, left out of the fit).
        const double signal = 100.0 * std::exp(-0.01 * (columns[0][i] - 60123.0)) + noise(random);
        columns[4][i] = percent(random) < 2 ? -signal : signal;
    }
    // Values that do not fit the declared storage widen only their block.
    if (records > 100) {
        columns[1][100] = 0.5;
        columns[2][7] = 0.1;
        columns[1][3] = -0.0;
    }
    return columns;
}

bool Append(CPlotCache& cache, const std::vector<std::vector<double>>& columns, std::size_t first,
            std::size_t end) {
    std::vector<std::span<const double>> spans;
    for (const auto& column : columns) {
        spans.emplace_back(column.data() + first, end - first);
    }
    return cache.Append(spans);
}

// Builds a cache of every record of columns, covering that many bytes of source, and writes it.
::testing::AssertionResult BuildAndWrite(CPlotCache& cache,
                                         const std::vector<std::vector<double>>& columns,
                                         std::uint64_t covered, const fs::path& cachePath,
                                         const fs::path& source) {
    if (!cache.Reset(kChannels) || !Append(cache, columns, 0, columns[0].size())) {
        return ::testing::AssertionFailure() << "not built";
    }
    cache.SetCoveredBytes(covered);
    const PlotCacheWriteResult written = cache.Write(cachePath, source);
    if (!written.written) {
        return ::testing::AssertionFailure() << written.message;
    }
    return ::testing::AssertionSuccess();
}

// A stand-in telemetry file: the cache fingerprints its bytes.
fs::path WriteSource(const fs::path& folder, std::size_t bytes) {
    const fs::path path = folder / "Unit1234.csd";
    std::ofstream(path, std::ios::binary) << std::string(bytes, 'x');
    return path;
}

bool SameValue(double a, double b) {
    return (std::isnan(a) && std::isnan(b)) || a == b;
}

ValueRange BruteRange(const std::vector<double>& v, std::int64_t first, std::int64_t end) {
    ValueRange range;
    for (std::int64_t i = first; i < end; ++i) {
        range.Add(v[static_cast<std::size_t>(i)]);
    }
    return range;
}

void ExpectSameRange(const ValueRange& got, const ValueRange& want, const std::string& where) {
    EXPECT_EQ(got.Empty(), want.Empty()) << where;
    if (!want.Empty()) {
        EXPECT_EQ(got.min, want.min) << where;
        EXPECT_EQ(got.max, want.max) << where;
    }
}

// Changes one bit of the byte at this offset.
void FlipByte(const fs::path& path, std::uintmax_t at) {
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    file.seekg(static_cast<std::streamoff>(at));
    const char byte = static_cast<char>(file.get() ^ 0x10);
    file.seekp(static_cast<std::streamoff>(at));
    file.put(byte);
}

class PlotCacheTest : public ::testing::Test {
  protected:
    TempDir dir;
    fs::path cachePath = dir.Path() / "cache" / "unit.plotcache";
};

TEST_F(PlotCacheTest, RoundTripKeepsEveryValueAbsentValuesAndStorageKinds) {
    const std::size_t records = 1000;  // 15 whole blocks and a shorter one
    auto columns = Generate(records, 1);
    // Beyond a float's range, infinities, and an int32 column's own absent marker.
    columns[2][200] = 1.0e300;
    columns[2][300] = -std::numeric_limits<double>::infinity();
    columns[1][400] = CPlotColumn::kAbsentInt;
    columns[1][401] = 3.0e9;
    // A float subnormal, float's extremes and the largest int32 keep every bit too.
    columns[2][500] = static_cast<float>(1.0e-40);
    columns[2][600] = std::numeric_limits<float>::max();
    columns[2][601] = -std::numeric_limits<float>::min();
    columns[1][700] = 2147483647.0;
    const fs::path source = WriteSource(dir.Path(), 5000);
    CPlotCache built(kSmallBlocks);
    ASSERT_TRUE(BuildAndWrite(built, columns, 5000, cachePath, source));

    CPlotCache opened;
    const PlotCacheOpenResult result = opened.Open(cachePath, source);
    ASSERT_EQ(result.status, EPlotCacheOpen::kValid) << result.reason;
    EXPECT_EQ(result.records, 1000);
    EXPECT_EQ(result.coveredBytes, 5000u);
    EXPECT_EQ(opened.Channels(), kChannels);
    for (const CPlotCache* cache : {&built, &opened}) {
        for (std::size_t c = 0; c < kChannels.size(); ++c) {
            std::vector<double> values(records);
            ASSERT_TRUE(cache->Values(static_cast<int>(c), 0, records, values.data()));
            for (std::size_t i = 0; i < records; ++i) {
                ASSERT_TRUE(SameValue(values[i], columns[c][i])) << "channel " << c << " " << i;
                ASSERT_EQ(std::signbit(values[i]), std::signbit(columns[c][i])) << c << " " << i;
            }
        }
        EXPECT_FALSE(cache->Damaged());
        std::vector<double> out(2);
        EXPECT_FALSE(cache->Values(0, 999, 1001, out.data()));  // past the records
        EXPECT_FALSE(cache->Values(9, 0, 1, out.data()));       // no such channel
    }
}

// Frames by time: exact over a few blocks; over more, inner borders at their leaf's start.
TEST_F(PlotCacheTest, FramesOverManyBlocksHaveTheirInnerBordersAtLeafStarts) {
    const std::size_t records = 3000;
    const auto columns = Generate(records, 2);
    const fs::path source = WriteSource(dir.Path(), 100);
    CPlotCache built(kSmallBlocks);
    ASSERT_TRUE(built.Reset(kChannels));
    // Fed in uneven pieces, as a parser hands over its chunks.
    for (std::size_t first = 0; first < records; first += 77) {
        ASSERT_TRUE(Append(built, columns, first, std::min(records, first + 77)));
    }
    built.SetCoveredBytes(100);
    ASSERT_TRUE(built.Write(cachePath, source).written);
    CPlotCache opened;
    ASSERT_EQ(opened.Open(cachePath, source).status, EPlotCacheOpen::kValid);
    const std::vector<double>& days0 = columns[0];
    for (const CPlotCache* cache : {&built, &opened}) {
        for (const auto& [first, end, columnsWanted] :
             {std::tuple{5, 200, 37}, std::tuple{100, 2900, 60}}) {
            std::vector<double> edges = testing::Edges(days0[first], days0[end], columnsWanted);
            edges.back() = days0[end];
            const auto frame = cache->FrameColumnsMjd(3, edges);
            ASSERT_EQ(frame.size(), static_cast<std::size_t>(columnsWanted));
            const bool snap = end - first > 4 * 64;
            std::int64_t from = first;
            for (int c = 0; c < columnsWanted; ++c) {
                std::int64_t to = end;
                if (c + 1 < columnsWanted) {
                    to = std::lower_bound(days0.begin(), days0.end(), edges[c + 1]) - days0.begin();
                    if (snap) {
                        to = std::max(from, to / 8 * 8);
                    }
                }
                ExpectSameRange(
                    frame[static_cast<std::size_t>(c)], BruteRange(columns[3], from, to),
                    "time frame " + std::to_string(first) + " column " + std::to_string(c));
                from = to;
            }
        }
        // The last record of a block, and after the last record: the record count (the
        // agreement with memory clamps it).
        EXPECT_EQ(cache->LowerBoundMjd(days0[20 * 64 - 1]), 20 * 64 - 1);
        EXPECT_EQ(cache->LowerBoundMjd(1e9), 3000);
    }
}

// A clock set back every 149 records: runs of two or three blocks, none long enough alone to have
// its frame borders snapped to leaves, none starting or ending on a leaf border. (Such frames
// against memory: the agreement tests.)
TEST_F(PlotCacheTest, AFrameOverManyShortRunsDecodesNoBlockOnceTheChannelIsPrepared) {
    const std::size_t records = 3000;  // the last run starts in the tail, held decoded
    constexpr std::size_t kRunRecords = 149;
    auto columns = Generate(records, 5);
    for (std::size_t i = kRunRecords; i < records; ++i) {
        columns[0][i] -= static_cast<double>(i / kRunRecords) * 3.0 / 8640.0;
    }
    CPlotCache prepared(kSmallBlocks);
    ASSERT_TRUE(prepared.Reset(kChannels));
    ASSERT_TRUE(Append(prepared, columns, 0, records));
    ASSERT_EQ(prepared.MjdSteps().size(), (records - 1) / kRunRecords);
    const auto [first, last] = std::minmax_element(columns[0].begin(), columns[0].end());
    const std::vector<double> edges = testing::Edges(*first, *last + 1.0 / 8640.0, 60);
    prepared.PrepareChannel(0);
    prepared.PrepareChannel(2);
    const std::int64_t decodedBefore = prepared.BlocksDecoded();
    for (const int channel : {0, 2}) {
        EXPECT_EQ(prepared.FrameColumnsMjd(channel, edges).size(), 60u);
        EXPECT_EQ(prepared.BlocksDecoded(), decodedBefore) << "channel " << channel;
    }
}

TEST_F(PlotCacheTest, StatisticsOfValuesFarFromZeroKeepTheirDigits) {
    const std::size_t records = 2000;
    for (const double offset : {1.0e3, 6.0e4, 1.0e6}) {
        const auto columns = Generate(records, 3, offset);
        CPlotCache cache(kSmallBlocks);
        ASSERT_TRUE(cache.Reset(kChannels));
        ASSERT_TRUE(Append(cache, columns, 0, records));
        for (const auto& [first, end] : {std::pair{0, 2000}, std::pair{17, 1500}}) {
            const auto& v = columns[2];
            std::vector<double> present;
            std::copy_if(v.begin() + first, v.begin() + end, std::back_inserter(present),
                         [](double value) { return !std::isnan(value); });
            const ChannelStatistics reference = testing::TwoPassStatistics(present);
            const ChannelStatistics got = cache.Statistics(2, first, end);
            EXPECT_NEAR(got.mean, reference.mean, 1e-15 * offset) << offset;
            EXPECT_NEAR(got.sigma, reference.sigma, 1e-9 * reference.sigma) << offset;
            // At 6e4 with a spread of 0.25 the one-pass in-memory sums no longer hold six digits:
            // the cache's sigma is the right one.
            EXPECT_EQ(testing::NineDigits(got.sigma), testing::NineDigits(reference.sigma))
                << offset;
        }
    }
}

TEST_F(PlotCacheTest, ACacheThatNoLongerMatchesIsRejectedWithAReason) {
    const std::size_t records = 500;
    const auto columns = Generate(records, 5);
    using enum EPlotCacheOpen;
    struct Case {
        const char* name;
        EPlotCacheOpen status;
        std::function<void(const fs::path& cache, const fs::path& source)> change;
        const char* reason = "";  // "" for any
    };
    const std::uintmax_t header = sizeof(PlotCacheHeader);
    const Case cases[] = {
        {"unchanged", kValid, [](auto&, auto&) {}},
        {"source grew", kValid,
         [](auto&, const fs::path& s) { std::ofstream(s, std::ios::app) << "more\n"; }},
        {"source rewritten, same size and time", kStale,
         [&](auto&, const fs::path& s) {
             const auto time = fs::last_write_time(s);
             FlipByte(s, 0);
             fs::last_write_time(s, time);
         }},
        {"source written to without growing", kStale,
         [](auto&, const fs::path& s) {
             fs::last_write_time(s, fs::last_write_time(s) + std::chrono::seconds(1));
         }},
        {"source truncated", kStale, [](auto&, const fs::path& s) { fs::resize_file(s, 2999); }},
        {"source replaced", kStale,
         [](auto&, const fs::path& s) {
             const fs::path other = s.string() + ".new";
             std::ofstream(other, std::ios::binary) << std::string(3000, 'x');
             fs::rename(other, s);
         }},
        {"source removed", kSourceMissing, [](auto&, const fs::path& s) { fs::remove(s); }},
        {"other version", kOtherVersion, [&](const fs::path& c, auto&) { FlipByte(c, 8); }},
        {"header byte flipped", kCorrupt, [&](const fs::path& c, auto&) { FlipByte(c, 40); }},
        {"block byte flipped", kCorrupt,
         [&](const fs::path& c, auto&) { FlipByte(c, header + 300); }, "block damaged"},
        {"summary byte flipped", kCorrupt,
         [&](const fs::path& c, auto&) { FlipByte(c, fs::file_size(c) - 300); }},
        {"cache cut short", kCorrupt,
         [](const fs::path& c, auto&) { fs::resize_file(c, fs::file_size(c) - 1); }},
        {"cache empty", kCorrupt, [](const fs::path& c, auto&) { fs::resize_file(c, 0); }},
        // Bytes after the summaries are not read: a cache updated in place never shrinks.
        {"cache grown", kValid,
         [](const fs::path& c, auto&) { std::ofstream(c, std::ios::app) << "junk"; }},
        {"last leaf damaged", kCorrupt,
         // The leaves end the file.
         [](const fs::path& c, auto&) { FlipByte(c, fs::file_size(c) - 12); }},
    };
    for (const Case& c : cases) {
        TempDir folder;
        const fs::path source = WriteSource(folder.Path(), 3000);
        const fs::path cache = folder.Path() / "c.plotcache";
        CPlotCache built(kSmallBlocks);
        ASSERT_TRUE(BuildAndWrite(built, columns, 3000, cache, source)) << c.name;
        c.change(cache, source);
        CPlotCache opened;
        const PlotCacheOpenResult result = opened.Open(cache, source);
        EXPECT_EQ(result.status, c.status) << c.name << ": " << result.reason;
        if (result.status == EPlotCacheOpen::kValid) {
            EXPECT_EQ(opened.RecordCount(), 500) << c.name;
        } else {
            EXPECT_FALSE(result.reason.empty()) << c.name;
            EXPECT_TRUE(*c.reason == '\0' || result.reason == c.reason) << c.name;
            EXPECT_EQ(opened.RecordCount(), 0) << c.name;
            EXPECT_TRUE(opened.Channels().empty()) << c.name;
        }
    }
}

TEST_F(PlotCacheTest, ABlockFoundDamagedByAQueryReadsAsAbsentAndTellsWhy) {
    const auto columns = Generate(500, 6);
    const fs::path source = WriteSource(dir.Path(), 3000);
    CPlotCache built(kSmallBlocks);
    ASSERT_TRUE(BuildAndWrite(built, columns, 3000, cachePath, source));
    // The first block written (the MJD's first) begins the data section.
    FlipByte(cachePath, sizeof(PlotCacheHeader) + 3);
    CPlotCache opened;
    ASSERT_EQ(opened.Open(cachePath, source, /*checkBlocks=*/false).status, EPlotCacheOpen::kValid);
    EXPECT_FALSE(opened.Damaged());
    std::vector<double> values(64);
    ASSERT_TRUE(opened.Values(0, 0, 64, values.data()));
    EXPECT_TRUE(std::all_of(values.begin(), values.end(), [](double v) { return std::isnan(v); }));
    EXPECT_TRUE(opened.Damaged());
    EXPECT_EQ(opened.DamageCode(), EPlotCacheDamage::kBlockHashMismatch);
    EXPECT_STREQ(opened.DamageText(), "block hash mismatch");
}

// A write the disk cuts short (here a file-size limit, in the summaries after the blocks) leaves
// no file and the cache usable; a cache brought up to date in place has a fresh build's bytes.
TEST_F(PlotCacheTest, AWriteCutShortLeavesNoFileAndAGrownCacheHasTheBytesOfAFreshBuild) {
    const std::size_t records = 1500;
    const auto columns = Generate(records, 4);
    const fs::path source = WriteSource(dir.Path(), 9000);
    const fs::path freshPath = dir.Path() / "fresh.plotcache";
    CPlotCache fresh(kSmallBlocks);
    ASSERT_TRUE(BuildAndWrite(fresh, columns, 9000, freshPath, source));
    PlotCacheHeader header{};
    std::ifstream(freshPath, std::ios::binary).read(reinterpret_cast<char*>(&header), sizeof header);
    PlotCacheWriteResult full;
    ASSERT_TRUE(testing::WithFileSizeLimit(header.metaOffset + 8,
                                           [&] { full = fresh.Write(cachePath, source); }));
    EXPECT_FALSE(full.written);
    EXPECT_NE(full.message.find(std::strerror(EFBIG)), std::string::npos) << full.message;
    for (const auto& entry : fs::recursive_directory_iterator(dir.Path())) {
        EXPECT_EQ(entry.path().string().find(".plotcache."), std::string::npos) << entry.path();
        EXPECT_NE(entry.path(), cachePath);
    }
    EXPECT_EQ(fresh.Statistics(1, 0, records).count,
              ComputeStatistics([&](std::size_t i) { return columns[1][i]; }, 0, records).count);

    // Written part-way through a block, opened again, grown as the file grew, written again.
    {
        CPlotCache first(kSmallBlocks);
        ASSERT_TRUE(first.Reset(kChannels));
        ASSERT_TRUE(Append(first, columns, 0, 700));
        first.SetCoveredBytes(4000);
        ASSERT_TRUE(first.Write(cachePath, source).written);
    }
    CPlotCache grown;
    const PlotCacheOpenResult opened = grown.Open(cachePath, source);
    ASSERT_EQ(opened.status, EPlotCacheOpen::kValid) << opened.reason;
    ASSERT_TRUE(Append(grown, columns, 700, 1111));
    ASSERT_TRUE(Append(grown, columns, 1111, records));
    grown.SetCoveredBytes(9000);
    ASSERT_TRUE(grown.Write(cachePath, source).written);
    // Up to where the fresh file ends: a cache file never shrinks, for those who have it mapped.
    const std::string freshBytes = testing::FileText(freshPath);
    EXPECT_EQ(testing::FileText(cachePath).substr(0, freshBytes.size()), freshBytes);
}

TEST_F(PlotCacheTest, BadChannelListsAreRefusedAndTwoSpellingsOfAFileShareOneCacheName) {
    CPlotCache cache;
    const std::vector<std::vector<PlotCacheChannel>> refused = {
        {{4, EPlotStorage::kInt32}, {4, EPlotStorage::kFloat}},
        {{CPlotData::kAxis0Slot + 1, EPlotStorage::kDouble}},
        {{-1, EPlotStorage::kDouble}},
        {{4, static_cast<EPlotStorage>(3)}},
    };
    for (const auto& channels : refused) {
        SCOPED_TRACE(channels.size());
        EXPECT_FALSE(cache.Reset(channels));
        EXPECT_TRUE(cache.Channels().empty());
    }
    ASSERT_TRUE(cache.Reset({{4, EPlotStorage::kInt32}}));
    EXPECT_EQ(cache.ChannelIndex(4), 0);
    EXPECT_EQ(cache.ChannelIndex(5), -1);
    // Without the MJD and the signal there is nothing to fit or search.
    EXPECT_FALSE(cache.FitDecay(0, 10).valid);
    EXPECT_EQ(cache.LowerBoundMjd(1.0), -1);

    const testing::ScopedCacheHome cacheHome(dir.Path());
    const fs::path source = WriteSource(dir.Path(), 10);
    fs::create_symlink(source, dir.Path() / "link.csd");
    const std::string path = PlotCachePathFor(source.string());
    EXPECT_TRUE(path.starts_with((dir.Path() / "corvane3").string() + "/")) << path;
    for (const fs::path& spelling : {dir.Path() / "." / "Unit1234.csd", dir.Path() / "link.csd"})
        EXPECT_EQ(PlotCachePathFor(spelling.string()), path) << spelling;
    EXPECT_NE(PlotCachePathFor((dir.Path() / "Unit99.csd").string()), path);
}

// A block of another size than its records need, or cut short, is damage with its own cause;
// its bytes are never taken as values.
TEST_F(PlotCacheTest, ABlockThatCannotBeDecodedSaysWhy) {
    const std::vector<double> values{1.5, 2.5, -3.25, 4.0};
    CBlockCompressor compressor;
    std::uint8_t encoding = 0;
    const std::string whole = compressor.Compress(values, EPlotStorage::kDouble, 1, encoding);
    const std::string cut = whole.substr(0, whole.size() - 2);
    CBlockDecompressor decompressor;
    using D = EPlotCacheDamage;
    for (const auto& [bytes, records, damage, text] :
         {std::tuple(whole, 4, D::kNone, "not damaged"),
          {whole, 3, D::kBlockSizeMismatch, "block size mismatch"},
          {cut, 4, D::kBlockUndecodable, "block not decompressible"}}) {
        SCOPED_TRACE(text);
        const PlotCacheBlockEntry entry{0, static_cast<std::uint32_t>(bytes.size()), encoding,
                                        {}, PlotCacheHash(bytes.data(), bytes.size())};
        std::vector<double> out;
        EXPECT_EQ(decompressor.Decompress(bytes, entry, static_cast<std::size_t>(records), out),
                  damage);
        EXPECT_STREQ(PlotCacheDamageText(damage), text);
        EXPECT_EQ(out, damage == D::kNone ? values : std::vector<double>{});
    }
}

// A tiny cache's metadata where the layout puts it: channel 0's block summary (count, min,
// max) after the channel list and the block index, its leaf (min, max) after the decay sums.
TEST_F(PlotCacheTest, TheMetadataLiesWhereTheFormatDescriptionPutsIt) {
    const auto columns = Generate(3, 2);
    const fs::path source = WriteSource(dir.Path(), 300);
    CPlotCache cache(kSmallBlocks);
    ASSERT_TRUE(BuildAndWrite(cache, columns, 300, cachePath, source));
    const std::string file = testing::FileText(cachePath);
    PlotCacheHeader header{};
    std::memcpy(&header, file.data(), sizeof header);
    const auto word = [&](std::uint64_t at) {
        std::uint64_t w = 0;
        std::memcpy(&w, file.data() + header.metaOffset + at, sizeof w);
        return w;
    };
    const std::uint64_t channels = kChannels.size();
    const std::uint64_t summary = channels * (sizeof(PlotCacheStoredChannel) + sizeof(PlotCacheBlockEntry));
    const std::uint64_t leaf =
        summary + (channels * kPlotCacheSummaryWords + kPlotCacheDecayWords) * kPlotCacheWord;
    EXPECT_EQ(word(summary), 3u);
    for (const std::uint64_t at : {summary + 8, leaf}) {
        EXPECT_EQ(std::bit_cast<double>(word(at)), columns[0][0]) << at;
        EXPECT_EQ(std::bit_cast<double>(word(at + 8)), columns[0][2]) << at;
    }
}

// Per block, only the records that hold both the time and the reading are paired.
TEST_F(PlotCacheTest, PairedBlocksLeaveOutRecordsWithoutTheReadingOrTheirTime) {
    constexpr std::size_t kRecords = 300;
    auto columns = Generate(kRecords, 7);
    columns[0][70] = columns[0][200] = kNan;
    CPlotCache cache(kSmallBlocks);
    ASSERT_TRUE(cache.Reset(kChannels));
    ASSERT_TRUE(Append(cache, columns, 0, kRecords));
    const auto blocks = cache.PairedBlocks(2);
    ASSERT_EQ(blocks.size(), 5u);
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        BlockSummary mjd, value;
        for (std::size_t i = b * 64; i < std::min(kRecords, (b + 1) * 64); ++i) {
            if (!std::isnan(columns[0][i]) && !std::isnan(columns[2][i])) {
                mjd.Add(columns[0][i]);
                value.Add(columns[2][i]);
            }
        }
        EXPECT_EQ(blocks[b].mjd.count, mjd.count) << b;
        EXPECT_EQ(blocks[b].value.count, value.count) << b;
        ExpectSameRange(blocks[b].mjd.range, mjd.range, "mjd " + std::to_string(b));
        ExpectSameRange(blocks[b].value.range, value.range, "value " + std::to_string(b));
    }
}

}  // namespace
}  // namespace corvane3
