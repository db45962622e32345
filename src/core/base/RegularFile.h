#pragma once
// Opening a file to read only when it is a regular file. A FIFO would block the open or the
// first read for ever, a device such as /dev/zero never ends, and a folder holds no lines.

#include <string>

namespace corvane3 {

// The reason given for a path that exists but is no regular file (a FIFO, a device, a socket).
inline constexpr char kNotARegularFile[] = "not a regular file";

// A read-only descriptor (close-on-exec) for path, or -1 with the reason in reason: the system's
// text ("No such file or directory", "Is a directory", ...) or kNotARegularFile. Never blocks
// on the path's type; any thread.
int OpenRegularFile(const std::string& path, std::string& reason);
// As above, with the error number behind the reason in error: 0 when opened and when the path
// is there but no regular file (a folder included).
int OpenRegularFile(const std::string& path, std::string& reason, int& error);

}  // namespace corvane3
