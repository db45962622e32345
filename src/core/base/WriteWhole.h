#pragma once
// Writing a whole text to a file descriptor.

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string_view>

namespace corvane3 {

// Writes every byte of text to fd, going on after interrupted and partial writes. False on an
// error or when the file takes no more (errno tells why). written, when given, is how many bytes
// went out.
inline bool WriteWhole(int fd, std::string_view text, std::size_t* written = nullptr) {
    std::size_t done = 0;
    bool ok = true;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            ok = false;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (written != nullptr) {
        *written = done;
    }
    return ok;
}

// Appends text to fd (opened with O_APPEND) whole or not at all: the part a full disk let
// through is cut off again, so the file never keeps a torn line that the next append would be
// glued to. When another program appended meanwhile the file is left as it is. False, errno
// set, when the text could not be written whole.
inline bool AppendWhole(int fd, std::string_view text) {
    struct stat before {};
    const bool sized = ::fstat(fd, &before) == 0;
    std::size_t written = 0;
    if (WriteWhole(fd, text, &written)) {
        return true;
    }
    const int reason = errno;
    struct stat after {};
    if (sized && written > 0 && ::fstat(fd, &after) == 0 &&
        after.st_size == before.st_size + static_cast<off_t>(written)) {
        [[maybe_unused]] const int ignored = ::ftruncate(fd, before.st_size);
    }
    errno = reason;
    return false;
}

// As WriteWhole, at offset of fd (pwrite: the file position stays where it was).
inline bool WriteWholeAt(int fd, std::string_view text, std::uint64_t offset) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::pwrite(fd, text.data() + done, text.size() - done,
                                   static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = ENOSPC;
            }
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace corvane3
