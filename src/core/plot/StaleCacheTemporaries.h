#pragma once
// Partial plot cache files whose writer is gone. A cache is written without a name until it is
// whole; only a file system without unnamed files (or a build that was killed while a program
// before this one wrote caches under a temporary name) leaves "NAME.plotcache.XXXXXX" files,
// which nothing else would ever remove.

#include <chrono>
#include <string>

namespace corvane3 {

// A temporary that has not been written for this long is no build under way, even one on a
// slow disk or paused in a debugger for a while.
inline constexpr std::chrono::minutes kStaleCacheTemporaryAge{30};

// Removes from folder each temporary plot cache file (a cache name followed by a temporary
// suffix) that was last written kStaleCacheTemporaryAge or more ago and that no process of this
// user holds open. Anything else in the folder is left alone. Returns how many were removed.
int RemoveStaleCacheTemporaries(const std::string& folder);

}  // namespace corvane3
