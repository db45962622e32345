// Loaded into a program under test (LD_PRELOAD): once the file named in CORVANE3_HOLD_WRITES_AFTER
// exists, a write to a terminal (the serial port) does not return for a minute, signals or not,
// as a driver or adapter that hangs holds the program inside an exchange. The file's name with
// ".held" appended is made when a write is first held, for the test to wait for.

#include <dlfcn.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

constexpr time_t kHoldSeconds = 60;

}  // namespace

extern "C" ssize_t write(int fd, const void* buffer, size_t count) {
    static const char* const flag = std::getenv("CORVANE3_HOLD_WRITES_AFTER");
    if (flag != nullptr && ::isatty(fd) == 1 && ::access(flag, F_OK) == 0) {
        ::close(::open((std::string(flag) + ".held").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
        timespec until{};
        ::clock_gettime(CLOCK_MONOTONIC, &until);
        until.tv_sec += kHoldSeconds;
        // A signal's handler interrupts the sleep; the hold goes on to its end.
        while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) != 0) {
        }
    }
    using Write = ssize_t (*)(int, const void*, size_t);
    return reinterpret_cast<Write>(::dlsym(RTLD_NEXT, "write"))(fd, buffer, count);
}
