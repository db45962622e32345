// The change log on a disk that fills up while a line is written.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>

#include "core/link/CommandCodes.h"
#include "core/link/CommandFrame.h"
#include "core/poll/ChangeLog.h"
#include "support/TelemetryTestData.h"
#include "support/TempDir.h"

namespace corvane3 {
namespace {

// The file size limit stands in for a full disk: it lets part of a line through.
TEST(ChangeLogFullDiskTest, ALineCutShortIsTakenBackSoTheNextOneStartsALineOfItsOwn) {
    testing::TempDir dir;
    CChangeLog log;
    log.SetDirectory(dir.Path().string());
    const MailboxCommand command{.code = CommandCode(ECommand::kResetAlarms), .replyLimit = 256};
    ASSERT_TRUE(log.Record(command, EReplyVerdict::kAccepted, 1, 403));
    const auto path = dir.Path() / kChangeLogFileName;
    const auto firstLine = std::filesystem::file_size(path);

    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit full = saved;
    full.rlim_cur = static_cast<rlim_t>(firstLine + 12);  // room for part of a line
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &full), 0);
    const bool written = log.Record(command, EReplyVerdict::kRefused, 1, 403);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(written);
    EXPECT_EQ(std::filesystem::file_size(path), firstLine);

    ASSERT_TRUE(log.Record(command, EReplyVerdict::kUnanswered, 1, 403));
    const std::vector<std::string> lines = testing::FileLines(path);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(lines[0].ends_with("\taccepted")) << lines[0];
    EXPECT_TRUE(lines[1].ends_with("\tno reply")) << lines[1];
    EXPECT_NE(log.TakeFirstFailure().find("could not be written"), std::string::npos);
}

}  // namespace
}  // namespace corvane3
