// The channel store: live points, growth across storage chunks, and values the compact storage
// must not lose.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/plot/PlotData.h"
#include "support/TelemetryTestData.h"

namespace corvane3 {
namespace {

using corvane3::testing::SampleRecord;

TEST(PlotDataTest, LivePointCarriesEveryReadingInItsChannel) {
    UnitStateData record = SampleRecord();
    record.d5.powerOnHours = 8760;
    record.outliers.hopsTotal = -1;  // sent as unsigned: 4294967295
    CPlotData store;
    store.AppendLiveRecord(record);

    const std::vector<std::pair<int, double>> expected{
        {0, 8760},    {1, -5},     {2, 12},    {3, -340},    {4, 2500},  {5, -1234},
        {6, 3},       {7, -7},     {8, 1800},  {9, 456},     {10, 7.5},  {11, 321},
        {12, 4000},   {13, 2.0},   {14, 1.25}, {15, 35.5},   {16, 6.25}, {17, 12.5},
        {18, 42},     {19, 10.25}, {20, 3.5},  {21, 24.125}, {22, 5.0},  {23, 15.25},
        {24, -15.5},  {25, -1500}, {26, 1},    {27, 2},      {28, 3},    {29, 4294967295.0},
        {30, 1000.0}, {31, 2.0},   {32, 24.5}, {33, 24.25},  {34, 0.0},  {35, 26.75},
        {36, 3},      {37, 0.0},   {59, 0.0}};
    ASSERT_EQ(store.PointCount(), 1);
    for (const auto& [channel, value] : expected) {
        EXPECT_EQ(store.Channel(channel)[0], value) << "channel " << channel;
    }
    EXPECT_EQ(store.SerialNumber(), 1234);
    EXPECT_EQ(store.TimeAxis(0)[0], 60123.5);
    EXPECT_EQ(store.TimeAxis(4)[0], 0.0);
    for (const CPlotSeries& outside : {store.Channel(-1), store.Channel(60), store.TimeAxis(5)}) {
        EXPECT_EQ(outside[0], 0.0);
        EXPECT_EQ(outside.Name(), "");
    }
}

TEST(PlotDataTest, TimeAxesCountFromTheFirstPoint) {
    CPlotData store;
    UnitStateData record = SampleRecord();
    for (double mjd : {60000.0, 60000.25, 60001.5}) {
        record.mjd = mjd;
        store.AppendLiveRecord(record);
    }
    ASSERT_EQ(store.PointCount(), 3);
    EXPECT_EQ(store.TimeAxis(1)[2], 1.5);
    EXPECT_EQ(store.TimeAxis(2)[1], 6.0);
    EXPECT_EQ(store.TimeAxis(3)[1], 360.0);
    EXPECT_EQ(store.TimeAxis(4)[1], 21600.0);
    EXPECT_EQ(store.TimeAxis(1).Name(), "Time [Days]");
}

// Values across chunk boundaries, values an integer or float column cannot hold, absent values.
TEST(PlotDataTest, ColumnsKeepEveryValueAcrossChunksAndWidening) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (EPlotStorage storage : {EPlotStorage::kInt32, EPlotStorage::kFloat}) {
        CPlotColumn column(storage);
        const std::int64_t size = 2 * kPlotChunkPoints + 5;
        for (std::int64_t i = 0; i < size; ++i) {
            column.Store(i, static_cast<double>(i % 1000));
        }
        column.Store(size + 10, nan);
        EXPECT_EQ(column.Storage(), storage);
        // A range read in one pass gives what reading each value does: across a chunk border,
        // around an absent value, and past the last value stored (0.0).
        const std::int64_t absent = kPlotChunkPoints - 3;
        column.Store(absent, nan);
        column.Store(kPlotChunkPoints + 1, -7.0);
        for (auto [first, end] : {std::pair<std::int64_t, std::int64_t>{absent - 600, absent + 9},
                                  {absent, absent + 1},
                                  {size + 11, size + 14}}) {
            ValueRange once, each;
            column.AddRange(first, end, once);
            for (std::int64_t i = first; i < end; ++i) {
                each.Add(column.At(i));
            }
            EXPECT_EQ(once.Empty(), each.Empty()) << first;
            EXPECT_EQ(once.min, each.min) << first;
            EXPECT_EQ(once.max, each.max) << first;
        }
        column.Store(absent, static_cast<double>(absent % 1000));
        column.Store(kPlotChunkPoints + 1, static_cast<double>((kPlotChunkPoints + 1) % 1000));
        column.Store(kPlotChunkPoints, storage == EPlotStorage::kInt32 ? 2.5 : 1e300);
        EXPECT_EQ(column.Storage(), EPlotStorage::kDouble);
        for (std::int64_t i = 0; i < size; ++i) {
            const double expected = i != kPlotChunkPoints ? static_cast<double>(i % 1000)
                                    : storage == EPlotStorage::kInt32 ? 2.5
                                                                      : 1e300;
            ASSERT_EQ(column.At(i), expected) << i;
        }
        EXPECT_EQ(column.At(size), 0.0);
        EXPECT_TRUE(std::isnan(column.At(size + 10)));
        EXPECT_EQ(column.At(size + 11), 0.0);
    }
}

// Whole names of channels 0 to 36, the hour meter too; nothing else is a channel.
TEST(PlotDataTest, FindChannelMatchesWholeNamesBelowTheChannelCount) {
    const CPlotData store;
    for (const auto& [name, channel] : {std::pair("Hour Meter", 0), {"Signal", 30},
                                        {"Charge Current", 36}, {"signal", -1}, {"Hour", -1},
                                        {"MJD", -1}}) {
        EXPECT_EQ(store.FindChannel(name), channel) << name;
    }
}

}  // namespace
}  // namespace corvane3
