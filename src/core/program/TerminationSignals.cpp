#include "core/program/TerminationSignals.h"

#include <csignal>

namespace corvane3 {

namespace {

std::atomic<bool> requested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

void OnTerminationSignal(int) {
    requested = true;
}

}  // namespace

void InstallTerminationHandlers() {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        std::signal(signal, OnTerminationSignal);
    }
}

std::atomic<bool>& TerminationRequested() {
    return requested;
}

}  // namespace corvane3
