#include "link/SerialDevice.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace corvane3 {

std::string SerialDeviceProblem(const std::string& devicePath) {
    struct stat info {};
    if (::stat(devicePath.c_str(), &info) != 0) {
        return std::strerror(errno);
    }
    // Only character devices can be terminals; opening a FIFO could block, so it is never tried.
    if (!S_ISCHR(info.st_mode)) {
        return kNotASerialPort;
    }
    const int fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return std::strerror(errno);
    }
    const bool terminal = ::isatty(fd) == 1;
    ::close(fd);
    return terminal ? std::string() : std::string(kNotASerialPort);
}

}  // namespace corvane3
