#pragma once
// A file written in full before it gets its name: until then it has none (O_TMPFILE), so a
// process killed while writing it leaves nothing behind on the disk.
//
//   std::string fallback;
//   const int fd = CreateUnnamedFileBeside(path, fallback);
//   ... write through fd ...
//   NameUnnamedFile(fd, fallback, path);   // replaces a file at path; fd stays open
//
// On a file system without unnamed files the file gets a temporary name beside path at once
// (fallback): whoever gives up on such a file unlinks fallback.

#include <string>

namespace corvane3 {

// A new empty file, open for reading and writing, in the folder of path. fallback is set to its
// temporary name when it needed one, else emptied. -1, errno set, when it cannot be made.
int CreateUnnamedFileBeside(const std::string& path, std::string& fallback);

// Gives the file of CreateUnnamedFileBeside the name path, replacing what is there. False,
// errno set, when that failed: the file then has no name (fallback is left to the caller).
bool NameUnnamedFile(int fd, const std::string& fallback, const std::string& path);

}  // namespace corvane3
