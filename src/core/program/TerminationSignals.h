#pragma once
// Termination requests: Ctrl-C (SIGINT), a service manager's or a logout's stop (SIGTERM) and a
// closed terminal or shutdown (SIGHUP) end a run as its own way out does. The handlers only set
// a flag; the run looks at it and ends itself, so that the unit is left as a normal end leaves
// it.

#include <atomic>

namespace corvane3 {

// Installs the handlers for SIGINT, SIGTERM and SIGHUP. Any thread; call before the run starts.
void InstallTerminationHandlers();

// Set by the handlers when one of the signals came; the run reads (and may clear) it.
std::atomic<bool>& TerminationRequested();

// Set by the handlers with TerminationRequested and left set: the run is ending, so a wait for
// the unit or a run of commands stops at once rather than hold the end back.
std::atomic<bool>& TerminationUnderway();

}  // namespace corvane3
