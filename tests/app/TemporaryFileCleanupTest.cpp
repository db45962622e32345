// The file commands' interrupt handling, in a child process that the signal ends.

#include "app/TemporaryFileCleanup.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "support/TempDir.h"

namespace corvane3 {
namespace {

TEST(TemporaryFileCleanupTest, EachSignalRemovesTheNamedFileAndEndsWithItsStatus) {
    testing::TempDir dir;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        const auto named = dir.Path() / "out.csv.tmp1";
        const auto cleared = dir.Path() / "other.csv.tmp2";
        std::ofstream(named) << "half";
        std::ofstream(cleared) << "whole";
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            InstallTemporaryFileCleanup();
            SetTemporaryFileToRemove(cleared.string());
            SetTemporaryFileToRemove("");
            SetTemporaryFileToRemove(named.string());
            ::raise(signal);
            ::_exit(0);  // not reached
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 128 + signal);
        EXPECT_FALSE(std::filesystem::exists(named));
        EXPECT_TRUE(std::filesystem::exists(cleared));
        std::filesystem::remove(cleared);
    }
}

}  // namespace
}  // namespace corvane3
