// Statistics taken a block at a time must be bit for bit those taken value by value: the file
// summary prints them to the last digit either way.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "core/plot/Statistics.h"

namespace corvane3 {
namespace {

bool SameBits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(StatisticsBlocksTest, BlocksGiveTheBitsOfOneValueAtATime) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const double big = std::numeric_limits<double>::max();
    const std::vector<std::vector<double>> cases{
        {24.125, 24.5, 23.75, -0.0, 0.0, 1e-300, 24.1},
        {nan, nan, 3.0, -2.0, nan, 7.5},  // absent values first and between
        {1.0, inf, 2.0, -inf, 3.0},       // infinities among finite values
        {-inf, 5.0, 6.0},                 // an infinity before any finite value
        {big, big, -big, 1.0},            // deviations that overflow
        {-big, big, 0.5},
        {2.0e9 + 0.25, 2.0e9 - 0.5, 2.0e9, 2.0e9 + 1.0}};  // a large offset
    for (const std::vector<double>& values : cases) {
        CMergeableStatistics one;
        for (double value : values) {
            one.Add(value);
        }
        const ChannelStatistics expected = one.Result();
        for (std::size_t block = 1; block <= values.size(); ++block) {
            CMergeableStatistics blocks;
            for (std::size_t i = 0; i < values.size(); i += block) {
                blocks.AddAll(values.data() + i, std::min(block, values.size() - i));
            }
            const ChannelStatistics got = blocks.Result();
            EXPECT_EQ(got.count, expected.count) << values[0] << ", block " << block;
            for (const auto& [a, b] : {std::pair{got.min, expected.min},
                                       {got.max, expected.max},
                                       {got.mean, expected.mean},
                                       {got.sigma, expected.sigma}}) {
                EXPECT_TRUE(SameBits(a, b))
                    << a << " != " << b << ": " << values[0] << ", block " << block;
            }
        }
    }
}

}  // namespace
}  // namespace corvane3
