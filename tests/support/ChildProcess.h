#pragma once
// Runs a program of the project as a user would, for end-to-end tests.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace corvane3::testing {

// Standard output and the end of a program are waited for this long at most.
inline constexpr int kGenerousMs = 10000;

inline std::vector<std::string> WithProgram(std::string program, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), std::move(program));
    return arguments;
}

// A program run with its standard output on a pipe; killed if still running at the end.
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
    ~ChildProcess() {
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

}  // namespace corvane3::testing
