#include "app/Configuration.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "support/TempDir.h"

namespace corvane3 {
namespace {

class ConfigurationTest : public ::testing::Test {
  protected:
    std::filesystem::path WriteIni(const std::string& text) {
        const auto path = dir_.Path() / "Corvane3.ini";
        std::ofstream(path) << text;
        return path;
    }
    static std::string ReadFile(const std::filesystem::path& path) {
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    void Load(const std::string& text) {
        LoadConfiguration(CProfileFile(WriteIni(text)), settings_, line_);
    }

    testing::TempDir dir_;
    CProgramSettings settings_;
    SerialLineSettings line_;
};

TEST_F(ConfigurationTest, MissingFileGivesDefaultsAndSaveWritesAllSectionsInOrder) {
    const auto path = dir_.Path() / "sub" / "Corvane3.ini";
    CProfileFile profile(path);
    LoadConfiguration(profile, settings_, line_);
    EXPECT_TRUE(settings_.PollingEnabled);
    EXPECT_EQ(settings_.PollingInterval, 10);
    EXPECT_FALSE(settings_.RecordDataFile);
    EXPECT_EQ(settings_.DataFilenameTemplate, "Unit%ld.csd");
    EXPECT_EQ(line_, SerialLineSettings{});

    SaveConfiguration(profile, settings_, line_);
    ASSERT_TRUE(profile.Save());
    EXPECT_EQ(ReadFile(path),
              "[Main]\nPollingEnabled=true\nPollingInterval=10\nRecordDataFile=false\n"
              "DatafileDirectory=\nDataFilenameTemplate=Unit%ld.csd\n"
              "[COM]\nPortName=COM1\nBaudRate=9600\nParity=Odd\nStopBits=2\nDataBits=7\n"
              "[Plot]\nXscale=0\nXunits=0\nYscale=1\nClockStuff=15:2:3:5:1\n"
              "ZeemanStuff=15:6:7:9:10\nGainStuff=15:12:13:14:4\nCBTSuppliesStuff=20:16:17:18:19\n"
              "PSStuff=15:21:22:23:24\nTq9000Stuff=36:35:34:33:32\nFactoryStuff=15:26:27:28:29\n"
              "User1Stuff=15:2:3:5:1\nUser2Stuff=15:2:3:5:1\n");
}

TEST_F(ConfigurationTest, PollingIntervalIsClampedAndNonNumbersGiveTheMinimum) {
    const std::pair<std::string, int> cases[] = {
        {"1", 2},
        {"500000", 100000},
        {"abc", 2},
        {"  37 ; every half minute", 37},
        {"99999999999999999999", 100000},
        {"-5", 2},
    };
    for (const auto& [text, expected] : cases) {
        Load("[Main]\nPollingInterval=" + text + "\n");
        EXPECT_EQ(settings_.PollingInterval, expected) << text;
    }
}

TEST_F(ConfigurationTest, BooleansAreOnOnlyForTrueInAnyCase) {
    Load("[Main]\nPollingEnabled=TRUE ; comment\nRecordDataFile=True\n");
    EXPECT_TRUE(settings_.PollingEnabled);
    EXPECT_TRUE(settings_.RecordDataFile);
    Load("[Main]\nPollingEnabled=yes\nRecordDataFile=1\n");
    EXPECT_FALSE(settings_.PollingEnabled);
    EXPECT_FALSE(settings_.RecordDataFile);
}

TEST_F(ConfigurationTest, LineSettingsAcceptOnlyKnownValues) {
    Load(
        "[COM]\nPortName=/dev/ttyUSB0 ; adapter\nParity=even\nBaudRate=19200\nDataBits=8\n"
        "StopBits=1\n");
    EXPECT_EQ(line_.name, "/dev/ttyUSB0");
    EXPECT_EQ(line_.parity, kParityEven);
    EXPECT_EQ(line_.baudRate, 19200u);
    EXPECT_EQ(line_.dataBits, 8u);
    EXPECT_EQ(line_.stopBits, kStopBitsOne);

    line_ = SerialLineSettings{};
    Load("[COM]\nParity=E\n");
    EXPECT_EQ(line_.parity, kParityEven);

    line_ = SerialLineSettings{};
    Load("[COM]\nParity=xmark\nBaudRate=14400\nDataBits=6\nStopBits=1.5\n");
    EXPECT_EQ(line_.parity, kParityOdd);
    EXPECT_EQ(line_.baudRate, 9600u);
    EXPECT_EQ(line_.dataBits, 7u);
    EXPECT_EQ(line_.stopBits, kStopBitsTwo);
}

TEST_F(ConfigurationTest, PlotViewWithTwoNumbersChangesOnlyTwoChannels) {
    Load("[Plot]\nClockStuff=40:41\nGainStuff=1:2:x:4:5\nUser1Stuff=9:8:7:6:5\n");
    EXPECT_EQ(settings_.PlotViews[0].channels, (std::array<int, 5>{40, 41, 3, 5, 1}));
    EXPECT_EQ(settings_.PlotViews[2].channels, (std::array<int, 5>{1, 2, 13, 14, 4}));
    EXPECT_EQ(settings_.PlotViews[7].channels, (std::array<int, 5>{9, 8, 7, 6, 5}));
}

TEST_F(ConfigurationTest, OneAndAHalfStopBitsAndMarkParitySaveAsTheirNames) {
    CProfileFile profile(dir_.Path() / "Corvane3.ini");
    line_.stopBits = kStopBitsOneAndHalf;
    line_.parity = kParityMark;
    SaveConfiguration(profile, settings_, line_);
    EXPECT_EQ(profile.GetString("COM", "StopBits", ""), "2");
    EXPECT_EQ(profile.GetString("COM", "Parity", ""), "Mark");
}

TEST_F(ConfigurationTest, SaveKeepsOtherKeysCommentsAndUpdatesInPlace) {
    const auto path =
        WriteIni("; my clock\n[main]\npollinginterval=30\nOperator=Ann\n\n[Extra]\nA=1\n");
    CProfileFile profile(path);
    LoadConfiguration(profile, settings_, line_);
    EXPECT_EQ(settings_.PollingInterval, 30);
    settings_.PollingInterval = 60;
    SaveConfiguration(profile, settings_, line_);
    ASSERT_TRUE(profile.Save());
    const std::string text = ReadFile(path);
    EXPECT_EQ(
        text.rfind("; my clock\n[main]\npollinginterval=60\nOperator=Ann\nPollingEnabled=true", 0),
        0u)
        << text;
    EXPECT_NE(text.find("\n\n[Extra]\nA=1\n[COM]\n"), std::string::npos) << text;
}

TEST(CleanIniValueTest, CutsCommentAndTrailingBlanks) {
    EXPECT_EQ(CleanIniValue("Odd \t; the default"), "Odd");
    EXPECT_EQ(CleanIniValue("  lead kept\t \t"), "  lead kept");
    EXPECT_EQ(CleanIniValue(";all comment"), "");
}

TEST(ConfigurationPathTest, OverrideWinsThenBesideTheExecutableThenXdg) {
    testing::TempDir dir;
    EXPECT_EQ(ResolveConfigurationPath(dir.Path() / "corvane3", "/x/My.ini"), "/x/My.ini");
    EXPECT_EQ(ResolveConfigurationPath(dir.Path() / "corvane3", ""), dir.Path() / "Corvane3.ini");

    // A folder that cannot be written to (root may write almost anywhere; a missing one cannot).
    ::setenv("XDG_CONFIG_HOME", dir.Path().c_str(), 1);
    EXPECT_EQ(ResolveConfigurationPath("/no-such-folder/corvane3", ""),
              dir.Path() / "corvane3" / "Corvane3.ini");
    ::unsetenv("XDG_CONFIG_HOME");
}

TEST(BrandNameTest, KnownFolderNamesInAnyCaseGiveTheBrand) {
    EXPECT_EQ(BrandNameForExecutable("/opt/release/corvane3"), "Quillmarket");
    EXPECT_EQ(BrandNameForExecutable("/opt/QUILLMARKET/corvane3"), "Quillmarket");
    EXPECT_EQ(BrandNameForExecutable("/opt/Quillm~1/corvane3"), "Quillmarket");
    EXPECT_EQ(BrandNameForExecutable("/opt/bin/corvane3"), "");
    EXPECT_EQ(BrandNameForExecutable("/opt/release-old/corvane3"), "");
}

}  // namespace
}  // namespace corvane3
