#pragma once
// Points the cache folder (XDG_CACHE_HOME) at a test's own folder while it lives, so that plot
// caches go there; afterwards the variable is as it was.

#include <cstdlib>
#include <filesystem>
#include <string>

namespace corvane3::testing {

class ScopedCacheHome {
  public:
    explicit ScopedCacheHome(const std::filesystem::path& path) {
        const char* old = std::getenv("XDG_CACHE_HOME");
        had_ = old != nullptr;
        old_ = old ? old : "";
        ::setenv("XDG_CACHE_HOME", path.c_str(), 1);
    }
    ~ScopedCacheHome() {
        had_ ? ::setenv("XDG_CACHE_HOME", old_.c_str(), 1) : ::unsetenv("XDG_CACHE_HOME");
    }
    ScopedCacheHome(const ScopedCacheHome&) = delete;
    ScopedCacheHome& operator=(const ScopedCacheHome&) = delete;

  private:
    std::string old_;
    bool had_ = false;
};

}  // namespace corvane3::testing
