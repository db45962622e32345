#pragma once
// Runs a program of the project as a user would, for end-to-end tests.

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

extern char** environ;

namespace corvane3::testing {

// A line of output is waited for this long at most.
inline constexpr int kGenerousMs = 10000;
// The end of a program and of its output are waited for as events; this bound only keeps a hung
// program from holding the test until ctest's own timeout (600 s: ReadAll and Wait in a row stay
// within it), and is far beyond any correct run on a loaded or sanitizer machine.
inline constexpr int kSafetyNetMs = 240000;

// A program run with its standard output on a pipe and its standard error kept for Err();
// killed if still running at the end.
class ChildProcess {
  public:
    // arguments[0] is the program's path.
    explicit ChildProcess(std::vector<std::string> arguments) {
        std::vector<char*> argv;
        for (std::string& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        int out[2];
        if (::pipe(out) != 0)
            return;
        stderr_ = ::memfd_create("stderr", MFD_CLOEXEC);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, stderr_, STDERR_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        stdout_ = out[0];
    }
    ~ChildProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(stdout_);
        ::close(stderr_);
    }
    // Standard output up to the first LF (or end of output), waiting up to the bound.
    std::string ReadLine() { return Read(kGenerousMs, '\n'); }
    // Standard output's lines, each with its LF, up to the first that holds part, the end of
    // output or maxLines.
    std::string ReadThrough(const std::string& part, int maxLines = 60) {
        std::string lines;
        for (int i = 0; i < maxLines; ++i) {
            const std::string line = ReadLine();
            lines += line + "\n";
            if (line.empty() || line.find(part) != std::string::npos)
                break;
        }
        return lines;
    }
    // Standard output up to its end, or as much as came within the bound.
    std::string ReadAll() { return Read(kSafetyNetMs, -1); }
    // Everything written to standard error so far.
    std::string Err() const {
        std::string text(std::size_t(::lseek(stderr_, 0, SEEK_END)), '\0');
        const ssize_t n = ::pread(stderr_, text.data(), text.size(), 0);
        return text.substr(0, n > 0 ? std::size_t(n) : 0);
    }
    void Signal(int signal) { ::kill(pid_, signal); }
    pid_t Pid() const { return pid_; }
    // Exit status, or -1 when it did not exit normally or still runs after the safety net.
    int Wait() {
        // A process descriptor becomes readable when the program ends.
        const int ended = int(::syscall(SYS_pidfd_open, pid_, 0));
        if (ended < 0)
            return -1;
        pollfd pfd{ended, POLLIN, 0};
        const bool exited = ::poll(&pfd, 1, kSafetyNetMs) == 1;
        ::close(ended);
        int status = -1;
        if (!exited || ::waitpid(pid_, &status, 0) != pid_)
            return -1;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

  private:
    // Up to the byte end (-1: none) or the end of output, within the bound.
    std::string Read(int boundMs, int end) {
        using namespace std::chrono;
        const auto deadline = steady_clock::now() + milliseconds(boundMs);
        std::string text;
        char c = 0;
        pollfd pfd{stdout_, POLLIN, 0};
        // A negative time would make poll wait for ever.
        for (long left = boundMs; left >= 0 && ::poll(&pfd, 1, int(left)) > 0 &&
                                  ::read(stdout_, &c, 1) == 1 && (unsigned char)c != end;
             left = duration_cast<milliseconds>(deadline - steady_clock::now()).count())
            text += c;
        return text;
    }

    pid_t pid_ = -1;
    int stdout_ = -1;
    int stderr_ = -1;
};

}  // namespace corvane3::testing
