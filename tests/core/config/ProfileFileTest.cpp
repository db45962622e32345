#include "core/config/ProfileFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "support/TelemetryTestData.h"
#include "support/TempDir.h"

namespace corvane3 {
namespace {

namespace fs = std::filesystem;
using testing::FileText;

TEST(ProfileFileTest, ReadsValuesLikeTheProfileServices) {
    testing::TempDir dir;
    const auto path = dir.Path() / "a.ini";
    std::ofstream(path) << "[COM]\r\n  portname =  \"/dev/ttyS0\" \r\nBaudRate=19200 ; fast\r\n"
                           "Empty=\r\nWord=abc\r\n; Hidden=1\r\n[Other]\r\nBaudRate=1\r\n";
    const CProfileFile profile(path);
    EXPECT_EQ(profile.GetString("com", "PortName", "x"), "/dev/ttyS0");
    EXPECT_EQ(profile.GetString("COM", "Hidden", "dflt"), "dflt");
    EXPECT_EQ(profile.GetString("Nowhere", "BaudRate", "dflt"), "dflt");
    EXPECT_EQ(profile.GetInt("COM", "BaudRate", 0), 19200);
    EXPECT_EQ(profile.GetInt("COM", "Empty", 7), 7);
    EXPECT_EQ(profile.GetInt("COM", "Word", 7), 0);
    EXPECT_EQ(profile.GetInt("COM", "Missing", 7), 7);
}

TEST(ProfileFileTest, SaveWritesThroughLinksKeepsLineEndsAndModeAndClearsDeadTemporaries) {
    testing::TempDir dir;
    const fs::path target = dir.Path() / "real" / "Corvane3.ini";
    fs::create_directory(target.parent_path());
    std::ofstream(target) << "; dos file\r\n[Main]\r\nA=1\r\n";
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
    const fs::path link = dir.Path() / "Corvane3.ini";
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
TEST(ProfileFileTest, AFifoOrAFileWithAnEndlessLineIsUnreadableAndLeftAlone) {
    testing::TempDir dir;
    const auto fifo = dir.Path() / "fifo.ini";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto endless = dir.Path() / "endless.ini";
    std::ofstream(endless) << "[Main]\nPollingEnabled=true\n" << std::string((1 << 20) + 1, 'x');
    const auto longest = dir.Path() / "longest.ini";
    std::ofstream(longest) << "[Main]\nKey=" << std::string((1 << 20) - 4, 'x') << "\n";
    struct Case {
        std::filesystem::path path;
        CProfileFile::ELoadStatus status;
        std::string error;
    };
    for (const Case& c :
         {Case{fifo, CProfileFile::ELoadStatus::kUnreadable, "not a regular file"},
          Case{endless, CProfileFile::ELoadStatus::kUnreadable, "line 3 is longer than 1 MiB"},
          Case{longest, CProfileFile::ELoadStatus::kRead, ""}}) {
        SCOPED_TRACE(c.path.string());
        CProfileFile profile(c.path);
        EXPECT_EQ(profile.Status(), c.status);
        EXPECT_EQ(profile.LoadError(), c.error);
        if (c.status == CProfileFile::ELoadStatus::kUnreadable) {
            EXPECT_FALSE(profile.Save());
        }
    }
    EXPECT_EQ(std::filesystem::status(fifo).type(), std::filesystem::file_type::fifo);
}

}  // namespace
}  // namespace corvane3
