// corvane3-sim run as a user runs it: the path on the first line, a D*1 record on request,
// end of file on a disconnect, the --link path back after --reconnect, a clean exit.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "core/link/SerialPort.h"
#include "core/link/TolvexLink.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace corvane3::testing {
namespace {

using namespace std::chrono_literals;

std::size_t D1Length(const std::string& port) {
    CLinkStatus status;
    CSerialPort serial(status);
    SerialLineSettings line;
    line.name = port;
    serial.SetSettings(line);
    const std::atomic<std::int32_t> model{403};
    CTolvexLink link(serial, model);
    std::string record;
    if (serial.OpenPort() && serial.ConfigurePort() && link.SendCmd("D*1", 0, {})) {
        serial.ReadBytes(250, record);
    }
    return record.size();
}

TEST(SimProgram, ServesDisconnectsReconnectsAndCleansUp) {
    TempDir dir;
    const std::string link = (dir.Path() / "clock").string();
    ChildProcess program({CORVANE3_SIM_PROGRAM, "--model", "403", "--warmup", "0", "--link", link,
                          "--reconnect", "0.2"});
    const std::string first = program.ReadLine();
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), first);
    EXPECT_EQ(D1Length(link), 250u);

    const int fd = ::open(link.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    program.Signal(SIGUSR1);
    pollfd pfd{fd, POLLIN, 0};
    ASSERT_GT(::poll(&pfd, 1, kGenerousMs), 0);
    char byte = 0;
    EXPECT_EQ(::read(fd, &byte, 1), 0);  // end of file
    ::close(fd);

    // Wait for the new terminal behind the link (it may reuse the old number).
    std::size_t length = 0;
    for (int i = 0; i < kGenerousMs / 10 && length != 250u; ++i) {
        std::this_thread::sleep_for(10ms);
        length = D1Length(link);
    }
    EXPECT_EQ(length, 250u);

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
