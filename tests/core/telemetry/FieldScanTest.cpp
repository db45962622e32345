// The block-wise field scan must find the fields a byte-by-byte walk finds, wherever commas and
// exponent letters fall against its 64-byte blocks.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "core/telemetry/FieldScan.h"

namespace corvane3 {
namespace {

using Field = std::tuple<std::size_t, std::size_t, bool>;  // begin, length, exponent letter

std::vector<Field> Scanned(const std::string& line, std::size_t maxFields) {
    std::vector<Field> fields;
    ForEachField(line.data(), line.data() + line.size(), maxFields,
                 [&](std::size_t k, const char* begin, const char* end, bool letter) {
                     EXPECT_EQ(k, fields.size());
                     fields.emplace_back(begin - line.data(), end - begin, letter);
                     return true;
                 });
    return fields;
}

std::vector<Field> Walked(const std::string& line, std::size_t maxFields) {
    std::vector<Field> fields;
    std::size_t begin = 0;
    while (fields.size() < maxFields) {
        const std::size_t end = std::min(line.find(',', begin), line.size());
        const std::string text = line.substr(begin, end - begin);
        fields.emplace_back(begin, end - begin, text.find_first_of("eEpP") != std::string::npos);
        if (end == line.size()) {
            break;
        }
        begin = end + 1;
    }
    return fields;
}

TEST(FieldScanTest, FindsTheFieldsAndLettersOfAByteByByteWalk) {
    std::vector<std::string> lines{"",
                                   ",",
                                   "1e5",
                                   "a,,b,",
                                   std::string(63, '1') + ",e",
                                   std::string(64, '2') + "," + std::string(70, 'E') + ",3",
                                   std::string(130, 'p')};
    // Lines of short fields, blanks and letters, of every length around the block size.
    std::mt19937 random(11);
    const std::string alphabet = "0123456789.,,,,eEpPxX -R";
    for (int i = 0; i < 400; ++i) {
        std::string line(random() % 200, ' ');
        std::ranges::generate(line, [&] { return alphabet[random() % alphabet.size()]; });
        lines.push_back(line);
    }
    for (const std::string& line : lines) {
        for (std::size_t maxFields :
             {std::size_t{0}, std::size_t{1}, std::size_t{3}, std::size_t{100}}) {
            EXPECT_EQ(Scanned(line, maxFields), Walked(line, maxFields))
                << '"' << line << "\" at most " << maxFields;
        }
    }
}

TEST(FieldScanTest, StopsWhereTheVisitSaysSo) {
    const std::string line = std::string(100, '9') + ",1,2";
    std::size_t visits = 0;
    EXPECT_FALSE(
        ForEachField(line.data(), line.data() + line.size(), 10,
                     [&](std::size_t, const char*, const char*, bool) { return ++visits < 2; }));
    EXPECT_EQ(visits, 2u);
}

}  // namespace
}  // namespace corvane3
