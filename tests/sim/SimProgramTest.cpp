// corvane3-sim run as a user runs it: the path on the first line, a clean exit. Its records are
// read by the headless runs against it, which also run a disconnect and the reconnect after it.

#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace corvane3::testing {
namespace {

TEST(SimProgram, ServesAtItsLinkAndRemovesItOnExit) {
    TempDir dir;
    const std::string link = (dir.Path() / "clock").string();
    ChildProcess program({CORVANE3_SIM_PROGRAM, "--model", "403", "--warmup", "0", "--link", link});
    const std::string first = program.ReadLine();
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), first);

    program.Signal(SIGTERM);
    EXPECT_EQ(program.Wait(), 0);
    EXPECT_FALSE(std::filesystem::is_symlink(link));
}

TEST(SimProgram, RefusesAReplayThatIsNoRegularFileWithItsReason) {
    TempDir dir;
    const std::string fifo = (dir.Path() / "transcript.fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // A FIFO nobody writes would hold the simulator for ever; a folder would replay nothing.
    for (const auto& [path, reason] :
         {std::pair{dir.Path().string(), "Is a directory"}, {fifo, "not a regular file"}}) {
        ChildProcess program({CORVANE3_SIM_PROGRAM, "--replay", path});
        EXPECT_EQ(program.Wait(), 2) << path;
        EXPECT_NE(program.Err().find("cannot read " + path + ": " + reason), std::string::npos)
            << program.Err();
    }
}

}  // namespace
}  // namespace corvane3::testing
