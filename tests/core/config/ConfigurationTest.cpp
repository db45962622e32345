#include "core/config/Configuration.h"
#include "core/config/ProfileFile.h"
#include "core/program/Corvane3App.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <fstream>
#include <sstream>
#include <tuple>

#include "support/TelemetryTestData.h"
#include "support/TempDir.h"

namespace corvane3 {
namespace {

namespace fs = std::filesystem;
using testing::FileText;

class ConfigurationTest : public ::testing::Test {
  protected:
    std::filesystem::path WriteIni(const std::string& text) {
        const auto path = dir_.Path() / "Corvane3.ini";
        std::ofstream(path) << text;
        return path;
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
    SaveConfiguration(profile, settings_, line_);
    ASSERT_TRUE(profile.Save());
    EXPECT_EQ(FileText(path),
              "[Main]\nPollingEnabled=true\nPollingInterval=10\nRecordDataFile=false\n"
              "DatafileDirectory=\nDataFilenameTemplate=Unit%ld.csd\nDesktopNotifications=true\n"
              "[COM]\nPortName=COM1\nBaudRate=9600\nParity=Odd\nStopBits=2\nDataBits=7\n"
              "[Plot]\nXscale=0\nXunits=0\nYscale=1\nClockStuff=15:2:3:5:1\n"
              "ZeemanStuff=15:6:7:9:10\nGainStuff=15:12:13:14:4\nCBTSuppliesStuff=20:16:17:18:19\n"
              "PSStuff=15:21:22:23:24\nTq9000Stuff=36:35:34:33:32\nFactoryStuff=15:26:27:28:29\n"
              "User1Stuff=15:2:3:5:1\nUser2Stuff=15:2:3:5:1\n");
}

// Section and key names match whatever their case under a locale whose capital I is no ASCII
// letter's capital (a hand-written file on a Turkish system); saving keeps one section each.
TEST_F(ConfigurationTest, NamesMatchInAnyCaseUnderATurkishLocale) {
    const std::string before = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, "tr_TR.UTF-8"), nullptr)
        << "tr_TR.UTF-8 is missing: scripts/setup-deps generates it";
    for (const std::string& text :
         {std::string("[MAIN]\nPOLLINGINTERVAL=5\nRECORDDATAFILE=TRUE\n[com]\nPARITY=EVEN\n"),
          std::string("[main]\npollinginterval=5\nrecorddatafile=true\n[COM]\nparity=e\n")}) {
        SCOPED_TRACE(text);
        const auto path = WriteIni(text);
        CProfileFile profile(path);
        LoadConfiguration(profile, settings_, line_);
        EXPECT_EQ(std::tie(settings_.PollingInterval, settings_.RecordDataFile, line_.parity),
                  std::tuple(5, true, kParityEven));
        SaveConfiguration(profile, settings_, line_);
        ASSERT_TRUE(profile.Save());
        const std::string saved = FileText(path);
        for (const char* section : {"[main]", "[com]", "[plot]"}) {
            std::string lower = saved;
            std::transform(lower.begin(), lower.end(), lower.begin(),
                           [](char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; });
            EXPECT_EQ(lower.find(section), lower.rfind(section)) << section << " twice:\n" << saved;
        }
    }
    std::setlocale(LC_ALL, before.c_str());
}

// The interval is clamped and a non-number gives the minimum; a flag is on only for "true".
TEST_F(ConfigurationTest, IntervalIsClampedAndFlagsAreOnOnlyForTrueInAnyCase) {
    const std::tuple<std::string, int, bool> cases[] = {{"1", 2, false},
                                                        {"500000", 100000, false},
                                                        {"abc", 2, false},
                                                        {"-5", 2, false},
                                                        {"99999999999999999999", 100000, false},
                                                        {"  37 ; half a minute", 37, false},
                                                        {"TRUE ; comment", 2, true},
                                                        {"True", 2, true},
                                                        {"yes", 2, false}};
    for (const auto& [text, interval, flag] : cases) {
        Load("[Main]\nPollingInterval=" + text + "\nPollingEnabled=" + text +
             "\nRecordDataFile=" + text + "\n");
        EXPECT_EQ(settings_.PollingInterval, interval) << text;
        EXPECT_EQ(settings_.PollingEnabled, flag) << text;
        EXPECT_EQ(settings_.RecordDataFile, flag) << text;
    }
}

// Desktop notifications are on unless the file switches them off; a file of an earlier version
// gets the key appended to its Main section, and every other byte stays.
TEST_F(ConfigurationTest, DesktopNotificationsAreOnUnlessSwitchedOffAndRoundTrip) {
    const std::pair<std::string, bool> cases[] = {{"", true},
                                                  {"DesktopNotifications=FALSE\n", false},
                                                  {"DesktopNotifications=0 ; quiet\n", false},
                                                  {"DesktopNotifications=1\n", true},
                                                  {"DesktopNotifications=\n", true},
                                                  {"DesktopNotifications=ja\n", true}};
    for (const auto& [line, on] : cases) {
        settings_.DesktopNotifications = !on;
        Load("[Main]\n" + line);
        EXPECT_EQ(settings_.DesktopNotifications, on) << line;
    }
    const auto path = WriteIni("[Main]\r\nPollingInterval=30\r\n[COM]\r\nPortName=/dev/ttyS0\r\n");
    for (const bool on : {false, true}) {
        CProfileFile profile(path);
        LoadConfiguration(profile, settings_, line_);
        EXPECT_EQ(settings_.DesktopNotifications, !on);
        settings_.DesktopNotifications = on;
        SaveConfiguration(profile, settings_, line_);
        ASSERT_TRUE(profile.Save());
        const std::string text = FileText(path);
        const std::string expected = std::string("DataFilenameTemplate=Unit%ld.csd\r\n") +
                                     "DesktopNotifications=" + (on ? "true" : "false") +
                                     "\r\n[COM]\r\nPortName=/dev/ttyS0\r\n";
        EXPECT_EQ(text.rfind("[Main]\r\nPollingInterval=30\r\nPollingEnabled=true\r\n", 0), 0u)
            << text;
        EXPECT_NE(text.find(expected), std::string::npos) << text;
    }
}

TEST_F(ConfigurationTest, LineSettingsAcceptOnlyKnownValues) {
    for (const auto& [ini, expected] :
         {std::pair("PortName=/dev/ttyUSB0 \t; usb\nParity=even\nBaudRate=19200\nDataBits=8\n"
                    "StopBits=1\n",
                    SerialLineSettings{"/dev/ttyUSB0", 19200, kParityEven, kStopBitsOne, 8}),
          {"Parity=E\n", SerialLineSettings{.parity = kParityEven}},
          // Unknown values keep the current ones.
          {"Parity=xmark\nBaudRate=14400\nDataBits=6\nStopBits=1.5\n", SerialLineSettings{}}}) {
        line_ = SerialLineSettings{};
        Load(std::string("[COM]\n") + ini);
        EXPECT_EQ(line_, expected) << ini;
    }
}

TEST_F(ConfigurationTest, PlotViewWithTwoNumbersChangesOnlyTwoChannels) {
    Load("[Plot]\nClockStuff=40:41\nGainStuff=1:2:x:4:5\nUser1Stuff=9:8:7:6:5\n");
    EXPECT_EQ(settings_.PlotViews[0].channels, (std::array<int, 5>{40, 41, 3, 5, 1}));
    EXPECT_EQ(settings_.PlotViews[2].channels, (std::array<int, 5>{1, 2, 13, 14, 4}));
    EXPECT_EQ(settings_.PlotViews[7].channels, (std::array<int, 5>{9, 8, 7, 6, 5}));
}

// The program's own start and end: what the user is told, and what is (not) written. (Files
// without read or write permission are tried by the end-to-end test.)
TEST_F(ConfigurationTest, ProblemsAreToldAndAFileThatCouldNotBeReadIsNeverWritten) {
    // Each row: the file (empty: the configuration path is a folder), the template then, and
    // what is said at the start and at the end.
    using Case = std::tuple<const char*, std::string, std::string, std::string, std::string>;
    for (const auto& [what, ini, nameTemplate, startMessage, exitError] :
         {Case{"folder", "", "Unit%ld.csd", "could not be read", "could not be read at start"},
          {"path", "[Main]\nDataFilenameTemplate=../../escape%ld.csd\n", "Unit%ld.csd",
           "\"../../escape%ld.csd\" cannot be used", ""},
          {"int", "[Main]\nDataFilenameTemplate=Unit%d.csd\n", "Unit%d.csd", "", ""}}) {
        const auto path = dir_.Path() / what / "Corvane3.ini";
        std::filesystem::create_directories(ini.empty() ? path : path.parent_path());
        if (!ini.empty()) {
            std::ofstream(path) << ini;
        }
        Corvane3App app;
        std::ostringstream warnings;
        app.SetWarningStream(&warnings);
        app.InitialiseStartup(dir_.Path() / "corvane3", path);
        app.LoadConfiguration();
        EXPECT_EQ(app.settings.DataFilenameTemplate, nameTemplate) << what;
        std::string told;
        for (const std::string& message : app.StartupMessages()) {
            told += "corvane3: " + message + "\n";
        }
        EXPECT_EQ(told, warnings.str());
        EXPECT_EQ(app.StartupMessages().size(), startMessage.empty() ? 0u : 1u) << told;
        EXPECT_NE(told.find(startMessage), std::string::npos) << told;
        // Readable by the end makes no difference: the settings in memory are not the file's.
        if (ini.empty()) {
            std::filesystem::remove(path);
            std::ofstream(path) << "; mine\n";
        }
        std::string error;
        EXPECT_EQ(app.SaveConfiguration(error), exitError.empty()) << what;
        EXPECT_NE(error.find(exitError), std::string::npos) << error;
        if (!exitError.empty()) {
            EXPECT_EQ(FileText(path), "; mine\n");
        }
    }
}

TEST(ConfigurationPathTest, OverrideWinsThenBesideTheExecutableThenXdgAndAlwaysXdgWhenInstalled) {
    testing::TempDir dir;
    EXPECT_EQ(ResolveConfigurationPath(dir.Path() / "corvane3", "/x/My.ini"), "/x/My.ini");
    EXPECT_EQ(ResolveConfigurationPath(dir.Path() / "corvane3", ""), dir.Path() / "Corvane3.ini");

    // A folder that cannot be written to (root may write almost anywhere; a missing one cannot).
    ::setenv("XDG_CONFIG_HOME", dir.Path().c_str(), 1);
    EXPECT_EQ(ResolveConfigurationPath("/no-such-folder/corvane3", ""),
              dir.Path() / "corvane3" / "Corvane3.ini");
    // The installed program, even where it could write (root in /usr/bin).
    std::filesystem::create_directory(dir.Path() / "bin");
    EXPECT_EQ(ResolveConfigurationPath(dir.Path() / "bin" / "corvane3", "", dir.Path() / "bin"),
              dir.Path() / "corvane3" / "Corvane3.ini");
    ::unsetenv("XDG_CONFIG_HOME");
}

TEST(BrandNameTest, KnownFolderNamesInAnyCaseGiveTheBrand) {
    EXPECT_EQ(BrandNameForExecutable("/opt/release/corvane3"), "Quillmarket");
    EXPECT_EQ(BrandNameForExecutable("/opt/Quillm~1/corvane3"), "Quillmarket");
    EXPECT_EQ(BrandNameForExecutable("/opt/release-old/corvane3"), "");
}

using ProfileFileTest = ConfigurationTest;

TEST_F(ProfileFileTest, ReadsValuesLikeTheProfileServices) {
    const auto path = dir_.Path() / "a.ini";
    std::ofstream(path) << "[COM]\r\n  portname =  \"/dev/ttyS0\" \r\nEmpty=\r\n; Hidden=1\r\n"
                           "[Other]\r\nBaudRate=1\r\n";
    const CProfileFile profile(path);
    EXPECT_EQ(profile.GetString("com", "PortName", "x"), "/dev/ttyS0");
    EXPECT_EQ(profile.GetString("COM", "Hidden", "dflt"), "dflt");
    EXPECT_EQ(profile.GetString("Nowhere", "BaudRate", "dflt"), "dflt");
    EXPECT_EQ(profile.GetInt("COM", "Empty", 7), 7);
}

TEST_F(ProfileFileTest, SaveWritesThroughLinksKeepsLineEndsAndModeAndClearsDeadTemporaries) {
    const fs::path target = dir_.Path() / "real" / "Corvane3.ini";
    fs::create_directory(target.parent_path());
    std::ofstream(target) << "; dos file\r\n[Main]\r\nA=1\r\n";
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
    const fs::path link = dir_.Path() / "Corvane3.ini";
    fs::create_symlink("real/Corvane3.ini", link);

    // What a killed save leaves: a temporary of a process that is gone; a live one is kept.
    const pid_t gone = ::fork();
    if (gone == 0) {
        ::_exit(0);
    }
    ::waitpid(gone, nullptr, 0);
    const fs::path dead = target.string() + ".tmp" + std::to_string(gone);
    const fs::path live = target.string() + ".tmp" + std::to_string(::getppid());
    std::ofstream(dead) << "half";
    std::ofstream(live) << "busy";

    CProfileFile profile(link);
    profile.WriteString("main", "a", "2");
    profile.WriteString("COM", "B", "3");
    ASSERT_TRUE(profile.Save());
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(FileText(target), "; dos file\r\n[Main]\r\nA=2\r\n[COM]\r\nB=3\r\n");
    EXPECT_EQ(fs::status(target).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_FALSE(fs::exists(dead));
    EXPECT_TRUE(fs::exists(live));
    fs::remove(live);
    EXPECT_EQ(std::distance(fs::directory_iterator(target.parent_path()), {}), 1);
    EXPECT_FALSE(CProfileFile("/proc/corvane3-test/a.ini").Save());
}

// A FIFO or a file with a line longer than any setting is never read (nor blocks
// the start, nor fills the memory) and so never written over.
TEST_F(ProfileFileTest, AFifoOrAFileWithAnEndlessLineIsUnreadableAndLeftAlone) {
    const auto fifo = dir_.Path() / "fifo.ini";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto endless = dir_.Path() / "endless.ini";
    std::ofstream(endless) << "[Main]\nPollingEnabled=true\n" << std::string((1 << 20) + 1, 'x');
    const auto longest = dir_.Path() / "longest.ini";
    std::ofstream(longest) << "[Main]\nKey=" << std::string((1 << 20) - 4, 'x') << "\n";
    using enum CProfileFile::ELoadStatus;
    for (const auto& [path, status, error] :
         {std::tuple{fifo, kUnreadable, "not a regular file"},
          std::tuple{endless, kUnreadable, "line 3 is longer than 1 MiB"},
          std::tuple{longest, kRead, ""}}) {
        SCOPED_TRACE(path.string());
        CProfileFile profile(path);
        EXPECT_EQ(profile.Status(), status);
        EXPECT_EQ(profile.LoadError(), error);
        if (status == kUnreadable) {
            EXPECT_FALSE(profile.Save());
        }
    }
    EXPECT_EQ(std::filesystem::status(fifo).type(), std::filesystem::file_type::fifo);
}

// What the program holds is what it saves: Mark parity, one and a half stop bits (as 2, the
// nearest the file knows) and a changed plot view read back after a restart.
TEST_F(ConfigurationTest, MarkParityHalfStopBitsAndAChangedPlotViewAreSaved) {
    Load("[COM]\nParity=Mark\n[Plot]\nClockStuff=40:41\n");
    line_.stopBits = kStopBitsOneAndHalf;
    settings_.PlotViews[0].channels[4] = 18;
    CProfileFile profile(dir_.Path() / "Corvane3.ini");
    SaveConfiguration(profile, settings_, line_);
    ASSERT_TRUE(profile.Save());
    const std::string saved = FileText(dir_.Path() / "Corvane3.ini");
    for (const char* line : {"Parity=Mark\n", "StopBits=2\n", "ClockStuff=40:41:3:5:18\n"}) {
        EXPECT_NE(saved.find(line), std::string::npos) << line << saved;
    }
}

}  // namespace
}  // namespace corvane3
