#include "app/TemporaryFileCleanup.h"

#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace corvane3 {

namespace {

// A shell reports a command that a signal ended with this plus the signal's number.
constexpr int kSignalExitBase = 128;

// The handler may only read what is complete: the path is written while armed is false.
char temporaryPath[PATH_MAX];
std::atomic<bool> armed{false};
static_assert(std::atomic<bool>::is_always_lock_free, "read in a signal handler");

void OnTerminatingSignal(int signal) {
    if (armed.load()) {
        ::unlink(temporaryPath);
    }
    ::_exit(kSignalExitBase + signal);
}

}  // namespace

void InstallTemporaryFileCleanup() {
    struct sigaction action {};
    action.sa_handler = OnTerminatingSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaddset(&action.sa_mask, signal);
    }
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        ::sigaction(signal, &action, nullptr);
    }
}

void SetTemporaryFileToRemove(const std::string& path) {
    armed = false;
    if (path.empty() || path.size() >= sizeof temporaryPath) {
        return;
    }
    std::memcpy(temporaryPath, path.c_str(), path.size() + 1);
    armed = true;
}

}  // namespace corvane3
