#pragma once
// Writing a whole text to a file descriptor.

#include <unistd.h>

#include <cerrno>
#include <string_view>

namespace corvane3 {

// Writes every byte of text to fd, going on after interrupted and partial writes. False on an
// error or when the file takes no more (errno tells why).
inline bool WriteWhole(int fd, std::string_view text) {
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace corvane3
