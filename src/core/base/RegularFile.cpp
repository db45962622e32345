#include "core/base/RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace corvane3 {

namespace {

std::string WhyNotRegular(const struct stat& info) {
    return S_ISDIR(info.st_mode) ? std::strerror(EISDIR) : kNotARegularFile;
}

}  // namespace

int OpenRegularFile(const std::string& path, std::string& reason) {
    int error = 0;
    return OpenRegularFile(path, reason, error);
}

int OpenRegularFile(const std::string& path, std::string& reason, int& error) {
    error = 0;
    // Looked at before the open, so that a device is never opened (a tape would rewind, a modem
    // line would rise); and again after it, in case the path was replaced in between.
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        error = errno;
        reason = std::strerror(error);
        return -1;
    }
    if (!S_ISREG(info.st_mode)) {
        reason = WhyNotRegular(info);
        return -1;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        reason = std::strerror(error);
        return -1;
    }
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        reason = WhyNotRegular(info);
        ::close(fd);
        return -1;
    }
    reason.clear();
    return fd;
}

}  // namespace corvane3
