#pragma once
// A file-size limit stands in for a full disk: a write beyond it fails with EFBIG (the signal it
// would also raise is ignored meanwhile).

#include <sys/resource.h>

#include <csignal>
#include <cstdint>
#include <functional>

namespace corvane3::testing {

// Runs write while files may grow to bytes only; false when the limit could not be set.
inline bool WithFileSizeLimit(std::uintmax_t bytes, const std::function<void()>& write) {
    rlimit saved{};
    if (::getrlimit(RLIMIT_FSIZE, &saved) != 0) {
        return false;
    }
    rlimit limited = saved;
    limited.rlim_cur = static_cast<rlim_t>(bytes);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    const bool set = ::setrlimit(RLIMIT_FSIZE, &limited) == 0;
    if (set) {
        write();
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    return set;
}

}  // namespace corvane3::testing
