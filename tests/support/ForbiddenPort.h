#pragma once
// A port the user may not open, as on a machine where serial ports belong to a group the user has
// not joined. Tests run as root, so the refusal is made real on the calling thread only: it takes
// the file access of "nobody" (setfsuid, which also drops root's override of file permissions),
// and threads it starts meanwhile keep that access. The rest of the test program stays root.

#include <grp.h>
#include <pwd.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <string>

namespace corvane3::testing {

// The group serial ports belong to on Debian.
inline constexpr char kSerialGroup[] = "dialout";

// Gives path to root and group gid with mode; false when that is not allowed (not root).
inline bool GiveDevice(const std::string& path, gid_t gid, mode_t mode) {
    return ::chown(path.c_str(), 0, gid) == 0 && ::chmod(path.c_str(), mode) == 0;
}

// The id of group name, when it exists.
inline std::optional<gid_t> GroupId(const char* name) {
    const group* entry = ::getgrnam(name);
    return entry != nullptr ? std::optional(entry->gr_gid) : std::nullopt;
}

// While it lives, files are opened on this thread (and threads it starts) as "nobody" would
// open them. Active() is false when that cannot be done (not root, no such user).
class NobodysFileAccess {
  public:
    NobodysFileAccess() {
        const passwd* nobody = ::getpwnam("nobody");
        if (::geteuid() != 0 || nobody == nullptr) {
            return;
        }
        ::setfsgid(nobody->pw_gid);
        ::setfsuid(nobody->pw_uid);
        active_ = static_cast<uid_t>(::setfsuid(static_cast<uid_t>(-1))) == nobody->pw_uid;
    }
    ~NobodysFileAccess() {
        ::setfsuid(0);
        ::setfsgid(0);
    }
    NobodysFileAccess(const NobodysFileAccess&) = delete;
    NobodysFileAccess& operator=(const NobodysFileAccess&) = delete;
    bool Active() const { return active_; }

  private:
    bool active_ = false;
};

}  // namespace corvane3::testing
