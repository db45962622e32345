#include "core/alerts/EventProgram.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

extern char** environ;

namespace corvane3 {

namespace {

// More events than this waiting means the program cannot keep up; older ones still run.
constexpr std::size_t kMaxQueuedEvents = 64;
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

CEventProgram::CEventProgram(std::string program, ReportFunction report,
                             std::chrono::milliseconds timeLimit)
    : program_(std::move(program)), report_(std::move(report)), timeLimit_(timeLimit) {
    thread_ = std::thread([this] { Serve(); });
}

CEventProgram::~CEventProgram() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void CEventProgram::Run(const UnitEvent& event) {
    bool firstDrop = false;
    {
        std::lock_guard lock(mutex_);
        if (queue_.size() >= kMaxQueuedEvents) {
            firstDrop = !dropping_;
            dropping_ = true;
        } else {
            dropping_ = false;
            queue_.emplace_back(event, UtcNow());
        }
    }
    if (firstDrop) {
        report_("--on-event: " + program_ + " cannot keep up; events are dropped");
    }
    wake_.notify_all();
}

void CEventProgram::Serve() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
        if (stop_) {
            return;
        }
        const auto [event, time] = queue_.front();
        queue_.pop_front();
        lock.unlock();
        Report(RunOne(event, time));
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

std::string CEventProgram::RunOne(const UnitEvent& event, const std::string& time) {
    std::vector<std::string> environment = EventEnvironment(event, time);
    std::vector<char*> envp;
    for (std::string& variable : environment) {
        envp.push_back(variable.data());
    }
    envp.push_back(nullptr);
    std::string name = program_;
    char* argv[] = {name.data(), nullptr};

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
    const int spawned =
        posix_spawnp(&pid, name.c_str(), nullptr, &attributes, argv, envp.data());
    posix_spawnattr_destroy(&attributes);
    if (spawned != 0) {
        return std::string("cannot start: ") + std::strerror(spawned);
    }

    // A descriptor that turns readable when the program ends (Linux 5.3 on); without it the
    // runner looks every kStopCheckMilliseconds.
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    const auto deadline = std::chrono::steady_clock::now() + timeLimit_;
    bool killed = false;
    bool stoppedIt = false;
    for (;;) {
        int status = 0;
        const pid_t ended = ::waitpid(pid, &status, WNOHANG);
        if (ended == pid || (ended < 0 && errno != EINTR)) {
            if (pidfd >= 0) {
                ::close(pidfd);
            }
            if (killed) {
                // A program ended because this one ends failed at nothing.
                return stoppedIt ? ""
                                 : "killed after " +
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
        bool stopping = false;
        {
            std::lock_guard lock(mutex_);
            stopping = stop_;
        }
        if (!killed && (stopping || std::chrono::steady_clock::now() >= deadline)) {
            ::kill(-pid, SIGKILL);
            ::kill(pid, SIGKILL);
            killed = true;
            stoppedIt = stopping;
            continue;
        }
        // Wait for the program to end, or for the next look at the clock and the stop flag.
        pollfd wait{pidfd, POLLIN, 0};
        ::poll(&wait, pidfd >= 0 ? 1 : 0, kStopCheckMilliseconds);
    }
}

}  // namespace corvane3
