#include "core/base/UnnamedFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

namespace corvane3 {

namespace {

// Read and write for everyone the umask allows, as for any file the user makes.
constexpr mode_t kNewFileMode = 0666;
// Tries with another name when one is taken (by another process doing the same).
constexpr int kNameAttempts = 100;

std::string FolderOf(const std::string& path) {
    const std::string folder = std::filesystem::path(path).parent_path().string();
    return folder.empty() ? "." : folder;
}

}  // namespace

int CreateUnnamedFileBeside(const std::string& path, std::string& fallback) {
    fallback.clear();
    const int fd = ::open(FolderOf(path).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, kNewFileMode);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR)) {
        return fd;
    }
    fallback = path + ".XXXXXX";
    const int named = ::mkostemp(fallback.data(), O_CLOEXEC);
    if (named < 0) {
        fallback.clear();
    }
    return named;
}

bool NameUnnamedFile(int fd, const std::string& fallback, const std::string& path) {
    if (!fallback.empty()) {
        return ::rename(fallback.c_str(), path.c_str()) == 0;
    }
    // A link cannot replace a file: the file is linked under a name of its own first, then
    // renamed over path in one step.
    const std::string procPath = "/proc/self/fd/" + std::to_string(fd);
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::string temporary =
            path + ".new" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
        if (::linkat(AT_FDCWD, procPath.c_str(), AT_FDCWD, temporary.c_str(), AT_SYMLINK_FOLLOW) !=
            0) {
            if (errno == EEXIST) {
                continue;
            }
            return false;
        }
        if (::rename(temporary.c_str(), path.c_str()) != 0) {
            const int reason = errno;
            ::unlink(temporary.c_str());
            errno = reason;
            return false;
        }
        return true;
    }
    errno = EEXIST;
    return false;
}

}  // namespace corvane3
