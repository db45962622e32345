#include "core/telemetry/TelemetryTail.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "core/base/WriteWhole.h"

namespace corvane3 {

namespace {

// The tail is read backwards this much at a time.
constexpr std::size_t kTailBlock = std::size_t{64} << 10;

class CTailFile {
  public:
    explicit CTailFile(int fd) : fd_(fd), block_(kTailBlock) {}
    ~CTailFile() { ::close(fd_); }
    CTailFile(const CTailFile&) = delete;
    CTailFile& operator=(const CTailFile&) = delete;

    int Get() const { return fd_; }

    // The offset just after the last byte before end for which keep(byte) holds; 0 when there
    // is none. False on a read error.
    template <typename Keep>
    bool LastBefore(std::uint64_t end, Keep keep, std::uint64_t& found) {
        while (end > 0) {
            const std::uint64_t from = end - std::min<std::uint64_t>(end, block_.size());
            const auto length = static_cast<std::size_t>(end - from);
            ssize_t got;
            do {
                got = ::pread(fd_, block_.data(), length, static_cast<off_t>(from));
            } while (got < 0 && errno == EINTR);
            if (got != static_cast<ssize_t>(length)) {
                return false;
            }
            for (std::size_t i = length; i > 0; --i) {
                if (keep(block_[i - 1])) {
                    found = from + i;
                    return true;
                }
            }
            end = from;
        }
        found = 0;
        return true;
    }

  private:
    int fd_;
    std::vector<char> block_;
};

TailRepair Failed(TailRepair repair) {
    repair.kind = ETailRepair::kFailed;
    repair.error = errno != 0 ? errno : EIO;
    return repair;
}

}  // namespace

bool TelemetryFileEndsWhole(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return true;
    }
    struct stat info {};
    char last = '\n';
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0 &&
        ::pread(fd, &last, 1, info.st_size - 1) != 1) {
        last = '\n';  // unreadable: left for the append to tell
    }
    ::close(fd);
    return last == '\n';
}

TailRepair RepairTelemetryTail(const std::string& path) {
    TailRepair repair;
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return errno == ENOENT ? repair : Failed(repair);
    }
    CTailFile file(fd);
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        return Failed(repair);
    }
    const auto size = static_cast<std::uint64_t>(info.st_size);
    repair.sizeAfter = size;
    std::uint64_t contentEnd = 0;  // after the last byte that is not NUL
    std::uint64_t lineStart = 0;   // after the last LF before contentEnd
    if (!file.LastBefore(
            size, [](char c) { return c != '\0'; }, contentEnd) ||
        !file.LastBefore(
            contentEnd, [](char c) { return c == '\n'; }, lineStart)) {
        return Failed(repair);
    }
    if (lineStart == size) {
        return repair;
    }
    char lastByte = '\0';
    if (contentEnd > lineStart &&
        ::pread(fd, &lastByte, 1, static_cast<off_t>(contentEnd - 1)) != 1) {
        return Failed(repair);
    }
    // The recorder writes a record and its CR LF at once: a trailing CR ends a whole record.
    const bool wholeRecord = contentEnd > lineStart && lastByte == '\r';
    const std::uint64_t keep = wholeRecord ? contentEnd : lineStart;
    if (::ftruncate(fd, static_cast<off_t>(keep)) != 0) {
        return Failed(repair);
    }
    repair.bytesCut = size - keep;
    repair.sizeAfter = keep;
    repair.kind = ETailRepair::kCutOff;
    if (wholeRecord) {
        if (::lseek(fd, 0, SEEK_END) < 0 || !AppendWhole(fd, "\n")) {
            return Failed(repair);
        }
        repair.kind = ETailRepair::kLineEnded;
        ++repair.sizeAfter;
    }
    return repair;
}

std::string TailRepairText(const std::string& path, const TailRepair& repair) {
    const std::string bytes =
        std::to_string(repair.bytesCut) + (repair.bytesCut == 1 ? " byte" : " bytes");
    const std::string start = path + " did not end with a whole line (a power cut?): ";
    switch (repair.kind) {
        case ETailRepair::kWhole:
            break;
        case ETailRepair::kLineEnded:
            return start + "its last record got its line end" +
                   (repair.bytesCut > 0 ? ", and the " + bytes + " of NULs after it were cut off"
                                        : std::string()) +
                   ".";
        case ETailRepair::kCutOff:
            return start + "the " + bytes +
                   " after its last whole line (a torn record or NUL bytes) were cut off.";
        case ETailRepair::kFailed:
            return path + " may not end with a whole line, and could not be mended (" +
                   std::strerror(repair.error) + ").";
    }
    return "";
}

}  // namespace corvane3
