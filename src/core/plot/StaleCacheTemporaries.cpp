#include "core/plot/StaleCacheTemporaries.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <ctime>
#include <set>
#include <string_view>
#include <utility>
#include <vector>

namespace corvane3 {

namespace {

// "%016llx.plotcache" (see PlotCachePathFor).
constexpr std::size_t kHashDigits = 16;
constexpr std::string_view kCacheSuffix = ".plotcache.";
// mkostemp's six letters, or the ".new<pid>-<n>" name a whole file briefly has before its
// rename over the cache.
constexpr std::size_t kRandomLetters = 6;
constexpr std::string_view kNewPrefix = "new";

bool AllOf(std::string_view text, int (*test)(int)) {
    for (const char c : text) {
        if (test(static_cast<unsigned char>(c)) == 0) {
            return false;
        }
    }
    return true;
}

bool IsCacheTemporaryName(std::string_view name) {
    if (name.size() <= kHashDigits + kCacheSuffix.size() ||
        !AllOf(name.substr(0, kHashDigits), ::isxdigit) ||
        name.substr(kHashDigits, kCacheSuffix.size()) != kCacheSuffix) {
        return false;
    }
    const std::string_view suffix = name.substr(kHashDigits + kCacheSuffix.size());
    if (suffix.size() == kRandomLetters && AllOf(suffix, ::isalnum)) {
        return true;
    }
    if (suffix.substr(0, kNewPrefix.size()) != kNewPrefix) {
        return false;
    }
    const std::string_view numbers = suffix.substr(kNewPrefix.size());
    const std::size_t dash = numbers.find('-');
    return dash != std::string_view::npos && dash > 0 && dash + 1 < numbers.size() &&
           AllOf(numbers.substr(0, dash), ::isdigit) && AllOf(numbers.substr(dash + 1), ::isdigit);
}

using FileId = std::pair<dev_t, ino_t>;

// The files open in the processes whose descriptors this user may look at.
std::set<FileId> OpenFiles() {
    std::set<FileId> open;
    DIR* processes = ::opendir("/proc");
    if (processes == nullptr) {
        return open;
    }
    while (const dirent* process = ::readdir(processes)) {
        if (!AllOf(process->d_name, ::isdigit)) {
            continue;
        }
        const std::string fdFolder = std::string("/proc/") + process->d_name + "/fd";
        DIR* fds = ::opendir(fdFolder.c_str());
        if (fds == nullptr) {
            continue;  // gone, or another user's
        }
        while (const dirent* fd = ::readdir(fds)) {
            struct stat info {};
            if (fd->d_name[0] != '.' && ::fstatat(::dirfd(fds), fd->d_name, &info, 0) == 0 &&
                S_ISREG(info.st_mode)) {
                open.emplace(info.st_dev, info.st_ino);
            }
        }
        ::closedir(fds);
    }
    ::closedir(processes);
    return open;
}

}  // namespace

int RemoveStaleCacheTemporaries(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        return 0;
    }
    const std::time_t staleBefore =
        std::time(nullptr) -
        std::chrono::duration_cast<std::chrono::seconds>(kStaleCacheTemporaryAge).count();
    struct Candidate {
        std::string name;
        FileId id;
    };
    std::vector<Candidate> stale;
    while (const dirent* entry = ::readdir(dir)) {
        struct stat info {};
        if (IsCacheTemporaryName(entry->d_name) &&
            ::fstatat(::dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(info.st_mode) && info.st_uid == ::geteuid() && info.st_mtime < staleBefore) {
            stale.push_back({entry->d_name, {info.st_dev, info.st_ino}});
        }
    }
    int removed = 0;
    if (!stale.empty()) {
        const std::set<FileId> open = OpenFiles();
        for (const Candidate& candidate : stale) {
            if (open.count(candidate.id) == 0 &&
                ::unlinkat(::dirfd(dir), candidate.name.c_str(), 0) == 0) {
                ++removed;
            }
        }
    }
    ::closedir(dir);
    return removed;
}

}  // namespace corvane3
