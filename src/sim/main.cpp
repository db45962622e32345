// corvane3-sim: a simulated instrument on a pseudo-terminal.

#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <iostream>

#include "sim/SimulatorCommandLine.h"

namespace {

// Waits for a signal; with a time-out of 0 ms or more, returns 0 when it expires first.
int WaitForSignal(const sigset_t& signals, long long timeoutMs) {
    if (timeoutMs < 0) {
        int received = 0;
        return ::sigwait(&signals, &received) == 0 ? received : 0;
    }
    const timespec wait{static_cast<time_t>(timeoutMs / 1000),
                        static_cast<long>(timeoutMs % 1000) * 1000000L};
    const int received = ::sigtimedwait(&signals, nullptr, &wait);
    return received > 0 ? received : 0;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace corvane3::sim;
    const SimulatorCommandLine commandLine =
        ParseSimulatorCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (commandLine.help) {
        std::cout << SimulatorUsage();
        return 0;
    }
    if (commandLine.version) {
        std::cout << "corvane3-sim " << CORVANE3_VERSION << '\n';
        return 0;
    }
    if (!commandLine.error.empty()) {
        std::cerr << "corvane3-sim: " << commandLine.error << "\n(--help lists the options)\n";
        return 2;
    }

    // Signals are taken by sigwait below; block them before the serving thread starts so that
    // it inherits the mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    CSimulatorServer server(commandLine.options);
    if (!server.IsOpen()) {
        std::cerr << "corvane3-sim: " << server.Error() << '\n';
        return 1;
    }
    std::cout << server.SlavePath() << std::endl;

    // A disconnect asked for on the command line happens once, after its delay.
    long long disconnectAfterMs =
        commandLine.disconnectAfter ? commandLine.disconnectAfter->count() : -1;
    for (;;) {
        const int received = WaitForSignal(signals, disconnectAfterMs);
        if (received == SIGINT || received == SIGTERM) {
            break;
        }
        if (received == 0 && disconnectAfterMs >= 0) {
            disconnectAfterMs = -1;
            server.Disconnect();
        } else if (received == SIGUSR1) {
            server.Disconnect();
        }
    }
    return 0;
}
