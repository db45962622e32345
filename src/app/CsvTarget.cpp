#include "app/CsvTarget.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "core/config/ProfileFile.h"
#include "core/program/ExitStatus.h"

namespace corvane3 {

namespace {

// Tries with another number when an earlier run of the same process id left its file.
constexpr int kTemporaryNameAttempts = 100;
// Read and write for everyone the umask allows, as the CSV itself would get.
constexpr mode_t kNewFileMode = 0666;

}  // namespace

ECsvTarget ClassifyCsvTarget(const std::string& target, std::string& resolved,
                             std::string& reason) {
    if (target == "-") {
        return ECsvTarget::kStandardOutput;
    }
    resolved = ResolveLinks(target).string();
    struct stat info {};
    if (::stat(resolved.c_str(), &info) != 0) {
        reason = std::strerror(errno);
        return errno == ENOENT ? ECsvTarget::kReplaced : ECsvTarget::kRefused;
    }
    if (S_ISREG(info.st_mode)) {
        return ECsvTarget::kReplaced;
    }
    if (S_ISCHR(info.st_mode) || S_ISFIFO(info.st_mode)) {
        return ECsvTarget::kDirect;
    }
    reason = S_ISDIR(info.st_mode) ? std::strerror(EISDIR)
                                   : "not a regular file, character device or FIFO";
    return ECsvTarget::kRefused;
}

bool WriteAndClose(std::ofstream& csv, const CsvWriter& writeCsv, std::string& reason) {
    errno = 0;
    const bool read = writeCsv(csv);
    csv.close();
    if (!read) {
        reason.clear();
        return false;
    }
    if (csv) {
        return true;
    }
    reason = std::strerror(errno != 0 ? errno : EIO);
    return false;
}

bool CreateTemporaryBeside(const std::string& target, std::string& temporary, std::string& reason) {
    const std::filesystem::path folder = std::filesystem::path(target).parent_path();
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        const std::string name =
            ".csv" + std::to_string(::getpid()) + "-" + std::to_string(attempt) + ".tmp";
        temporary = (folder / name).string();
        const int fd =
            ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kNewFileMode);
        if (fd >= 0) {
            ::close(fd);
            return true;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    reason = std::strerror(errno);
    return false;
}

int CannotWrite(const std::string& target, const std::string& reason, std::ostream& err) {
    if (!reason.empty()) {
        err << "corvane3: cannot write " << target << " (" << reason << ")\n";
    }
    return kExitRefused;
}

}  // namespace corvane3
