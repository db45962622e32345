#include "app/ProfileFile.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/TempDir.h"

namespace corvane3 {
namespace {

TEST(ProfileFileTest, ReadsValuesLikeTheProfileServices) {
    testing::TempDir dir;
    const auto path = dir.Path() / "a.ini";
    std::ofstream(path) << "[COM]\r\n  portname =  \"/dev/ttyS0\" \r\nBaudRate=19200 ; fast\r\n"
                           "Empty=\r\nWord=abc\r\n; Hidden=1\r\n[Other]\r\nBaudRate=1\r\n";
    const CProfileFile profile(path);
    EXPECT_EQ(profile.GetString("com", "PortName", "x"), "/dev/ttyS0");
    EXPECT_EQ(profile.GetString("COM", "Missing", "dflt"), "dflt");
    EXPECT_EQ(profile.GetString("COM", "Hidden", "dflt"), "dflt");
    EXPECT_EQ(profile.GetString("Nowhere", "BaudRate", "dflt"), "dflt");
    EXPECT_EQ(profile.GetInt("COM", "BaudRate", 0), 19200);
    EXPECT_EQ(profile.GetInt("COM", "Empty", 7), 7);
    EXPECT_EQ(profile.GetInt("COM", "Word", 7), 0);
    EXPECT_EQ(profile.GetInt("COM", "Missing", 7), 7);
}

TEST(ProfileFileTest, SaveIsAtomicAndFailsCleanlyOnAnUnwritableFolder) {
    testing::TempDir dir;
    CProfileFile profile(dir.Path() / "a.ini");
    profile.WriteString("S", "K", "v");
    ASSERT_TRUE(profile.Save());
    EXPECT_EQ(CProfileFile(dir.Path() / "a.ini").GetString("s", "k", ""), "v");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()),
                            std::filesystem::directory_iterator()),
              1);  // no temporary file left behind

    CProfileFile unwritable("/proc/corvane3-test/a.ini");
    unwritable.WriteString("S", "K", "v");
    EXPECT_FALSE(unwritable.Save());
}

}  // namespace
}  // namespace corvane3
