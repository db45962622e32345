// corvane3-sim run as a user runs it: the path on the first line, a D*1 record on request, a
// clean exit. A disconnect and the reconnect after it are run by the headless runs' faults.

#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <atomic>

#include "core/link/SerialPort.h"
#include "core/link/TolvexLink.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace corvane3::testing {
namespace {

std::size_t D1Length(const std::string& port) {
    CLinkStatus status;
    CSerialPort serial(status);
    serial.SetSettings({.name = port});
    const std::atomic<std::int32_t> model{403};
    CTolvexLink link(serial, model);
    std::string record;
    if (serial.OpenPort() && serial.ConfigurePort() && link.SendCmd("D*1", 0, {})) {
        serial.ReadBytes(250, record);
    }
    return record.size();
}

TEST(SimProgram, ServesAtItsLinkAndRemovesItOnExit) {
    TempDir dir;
    const std::string link = (dir.Path() / "clock").string();
    ChildProcess program({CORVANE3_SIM_PROGRAM, "--model", "403", "--warmup", "0", "--link", link});
    const std::string first = program.ReadLine();
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), first);
    EXPECT_EQ(D1Length(link), 250u);

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
