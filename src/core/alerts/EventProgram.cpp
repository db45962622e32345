#include "core/alerts/EventProgram.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sstream>
#include <vector>

#include "core/alerts/ProgramOutput.h"


extern char** environ;

namespace corvane3 {

namespace {

// More events than this waiting means the program cannot keep up: older ones are dropped.
constexpr std::size_t kMaxQueuedEvents = 64;
// What one run may write into this program's lines: a few screens of diagnostics.
constexpr std::size_t kMaxOutputBytes = 4096;
constexpr std::size_t kReadChunk = 1024;
// How often a waiting runner looks whether it is asked to stop.
constexpr int kStopCheckMilliseconds = 100;
constexpr char kEnvironmentPrefix[] = "CORVANE3_";
constexpr long kMillisecondsPerSecond = 1000;

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

// The program's environment: ours without any CORVANE3_ variable, then the event's.
std::vector<std::string> EventEnvironment(const UnitEvent& event, const std::string& time) {
    std::vector<std::string> variables;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        if (std::strncmp(*variable, kEnvironmentPrefix, sizeof kEnvironmentPrefix - 1) != 0) {
            variables.emplace_back(*variable);
        }
    }
    const std::pair<const char*, const std::string*> fields[] = {
        {"EVENT", &event.name},       {"SEVERITY", &event.severity}, {"UNIT", &event.unit},
        {"CHANNEL", &event.channel},  {"VALUE", &event.value},       {"TEXT", &event.text},
        {"TIME", &time}};
    for (const auto& [name, value] : fields) {
        variables.push_back(std::string(kEnvironmentPrefix) + name + "=" + *value);
    }
    return variables;
}

}  // namespace

CEventProgram::CEventProgram(std::string program, ReportFunction report, ReportFunction output,
                             std::chrono::milliseconds timeLimit)
    : program_(std::move(program)),
      report_(std::move(report)),
      output_(output ? std::move(output) : report_),
      timeLimit_(timeLimit),
      queue_(kMaxQueuedEvents) {
    // Said now rather than at the first alarm; the failed runs that follow are the same failure.
    if (const std::string problem = StartProblem(program_); !problem.empty()) {
        Report(problem);
    }
    thread_ = std::thread([this] { Serve(); });
}

CEventProgram::~CEventProgram() { Finish(kEventDeliveryAtExit); }

std::string CEventProgram::Finish(std::chrono::milliseconds bound) {
    if (finished_) {
        return "";
    }
    finished_ = true;
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
        finishBy_ = std::chrono::steady_clock::now() + bound;
    }
    wake_.notify_all();
    thread_.join();
    if (!killedAtFinish_ && notDelivered_ == 0) {
        return "";
    }
    std::string said = "--on-event: " + program_ + ": cut short at exit after " +
                       std::to_string(bound.count() / kMillisecondsPerSecond) + " s:";
    if (killedAtFinish_) {
        said += " the running program was killed";
    }
    if (notDelivered_ > 0) {
        said += std::string(killedAtFinish_ ? "," : "") + " " + std::to_string(notDelivered_) +
                (notDelivered_ == 1 ? " event was" : " events were") + " not delivered";
    }
    return said;
}

void CEventProgram::Run(const UnitEvent& event) {
    bool firstDrop = false;
    {
        std::lock_guard lock(mutex_);
        if (stop_) {
            return;
        }
        if (queue_.Push({event, UtcNow()})) {
            ++dropped_;
            firstDrop = !dropping_;
            dropping_ = true;
        }
    }
    if (firstDrop) {
        report_("--on-event: " + program_ + " cannot keep up; older events are dropped");
    }
    wake_.notify_all();
}

void CEventProgram::Serve() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stop_ || !queue_.Empty(); });
        if (stop_ && std::chrono::steady_clock::now() >= finishBy_) {
            notDelivered_ = queue_.Size();
            queue_.Clear();
        }
        if (queue_.Empty()) {
            if (stop_) {
                return;
            }
            continue;
        }
        const QueuedEvent queued = queue_.Take();
        // The run of drops ends when the program has caught up with every event.
        std::size_t caughtUpAfter = 0;
        if (queue_.Empty() && dropping_) {
            caughtUpAfter = dropped_;
            dropping_ = false;
            dropped_ = 0;
        }
        lock.unlock();
        if (caughtUpAfter > 0) {
            report_("--on-event: " + program_ + " caught up; " + std::to_string(caughtUpAfter) +
                    (caughtUpAfter == 1 ? " older event was" : " older events were") +
                    " not delivered");
        }
        Report(RunOne(queued));
        lock.lock();
    }
}

void CEventProgram::Report(const std::string& problem) {
    if (problem.empty()) {
        failing_ = false;
        return;
    }
    if (!failing_) {
        failing_ = true;
        report_("--on-event: " + program_ + ": " + problem);
    }
}

