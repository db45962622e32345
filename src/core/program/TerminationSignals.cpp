#include "core/program/TerminationSignals.h"

#include <csignal>

namespace corvane3 {

namespace {

std::atomic<bool> requested{false};
std::atomic<bool> underway{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

void OnTerminationSignal(int) {
    requested = true;
    underway = true;
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

std::atomic<bool>& TerminationUnderway() {
    return underway;
}

}  // namespace corvane3
