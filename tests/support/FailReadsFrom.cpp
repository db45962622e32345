// Loaded into a program under test (LD_PRELOAD): a pread that starts at or beyond the offset in
// CORVANE3_FAIL_READS_FROM fails with EIO, as a bad sector fails a read part way through a file
// that opened well.

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {

using Pread = ssize_t (*)(int, void*, size_t, off_t);

bool Fails(off_t offset) {
    static const char* const from = std::getenv("CORVANE3_FAIL_READS_FROM");
    return from != nullptr && offset >= std::strtoll(from, nullptr, 10);
}

}  // namespace

extern "C" ssize_t pread(int fd, void* buffer, size_t count, off_t offset) {
    static const auto real = reinterpret_cast<Pread>(::dlsym(RTLD_NEXT, "pread"));
    if (Fails(offset)) {
        errno = EIO;
        return -1;
    }
    return real(fd, buffer, count, offset);
}

extern "C" ssize_t pread64(int fd, void* buffer, size_t count, off_t offset) {
    static const auto real = reinterpret_cast<Pread>(::dlsym(RTLD_NEXT, "pread64"));
    if (Fails(offset)) {
        errno = EIO;
        return -1;
    }
    return real(fd, buffer, count, offset);
}
