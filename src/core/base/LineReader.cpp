#include "core/base/LineReader.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace corvane3 {

bool ReadLinesOf(const std::string& path, std::size_t maxLineBytes,
                 const std::function<bool(const std::string& line)>& visit) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    CLineReader reader(fd, maxLineBytes);
    for (std::string line; reader.Next(line) == CLineReader::ENext::kLine && visit(line);) {
    }
    ::close(fd);
    return true;
}

namespace {
constexpr std::size_t kReadBlock = std::size_t{64} << 10;
}  // namespace

CLineReader::CLineReader(int fd, std::size_t maxLineBytes)
    : fd_(fd), maxLineBytes_(maxLineBytes), buffer_(kReadBlock) {}

// Reads more after the bytes held; false on a read error.
bool CLineReader::Fill() {
    if (begin_ > 0) {
        std::copy(buffer_.begin() + static_cast<std::ptrdiff_t>(begin_),
                  buffer_.begin() + static_cast<std::ptrdiff_t>(end_), buffer_.begin());
        end_ -= begin_;
        begin_ = 0;
    }
    if (end_ == buffer_.size()) {
        buffer_.resize(buffer_.size() * 2);
    }
    ssize_t got;
    do {
        got = ::read(fd_, buffer_.data() + end_, buffer_.size() - end_);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        return false;
    }
    eof_ = got == 0;
    end_ += static_cast<std::size_t>(got);
    return true;
}

CLineReader::ENext CLineReader::Next(std::string& line) {
    std::size_t scanned = 0;  // bytes after begin_ known to hold no line end
    for (;;) {
        if (skipLf_ && begin_ < end_) {
            skipLf_ = false;
            if (buffer_[begin_] == '\n') {
                ++begin_;
            }
        }
        const auto first = buffer_.begin() + static_cast<std::ptrdiff_t>(begin_);
        const auto last = buffer_.begin() + static_cast<std::ptrdiff_t>(end_);
        const auto found = std::find_if(first + static_cast<std::ptrdiff_t>(scanned), last,
                                        [](char c) { return c == '\n' || c == '\r'; });
        const auto length = static_cast<std::size_t>(found - first);
        if (length > maxLineBytes_) {
            return ENext::kTooLong;
        }
        if (found != last || (eof_ && length > 0)) {
            line.assign(first, found);
            begin_ += length;
            if (found != last) {
                skipLf_ = *found == '\r';
                ++begin_;
            }
            ++lineNumber_;
            return ENext::kLine;
        }
        if (eof_) {
            return ENext::kEnd;
        }
        scanned = length;
        if (!Fill()) {
            return ENext::kError;
        }
    }
}

}  // namespace corvane3
