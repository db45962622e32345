#include "core/link/SerialDevice.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

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
        // TIOCEXCL of the program that has the port refuses everyone but root.
        return errno == EBUSY ? SerialDeviceInUse(devicePath) : std::strerror(errno);
    }
    const bool terminal = ::isatty(fd) == 1;
    const bool free = terminal && LockSerialDevice(fd);
    ::close(fd);
    if (!terminal) {
        return kNotASerialPort;
    }
    return free ? std::string() : SerialDeviceInUse(devicePath);
}

bool LockSerialDevice(int fd) {
    return ::flock(fd, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK;
}

std::string SerialDeviceInUse(const std::string& devicePath) {
    struct stat info {};
    std::ifstream locks("/proc/locks");
    if (::stat(devicePath.c_str(), &info) == 0 && locks) {
        // "1: FLOCK  ADVISORY  WRITE 1234 00:19:5 0 EOF": the holder's process and the locked
        // file's device (hexadecimal major:minor) and inode.
        char id[64];
        std::snprintf(id, sizeof id, "%02x:%02x:%lu", major(info.st_dev), minor(info.st_dev),
                      static_cast<unsigned long>(info.st_ino));
        for (std::string line; std::getline(locks, line);) {
            std::istringstream fields(line);
            std::string number, kind, advisory, mode, pid, file;
            if (fields >> number >> kind >> advisory >> mode >> pid >> file && kind == "FLOCK" &&
                file == id && pid != "0") {
                return std::string(kPortInUse) + " by process " + pid;
            }
        }
    }
    return std::string(kPortInUse) + " by another program";
}

}  // namespace corvane3
