// The change log's lines and its file, without a unit, also on a disk that fills up while a
// line is written.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "core/link/CommandCodes.h"
#include "core/link/CommandFrame.h"
#include "core/poll/ChangeLog.h"
#include "support/FileSizeLimit.h"
#include "support/TelemetryTestData.h"
#include "support/TempDir.h"

namespace corvane3 {
namespace {

TEST(ChangeLogTest, ReadsAreToldFromChangesByTheCatalogue) {
    for (const char* read :
         {"D*1", "D*3", "D*6", "A08", "A24", "B02", "B32", "C03", "C10", "A12"}) {
        EXPECT_TRUE(IsReadCommand(read)) << read;
    }
    for (const char* change : {"W00", "W01", "W18", "A06", "A07", "A18", "B01", "C08", "C09", "A01",
                               "T*2", "B33", "X99"}) {
        EXPECT_FALSE(IsReadCommand(change)) << change;
    }
}

TEST(ChangeLogTest, LinesNameTheUnitAndOutcomeAndNeverShowAPassword) {
    const MailboxCommand setPassword{.code = CommandCode(ECommand::kSetPassword),
                                     .data = "00042",
                                     .parameter = 123,
                                     .replyLimit = 64};
    EXPECT_EQ(ChangeLogLine(1796169600, 1234, 403, setPassword, EReplyVerdict::kRefused),
              "2026-12-02 00:00:00 UTC\t1234\t403 Tq9000\tC08\t*****\tpassword\trefused\n");
    // "no reply" and data kept as typed: SettingsDialogsWithSimTest, AttachedWindowWithSimTest.
    // A sweep's start and end are logged without a reply.
    const MailboxCommand sweep{.code = CommandCode(ECommand::kSingleDdsPoint),
                               .data = "sweep end: 5 of 9 points",
                               .parameter = kFactoryAccessOption,
                               .replyLimit = 0};
    EXPECT_EQ(
        ChangeLogLine(0, 7, 403, sweep, std::nullopt),
        "1970-01-01 00:00:00 UTC\t7\t403 Tq9000\tA04\tsweep end: 5 of 9 points\tfactory\tsent\n");
    // Data that would break the line or the columns is escaped.
    EXPECT_EQ(ChangeLogData("C06", "a\tb\nc\\"), "a\\x09b\\x0ac\\x5c");
}

TEST(ChangeLogTest, LinesAreAppendedAndAFolderThatCannotBeWrittenIsReportedOnce) {
    testing::TempDir dir;
    CChangeLog log;
    log.SetDirectory(dir.Path().string() + " ; comment");
    const MailboxCommand reset{.code = CommandCode(ECommand::kResetAlarms), .replyLimit = 256};
    EXPECT_TRUE(log.Record(
        {.code = CommandCode(ECommand::kPpsSyncEnable), .replyLimit = 32, .notificationCode = 22},
        EReplyVerdict::kAccepted, 1, 403));
    EXPECT_TRUE(log.Record({.code = CommandCode(ECommand::kReportVariables), .replyLimit = 256},
                           EReplyVerdict::kAccepted, 1, 403));
    EXPECT_TRUE(log.Record(reset, EReplyVerdict::kAccepted, 1, 403));
    const std::string text = testing::FileText(dir.Path() / kChangeLogFileName);
    EXPECT_NE(text.find("\tW22\t\tnone\taccepted\n"), std::string::npos);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
    EXPECT_EQ(log.TakeFirstFailure(), "");

    log.SetDirectory((dir.Path() / "missing").string());
    EXPECT_FALSE(log.Record(reset, EReplyVerdict::kAccepted, 1, 403));
    EXPECT_FALSE(log.Record(reset, EReplyVerdict::kAccepted, 1, 403));
    EXPECT_NE(log.TakeFirstFailure().find("missing/Corvane3-changes.log"), std::string::npos);
    EXPECT_EQ(log.TakeFirstFailure(), "");
}

TEST(ChangeLogTest, WithoutADataDirectoryTheLogGoesToTheUsersDataFolder) {
    testing::TempDir dir;
    setenv("XDG_DATA_HOME", dir.Path().c_str(), 1);
    EXPECT_EQ(ChangeLogDirectory(" "), (dir.Path() / "corvane3").string());
    EXPECT_TRUE(std::filesystem::is_directory(dir.Path() / "corvane3"));
    unsetenv("XDG_DATA_HOME");
}

// The file size limit stands in for a full disk: it lets part of a line through.
TEST(ChangeLogFullDiskTest, ALineCutShortIsTakenBackSoTheNextOneStartsALineOfItsOwn) {
    testing::TempDir dir;
    CChangeLog log;
    log.SetDirectory(dir.Path().string());
    const MailboxCommand command{.code = CommandCode(ECommand::kResetAlarms), .replyLimit = 256};
    ASSERT_TRUE(log.Record(command, EReplyVerdict::kAccepted, 1, 403));
    const auto path = dir.Path() / kChangeLogFileName;
    const auto firstLine = std::filesystem::file_size(path);

    bool written = true;
    // Room for part of a line.
    ASSERT_TRUE(testing::WithFileSizeLimit(
        firstLine + 12, [&] { written = log.Record(command, EReplyVerdict::kRefused, 1, 403); }));
    EXPECT_FALSE(written);
    EXPECT_EQ(std::filesystem::file_size(path), firstLine);

    ASSERT_TRUE(log.Record(command, EReplyVerdict::kUnanswered, 1, 403));
    const std::vector<std::string> lines = testing::FileLines(path);
    using ::testing::EndsWith;
    EXPECT_THAT(lines, ::testing::ElementsAre(EndsWith("\taccepted"), EndsWith("\tno reply")));
    EXPECT_NE(log.TakeFirstFailure().find("could not be written"), std::string::npos);
}

}  // namespace
}  // namespace corvane3
