// corvane3-sim run as a user runs it: the path on the first line, a D*1 record on request,
// end of file on a disconnect, the --link path back after --reconnect, a clean exit.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "link/CommandFrame.h"
#include "link/SerialPort.h"
#include "link/TolvexLink.h"
#include "support/TempDir.h"

extern char** environ;

namespace corvane3::testing {
namespace {

using namespace std::chrono_literals;
constexpr int kGenerousMs = 10000;

// The program with its standard output on a pipe.
class SimProgram {
  public:
    explicit SimProgram(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), CORVANE3_SIM_PROGRAM);
        std::vector<char*> argv;
        for (std::string& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        int out[2];
        if (::pipe(out) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        stdout_ = out[0];
    }
    ~SimProgram() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (stdout_ >= 0)
            ::close(stdout_);
    }
    // Standard output up to the first LF (or end of output), waiting up to the bound.
    std::string ReadLine() {
        std::string line;
        char c = 0;
        pollfd pfd{stdout_, POLLIN, 0};
        while (::poll(&pfd, 1, kGenerousMs) > 0 && ::read(stdout_, &c, 1) == 1 && c != '\n') {
            line += c;
        }
        return line;
    }
    // Standard output up to its end.
    std::string ReadAll() {
        std::string text;
        char block[4096];
        pollfd pfd{stdout_, POLLIN, 0};
        ssize_t n = 0;
        while (::poll(&pfd, 1, kGenerousMs) > 0 && (n = ::read(stdout_, block, sizeof block)) > 0) {
            text.append(block, static_cast<std::size_t>(n));
        }
        return text;
    }
    void Signal(int signal) { ::kill(pid_, signal); }
    // Exit status, or -1 when it did not exit normally.
    int Wait() {
        int status = 0;
        const pid_t pid = ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return pid > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

  private:
    pid_t pid_ = -1;
    int stdout_ = -1;
};

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

TEST(SimProgram, HelpNamesEveryOption) {
    SimProgram program({"--help"});
    const std::string help = program.ReadAll();
    for (const char* option :
         {"--model", "--serial", "--instrument-sweep", "--password", "--line", "--pace", "--link",
          "--reconnect", "--override", "--log", "--silent", "--truncate", "--gap", "--garbage",
          "--high-bit", "--corrupt-d1", "--refuse-protected", "--disconnect-after", "--version"}) {
        EXPECT_NE(help.find(option), std::string::npos) << option;
    }
    EXPECT_EQ(program.Wait(), 0);
}

TEST(SimProgram, ServesDisconnectsReconnectsAndCleansUp) {
    TempDir dir;
    const std::string link = (dir.Path() / "clock").string();
    SimProgram program({"--model", "403", "--warmup", "0", "--link", link, "--reconnect", "0.2"});
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

TEST(SimProgram, RefusesBadOptions) {
    for (const std::vector<std::string>& arguments : {std::vector<std::string>{"--model", "405"},
                                                      {"--line", "9600,7,X,2"},
                                                      {"--bogus"},
                                                      {"--override", "/nonexistent/overrides"},
                                                      {"--serial"}}) {
        SimProgram program(arguments);
        EXPECT_EQ(program.Wait(), 2) << arguments.front();
    }
}

}  // namespace
}  // namespace corvane3::testing
