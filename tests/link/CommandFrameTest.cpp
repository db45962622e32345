#include "link/CommandFrame.h"

#include <gtest/gtest.h>

#include <cctype>

namespace corvane3 {
namespace {

TEST(CommandFrameTest, FramesAreBuiltByteForByte) {
    struct Case {
        const char* code;
        std::uint32_t parameter;
        const char* data;
        std::int32_t model;
        std::string frame;
    };
    const Case cases[] = {
        {"C10", 0, "", 403,
         std::string("\x02"
                     "C10 00000 \x03")},
        {"W00", 12345, "+0020", 403,
         std::string("\x02"
                     "W00 12345 +0020\x03")},
        {"W00", 7, "", 400,
         std::string("\x02"
                     "W00 00007 \x03")},
        {"C08", 99999, "00042", 401,
         std::string("\x02"
                     "C08 99999 00042\x03")},
        {"D*3", kFactoryAccessOption, "", 403,
         std::string("\x02"
                     "D*3 00000 \x03")},
        {"D*3", kFactoryAccessOption, "", 400,
         std::string("\x02"
                     "D*3 00000 \x03")},
        {"A4", 0, "?", 403,
         std::string("\x02"
                     " A4 00000 ?\x03")},
        {"A04", 123456, "0", 403,
         std::string("\x02"
                     "A04 123456 0\x03")},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BuildFrame(c.code, c.parameter, c.data, c.model), c.frame) << c.code;
    }
    EXPECT_EQ(BuildFrame("C10", 0, "", 403).size(), 12u);
    EXPECT_EQ(BuildFrame("W00", 12345, "+0020", 403).size(), 17u);
}

TEST(CommandFrameTest, FactoryAccessFieldGoesOnlyToModel401) {
    const std::string field = FactoryAccessField();
    ASSERT_EQ(field.size(), 5u);
    EXPECT_TRUE(std::isupper(static_cast<unsigned char>(field[0])));
    EXPECT_TRUE(std::isupper(static_cast<unsigned char>(field[1])));
    for (std::size_t i = 2; i < 5; ++i) {
        EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(field[i])) &&
                    !std::isupper(static_cast<unsigned char>(field[i])))
            << field;
    }
    EXPECT_EQ(BuildParameterField(kFactoryAccessOption, 401), field);
    EXPECT_EQ(BuildFrameHead("D*6", kFactoryAccessOption, 401),
              "\x02"
              "D*6 " +
                  field + " ");
}

TEST(CommandFrameTest, RefusalMarkIsTheThirdCharacterBeforeEtx) {
    EXPECT_TRUE(
        IsRefusal("\x02"
                  "C08 00042 !\r\n\x03"));
    EXPECT_TRUE(IsRefusal("!ab\x03"));
    EXPECT_FALSE(
        IsRefusal("\x02"
                  "C08 00042 OK\r\n\x03"));
    EXPECT_FALSE(IsRefusal("!\x03"));  // too short to carry a mark
    EXPECT_FALSE(IsRefusal(""));
}

}  // namespace
}  // namespace corvane3
