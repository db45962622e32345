// Files read for a moment while another thread may start a program (the event program, a
// child of the window) are open close-on-exec: the program never inherits them.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/base/LineReader.h"
#include "support/TempDir.h"

namespace corvane3 {
namespace {

// How this process's descriptors of path are flagged: one entry per descriptor, true when it
// is closed on exec.
std::vector<bool> DescriptorsOf(const std::filesystem::path& path) {
    std::vector<bool> flags;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (std::filesystem::read_symlink(entry.path(), error) == path) {
            const int fd = std::stoi(entry.path().filename().string());
            flags.push_back((::fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0);
        }
    }
    return flags;
}

TEST(CloseOnExecTest, LinesReadFromAFileComeThroughADescriptorNoProgramInherits) {
    testing::TempDir dir;
    const auto path = dir.Path() / "type";
    std::ofstream(path) << "4\nsecond\nthird";
    std::vector<std::string> lines;
    std::vector<std::vector<bool>> seen;
    EXPECT_TRUE(ReadLinesOf(path.string(), 64, [&](const std::string& line) {
        lines.push_back(line);
        seen.push_back(DescriptorsOf(path));
        return line != "second";
    }));
    EXPECT_EQ(lines, (std::vector<std::string>{"4", "second"}));
    EXPECT_EQ(seen, (std::vector<std::vector<bool>>(2, {true})));
    EXPECT_EQ(DescriptorsOf(path), std::vector<bool>{});  // closed again
    EXPECT_FALSE(ReadLinesOf((dir.Path() / "missing").string(), 64, [](const std::string&) {
        ADD_FAILURE() << "a line of a missing file";
        return true;
    }));
}

}  // namespace
}  // namespace corvane3
