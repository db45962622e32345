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

TEST(FieldScanTest, FindsTheFieldsAndLettersOfAByteByByteWalkAndStopsWhenTold) {
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
    // The walk stops where the visit says so.
    const std::string line = std::string(100, '9') + ",1,2";
    std::size_t visits = 0;
    EXPECT_FALSE(
        ForEachField(line.data(), line.data() + line.size(), 10,
                     [&](std::size_t, const char*, const char*, bool) { return ++visits < 2; }));
    EXPECT_EQ(visits, 2u);
}

// The quick check of a whole line may only pass a line whose fields a walk finds short, fewer
// than the limit in number and free of letters where they matter; it must pass ordinary lines.
TEST(FieldScanTest, AQuickLineCheckPassesOnlyWhatTheWalkFindsFine) {
    constexpr std::size_t kMaxLength = 31;
    constexpr std::size_t kMaxFields = 8;
    const auto letterMatters = [](std::size_t k) { return k % 3 == 1; };
    std::mt19937 random(5);
    int passed = 0;
    for (int i = 0; i < 3000; ++i) {
        // Fields of 0 to 34 bytes, so that long ones fall across the 64-byte blocks anywhere.
        std::string line;
        const std::size_t fields = 1 + random() % (kMaxFields + 1);
        for (std::size_t k = 0; k < fields; ++k) {
            std::string field(random() % 35, "12345.-"[random() % 7]);
            if (random() % 8 == 0) {
                field.insert(
                    field.begin() + static_cast<std::ptrdiff_t>(random() % (field.size() + 1)),
                    'e');
            }
            line += field + (k + 1 < fields ? "," : "");
        }
        const std::vector<Field> walked = Walked(line, kMaxFields + 1);
        bool fine = walked.size() <= kMaxFields;
        for (std::size_t k = 0; k < walked.size(); ++k) {
            const auto [begin, length, letter] = walked[k];
            fine = fine && length <= kMaxLength && !(letter && letterMatters(k));
        }
        const bool quick = FieldsShortAndLetterFree(line.data(), line.data() + line.size(),
                                                    kMaxFields, kMaxLength, letterMatters);
        EXPECT_TRUE(!quick || fine) << '"' << line << '"';
        passed += quick ? 1 : 0;
    }
    const std::string ordinary = "60123.000116,13,-336," + std::string(31, '7') + ",3,Ready";
    EXPECT_TRUE(FieldsShortAndLetterFree(ordinary.data(), ordinary.data() + ordinary.size(),
                                         kMaxFields, kMaxLength, letterMatters));
    EXPECT_GT(passed, 100);
}

}  // namespace
}  // namespace corvane3
