#include "sim/PseudoTerminal.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace corvane3 {

namespace {
using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}
}  // namespace

CPseudoTerminal::CPseudoTerminal() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) {
        return;
    }
    char name[128];
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
        ::ptsname_r(master_, name, sizeof name) != 0) {
        Close();
        return;
    }
    slavePath_ = name;
    slaveKeeper_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slaveKeeper_ >= 0) {
        // Raw on both sides: no echo, no line editing, no CR/LF translation.
        termios tio{};
        if (::tcgetattr(slaveKeeper_, &tio) == 0) {
            ::cfmakeraw(&tio);
            ::tcsetattr(slaveKeeper_, TCSANOW, &tio);
        }
    }
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
}

CPseudoTerminal::~CPseudoTerminal() {
    Close();
}

bool CPseudoTerminal::Write(std::string_view bytes) {
    std::size_t written = 0;
    while (master_ >= 0 && written < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.data() + written, bytes.size() - written);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
            pollfd pfd{master_, POLLOUT, 0};
            ::poll(&pfd, 1, 100);
        } else if (n < 0 && errno != EINTR) {
            return false;
        }
    }
    return master_ >= 0;
}

std::string CPseudoTerminal::Read(std::chrono::milliseconds timeout,
                                  std::chrono::milliseconds gap) {
    std::string data;
    const auto deadline = Clock::now() + timeout;
    while (master_ >= 0) {
        const int wait = data.empty() ? MillisecondsLeft(deadline) : static_cast<int>(gap.count());
        pollfd pfd{master_, POLLIN, 0};
        if (::poll(&pfd, 1, wait) <= 0 || (pfd.revents & POLLIN) == 0) {
            break;
        }
        char buffer[4096];
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        data.append(buffer, static_cast<std::size_t>(n));
    }
    return data;
}

std::string CPseudoTerminal::ReadCount(std::size_t count, std::chrono::milliseconds timeout) {
    std::string data;
    const auto deadline = Clock::now() + timeout;
    while (master_ >= 0 && data.size() < count) {
        const int wait = MillisecondsLeft(deadline);
        if (wait == 0) {
            break;
        }
        pollfd pfd{master_, POLLIN, 0};
        if (::poll(&pfd, 1, wait) <= 0 || (pfd.revents & POLLIN) == 0) {
            break;
        }
        char buffer[4096];
        const ssize_t n = ::read(master_, buffer, std::min(sizeof buffer, count - data.size()));
        if (n <= 0) {
            break;
        }
        data.append(buffer, static_cast<std::size_t>(n));
    }
    return data;
}

void CPseudoTerminal::Close() {
    if (slaveKeeper_ >= 0) {
        ::close(slaveKeeper_);
        slaveKeeper_ = -1;
    }
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
}

}  // namespace corvane3
