#include "sim/SimulatorFile.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/base/RegularFile.h"

namespace corvane3::sim {

std::optional<std::string> ReadSimulatorFile(const std::filesystem::path& file,
                                             std::string& error) {
    // Only a regular file: a folder would read as empty text, and a FIFO without a writer would
    // hold the simulator before it serves anything.
    std::string reason;
    const int fd = OpenRegularFile(file.string(), reason);
    if (fd < 0) {
        error = "cannot read " + file.string() + ": " + reason;
        return std::nullopt;
    }
    std::string text;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            text.append(buffer, static_cast<std::size_t>(got));
        } else if (got == 0) {
            break;
        } else if (errno != EINTR) {
            error = "cannot read " + file.string() + ": " + std::strerror(errno);
            ::close(fd);
            return std::nullopt;
        }
    }
    ::close(fd);
    return text;
}

}  // namespace corvane3::sim
