#include "core/link/SerialDevice.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <vector>

#include "core/base/LineReader.h"
#include "core/link/NetworkPortName.h"

namespace corvane3 {

namespace {

// Room for one group entry of getgrgid_r; larger entries (groups with many members) are retried.
constexpr std::size_t kGroupBufferStart = 1024;
constexpr std::size_t kGroupBufferLimit = 1 << 20;
// A line of /proc/locks or a process's name is far shorter.
constexpr std::size_t kProcLineBytes = 4096;

std::string GroupName(gid_t gid) {
    std::vector<char> buffer(kGroupBufferStart);
    group entry{};
    group* found = nullptr;
    int error;
    while ((error = ::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found)) == ERANGE &&
           buffer.size() < kGroupBufferLimit) {
        buffer.resize(buffer.size() * 2);
    }
    return error == 0 && found != nullptr ? std::string(found->gr_name) : std::string();
}

bool ProcessHasGroup(gid_t gid) {
    if (::getegid() == gid) {
        return true;
    }
    const int count = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(static_cast<std::size_t>(count > 0 ? count : 0));
    if (count > 0 && ::getgroups(count, groups.data()) == count) {
        for (gid_t member : groups) {
            if (member == gid) {
                return true;
            }
        }
    }
    return false;
}

// Serial ports are made usable by a group (dialout on Debian); a user joins it once and the new
// membership counts only from the next login. A device only root's group may open is left
// without advice: nobody should be told to join root.
std::string PermissionDenied(const std::string& devicePath) {
    const std::string denied = std::strerror(EACCES);
    struct stat info {};
    if (::stat(devicePath.c_str(), &info) != 0 || info.st_gid == 0 ||
        (info.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP) ||
        ProcessHasGroup(info.st_gid)) {
        return denied;
    }
    const std::string name = GroupName(info.st_gid);
    return name.empty() ? denied
                        : denied + ": add your user to the group " + name + " and log in again";
}

// The name of process pid, or "" when it cannot be read (gone, or hidden from this user).
std::string ProcessName(const std::string& pid) {
    std::string name;
    ReadLinesOf("/proc/" + pid + "/comm", kProcLineBytes, [&](const std::string& line) {
        name = line;
        return false;
    });
    return name;
}

}  // namespace

std::string SerialDeviceProblem(const std::string& devicePath) {
    // A network port is checked by connecting to it; only its name can be judged here.
    if (IsNetworkPortName(devicePath)) {
        return ParseNetworkPortName(devicePath) ? std::string() : kBadNetworkAddress;
    }
    struct stat info {};
    if (::stat(devicePath.c_str(), &info) != 0) {
        return OpenFailureReason(devicePath, errno);
    }
    // Only character devices can be terminals; opening a FIFO could block, so it is never tried.
    if (!S_ISCHR(info.st_mode)) {
        return kNotASerialPort;
    }
    const int fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return OpenFailureReason(devicePath, errno);
    }
    const bool terminal = ::isatty(fd) == 1;
    const bool free = terminal && LockSerialDevice(fd);
    ::close(fd);
    if (!terminal) {
        return kNotASerialPort;
    }
    return free ? std::string() : SerialDeviceInUse(devicePath);
}

std::string OpenFailureReason(const std::string& devicePath, int error) {
    switch (error) {
        case EBUSY:
            // TIOCEXCL of the program that has the port refuses everyone but root.
            return SerialDeviceInUse(devicePath);
        case EACCES:
        case EPERM:
            return PermissionDenied(devicePath);
        default:
            return std::strerror(error);
    }
}

bool LockSerialDevice(int fd) {
    return ::flock(fd, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK;
}

std::optional<int> SerialDeviceHolder(const std::string& devicePath) {
    struct stat info {};
    std::optional<int> holder;
    if (::stat(devicePath.c_str(), &info) == 0) {
        // "1: FLOCK  ADVISORY  WRITE 1234 00:19:5 0 EOF": the holder's process and the locked
        // file's device (hexadecimal major:minor) and inode.
        char id[64];
        std::snprintf(id, sizeof id, "%02x:%02x:%lu", major(info.st_dev), minor(info.st_dev),
                      static_cast<unsigned long>(info.st_ino));
        ReadLinesOf("/proc/locks", kProcLineBytes, [&](const std::string& line) {
            std::istringstream fields(line);
            std::string number, kind, advisory, mode, file;
            int pid = 0;
            if (fields >> number >> kind >> advisory >> mode >> pid >> file && kind == "FLOCK" &&
                file == id && pid > 0) {
                holder = pid;
            }
            return !holder;
        });
    }
    return holder;
}

std::string SerialDeviceInUse(const std::string& devicePath) {
    if (const std::optional<int> pid = SerialDeviceHolder(devicePath)) {
        const std::string name = ProcessName(std::to_string(*pid));
        return std::string(kPortInUse) + " by process " + std::to_string(*pid) +
               (name.empty() ? "" : " (" + name + ")");
    }
    return std::string(kPortInUse) + " by another program";
}

}  // namespace corvane3