std::string CEventProgram::StartProblem(const std::string& program) {
    const auto problem = [](const std::string& path) -> std::string {
        struct stat status {};
        if (::stat(path.c_str(), &status) != 0) {
            return std::strerror(errno);
        }
        if (!S_ISREG(status.st_mode)) {
            return "not a program file";
        }
        return ::access(path.c_str(), X_OK) == 0 ? "" : std::strerror(errno);
    };
    std::string found;
    if (program.find('/') != std::string::npos) {
        found = problem(program);
    } else {
        const char* path = std::getenv("PATH");
        std::istringstream folders(path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin");
        found = "not found in PATH";
        for (std::string folder; std::getline(folders, folder, ':');) {
            if (problem((folder.empty() ? "." : folder) + "/" + program).empty()) {
                found.clear();
                break;
            }
        }
    }
    return found.empty() ? "" : "cannot start: " + found;
}

std::chrono::steady_clock::time_point CEventProgram::DeadlineFrom(
    std::chrono::steady_clock::time_point start) {
    const auto own = start + timeLimit_;
    std::lock_guard lock(mutex_);
    return stop_ ? std::min(own, finishBy_) : own;
}

std::string CEventProgram::RunOne(const QueuedEvent& queued) {
    std::vector<std::string> environment = EventEnvironment(queued.event, queued.time);
    std::vector<char*> envp;
    for (std::string& variable : environment) {
        envp.push_back(variable.data());
    }
    envp.push_back(nullptr);
    std::string name = program_;
    char* argv[] = {name.data(), nullptr};

    // What it writes comes back through a pipe; both ends close on exec, the child gets its
    // copies by dup2.
    int output[2];
    if (::pipe2(output, O_CLOEXEC | O_NONBLOCK) != 0) {
        return std::string("cannot start: ") + std::strerror(errno);
    }
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&files, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&files, output[1], STDERR_FILENO);

    // The program gets default signal handling and an open mask whatever this process blocks,
    // and a process group of its own so a time-out ends whatever it started too.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                              POSIX_SPAWN_SETPGROUP);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, name.c_str(), &files, &attributes, argv, envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&files);
    ::close(output[1]);
    if (spawned != 0) {
        ::close(output[0]);
        return std::string("cannot start: ") + std::strerror(spawned);
    }
    std::string problem = WaitFor(pid, output[0]);
    ::close(output[0]);
    return problem;
}

std::string CEventProgram::WaitFor(int pid, int outputFd) {
    CProgramOutput lines(kMaxOutputBytes);
    const auto pass = [this](const std::vector<std::string>& said) {
        for (const std::string& line : said) {
            output_("--on-event: " + program_ + " said: " + line);
        }
    };
    const auto drain = [&] {
        char chunk[kReadChunk];
        ssize_t got = 0;
        while ((got = ::read(outputFd, chunk, sizeof chunk)) > 0) {
            pass(lines.Add(std::string_view(chunk, static_cast<std::size_t>(got))));
        }
    };
    // A descriptor that turns readable when the program ends (Linux 5.3 on); without it the
    // runner looks every kStopCheckMilliseconds.
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    const auto started = std::chrono::steady_clock::now();
    bool killed = false;
    bool atFinish = false;
    bool pipeOpen = true;  // until every writer has closed it
    for (;;) {
        int status = 0;
        const pid_t ended = ::waitpid(pid, &status, WNOHANG);
        if (ended == pid || (ended < 0 && errno != EINTR)) {
            if (pidfd >= 0) {
                ::close(pidfd);
            }
            drain();
            pass(lines.End());
            if (killed) {
                if (atFinish) {
                    killedAtFinish_ = true;
                    return "";
                }
                return "killed after " +
                       std::to_string(timeLimit_.count() / kMillisecondsPerSecond) +
                       " s without ending";
            }
            if (ended < 0) {
                return "";
            }
            if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
                return "exit status " + std::to_string(WEXITSTATUS(status));
            }
            if (WIFSIGNALED(status)) {
                return "ended by signal " + std::to_string(WTERMSIG(status));
            }
            return "";
        }
        const auto now = std::chrono::steady_clock::now();
        if (!killed && now >= DeadlineFrom(started)) {
            ::kill(-pid, SIGKILL);
            ::kill(pid, SIGKILL);
            killed = true;
            atFinish = now < started + timeLimit_;
            continue;
        }
        // Wait for the program to end, for output, or for the next look at the clock.
        pollfd wait[2] = {{pipeOpen ? outputFd : -1, POLLIN, 0}, {pidfd, POLLIN, 0}};
        ::poll(wait, pidfd >= 0 ? 2 : 1, kStopCheckMilliseconds);
        if ((wait[0].revents & POLLIN) != 0) {
            drain();
        } else if ((wait[0].revents & (POLLHUP | POLLERR)) != 0) {
            // The writers are gone; stop watching the pipe so poll does not spin on it.
            pipeOpen = false;
        }
    }
}

}  // namespace corvane3
