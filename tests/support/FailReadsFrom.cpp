// Loaded into a program under test (LD_PRELOAD): a pread that starts at or beyond the offset in
// CORVANE3_FAIL_READS_FROM fails with EIO, as a bad sector fails a read part way through a file
// that opened well.

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {

using Pread = ssize_t (*)(int, void*, size_t, off_t);

// The C library's function name, unless the read starts where reads fail.
ssize_t ReadOrFail(const char* name, int fd, void* buffer, size_t count, off_t offset) {
    static const char* const from = std::getenv("CORVANE3_FAIL_READS_FROM");
    if (from != nullptr && offset >= std::strtoll(from, nullptr, 10)) {
        errno = EIO;
        return -1;
    }
    return reinterpret_cast<Pread>(::dlsym(RTLD_NEXT, name))(fd, buffer, count, offset);
}

}  // namespace

extern "C" ssize_t pread(int fd, void* buffer, size_t count, off_t offset) {
    return ReadOrFail("pread", fd, buffer, count, offset);
}

extern "C" ssize_t pread64(int fd, void* buffer, size_t count, off_t offset) {
    return ReadOrFail("pread64", fd, buffer, count, offset);
}
