// The recorder against real files in a scratch folder, with a stand-in for the message box and
// the folder browser.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "support/TempDir.h"
#include "telemetry/TelemetryFormat.h"
#include "telemetry/TelemetryPath.h"
#include "telemetry/TelemetryRecorder.h"
#include "telemetry/TelemetryTestData.h"

namespace corvane3 {
namespace {

namespace fs = std::filesystem;
using testing::Columns;
using testing::CsdLines;
using ::testing::ElementsAre;
using testing::FileText;
using ::testing::HasSubstr;
using testing::SampleRecord;
using namespace std::chrono_literals;

// Remembers each message with whether polling was on while it was shown.
class CFakeTelemetryUi : public ITelemetryUi {
  public:
    explicit CFakeTelemetryUi(const CProgramSettings& settings) : settings_(settings) {}
    void ShowMessage(const std::string& text, const std::string& title) override {
        messages.push_back(title + ": " + text + (settings_.PollingEnabled ? " (polling)" : ""));
        if (onMessage) {
            onMessage();
        }
    }
    void ShowNotice(const std::string& text, const std::string& title) override {
        notices.push_back(title + ": " + text);
    }
    std::string BrowseForDataDirectory() override {
        browses.push_back(settings_.PollingEnabled ? "browse (polling)" : "browse");
        return browsed;
    }

    std::vector<std::string> messages, notices, browses;
    std::function<void()> onMessage;
    std::string browsed;  // what the browser hands back

  private:
    const CProgramSettings& settings_;
};

class TelemetryRecorderTest : public ::testing::Test {
  protected:
    TelemetryRecorderTest() { settings_.DatafileDirectory = dir_.Path().string(); }

    TelemetryWriteResult Write(std::int32_t model, double mjd = 60123.5) {
        UnitStateData data = SampleRecord();
        data.mjd = mjd;
        return recorder_.WriteTelemetryRecord(data, model, settings_);
    }
    fs::path UnitFile() const { return dir_.Path() / "Unit1234.csd"; }
    static std::string Line(std::int32_t model, double mjd) {
        UnitStateData data = SampleRecord();
        data.mjd = mjd;
        return TelemetryRecordLine(data, model);
    }

    testing::TempDir dir_;
    CProgramSettings settings_;
    CFakeTelemetryUi ui_{settings_};
    std::vector<std::chrono::milliseconds> waits_;
    CTelemetryRecorder recorder_{
        ui_, [this](std::chrono::milliseconds delay) { waits_.push_back(delay); }};
};

TEST_F(TelemetryRecorderTest, EachFileHasOneHeaderAndOneColumnCountPerModel) {
    ASSERT_EQ(Write(402), TelemetryWriteResult::kWritten);
    EXPECT_EQ(FileText(UnitFile()), TelemetryHeaderLine(402) + "\r\n" +
                                        TelemetryRecordLine(SampleRecord(), 402) + "\r\n");

    // The same serial number reported as a Tq9000: its records go to a file of their own, and
    // the user is told once where.
    const fs::path tq9000File = dir_.Path() / "Unit1234-403.csd";
    ASSERT_EQ(Write(403), TelemetryWriteResult::kWritten);
    ASSERT_EQ(Write(403), TelemetryWriteResult::kWritten);
    ASSERT_EQ(Write(402), TelemetryWriteResult::kWritten);
    for (const auto& [file, columns] :
         {std::pair(UnitFile(), kTelemetryColumns), {tq9000File, kTelemetryColumnsTq9000}}) {
        const std::vector<std::string> lines = CsdLines(file);
        EXPECT_EQ(lines.size(), 3u) << file;
        for (const std::string& line : lines) {
            EXPECT_EQ(Columns(line), columns) << file << ": " << line;
        }
    }
    ASSERT_EQ(ui_.notices.size(), 1u);
    EXPECT_THAT(ui_.notices[0], HasSubstr(tq9000File.string()));
    EXPECT_TRUE(ui_.messages.empty());

    // An existing file without a header, even an empty one, is appended to as it is.
    for (const std::string& start : {std::string(), TelemetryRecordLine(SampleRecord(), 403)}) {
        std::ofstream(UnitFile(), std::ios::binary) << start;
        ASSERT_EQ(Write(402), TelemetryWriteResult::kWritten);
        EXPECT_EQ(FileText(UnitFile()), start + TelemetryRecordLine(SampleRecord(), 402) + "\r\n");
    }
}

TEST_F(TelemetryRecorderTest, DirectoryIsCleanedOfCommentAndBlanksAndEndsInOneSlash) {
    settings_.DatafileDirectory = dir_.Path().string() + "// \t ; where the logs go";
    EXPECT_EQ(TelemetryFilePath(settings_, 1234).path, dir_.Path().string() + "/Unit1234.csd");
    ASSERT_EQ(Write(402), TelemetryWriteResult::kWritten);
    EXPECT_EQ(CsdLines(UnitFile()).size(), 2u);
}

TEST(TelemetryFilenameTemplateTest, AcceptsOneIntegerConversionAndLiteralPercentsInAFileName) {
    const std::vector<std::pair<std::string, std::string>> accepted = {
        {"Unit%ld.csd", "Unit1234.csd"}, {"%05ld.csd", "01234.csd"}, {"%-6ld_", "1234  _"},
        {"%+.6li", "+001234"},           {"100%%_%ld", "100%_1234"}, {"fixed.csd", "fixed.csd"},
        {"Unit%d.csd", "Unit1234.csd"},  {"U%05i", "U01234"},        {"U%u", "U1234"},
        {"..%ld", "..1234"},
    };
    for (const auto& [nameTemplate, expected] : accepted) {
        std::string name;
        EXPECT_TRUE(FormatFilenameTemplate(nameTemplate, 1234, name)) << nameTemplate;
        EXPECT_EQ(name, expected) << nameTemplate;
        EXPECT_EQ(FilenameTemplateProblem(nameTemplate), "") << nameTemplate;
    }
    for (const std::string nameTemplate :
         {"Unit%s.csd", "%ld_%ld", "%lld", "%ln", "%n", "%*ld", "%1000ld", "%.1000ld", "Unit%",
          "Unit%l", "%'ld", "%ls", "%hd"}) {
        std::string name = "untouched";
        EXPECT_FALSE(FormatFilenameTemplate(nameTemplate, 1234, name)) << nameTemplate;
        EXPECT_EQ(name, "untouched");
        EXPECT_NE(FilenameTemplateProblem(nameTemplate), "") << nameTemplate;
    }
    for (const std::string nameTemplate : {"../../escape%ld.csd", "sub/Unit%ld", "..", ".", "",
                                           "%300ld"}) {
        EXPECT_NE(FilenameTemplateProblem(nameTemplate), "") << nameTemplate;
    }
}

TEST_F(TelemetryRecorderTest, UnusableTemplateOrDirectoryKeepsTheRecordsForLater) {
    settings_.DataFilenameTemplate = "../escape%ld.csd";
    EXPECT_EQ(Write(403, 1), TelemetryWriteResult::kTemplateRefused);
    EXPECT_TRUE(fs::is_empty(dir_.Path()));
    EXPECT_FALSE(fs::exists(dir_.Path().parent_path() / "escape1234.csd"));
    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_THAT(ui_.messages[0], HasSubstr("Save data record error: "));
    EXPECT_THAT(ui_.messages[0], HasSubstr("\"../escape%ld.csd\""));
    EXPECT_THAT(ui_.messages[0], ::testing::Not(HasSubstr("(polling)")));
    EXPECT_TRUE(ui_.browses.empty());

    settings_.DataFilenameTemplate = "Unit%ld.csd";
    settings_.DatafileDirectory = "   ; nothing here";
    ui_.browsed = dir_.Path().string();
    // A record that arrives while the message is up waits for this call to finish.
    TelemetryWriteResult nested{};
    ui_.onMessage = [&] { nested = Write(402, 3); };
    ui_.messages.clear();
    EXPECT_EQ(Write(403, 2), TelemetryWriteResult::kDirectoryError);
    EXPECT_THAT(ui_.messages,
                ElementsAre("Save data record error: Output data directory not set."));
    EXPECT_THAT(ui_.browses, ElementsAre("browse"));
    EXPECT_TRUE(settings_.PollingEnabled);
    EXPECT_EQ(nested, TelemetryWriteResult::kQueued);
    EXPECT_EQ(settings_.DatafileDirectory, dir_.Path().string() + "/");
    EXPECT_EQ(recorder_.QueuedRecords(), 3u);

    // The next record uses the new directory, after the kept ones, in order.
    ui_.onMessage = nullptr;
    ASSERT_EQ(Write(402, 4), TelemetryWriteResult::kWritten);
    EXPECT_THAT(CsdLines(UnitFile()), ElementsAre(TelemetryHeaderLine(403), Line(403, 1),
                                                  Line(403, 2)));
    EXPECT_THAT(CsdLines(dir_.Path() / "Unit1234-402.csd"),
                ElementsAre(TelemetryHeaderLine(402), Line(402, 3), Line(402, 4)));
    EXPECT_EQ(recorder_.QueuedRecords(), 0u);
}

TEST_F(TelemetryRecorderTest, UnreachableDirectoryIsNamedAndCancelledBrowseLeavesItUnset) {
    const fs::path cwd = fs::current_path();
    std::ofstream(dir_.Path() / "plain").close();
    for (const fs::path& missing : {dir_.Path() / "gone", dir_.Path() / "plain"}) {
        settings_.DatafileDirectory = missing.string();
        ui_.messages.clear();
        EXPECT_EQ(Write(403), TelemetryWriteResult::kDirectoryError);
        EXPECT_THAT(ui_.messages, ElementsAre("Save data record error: Unable to save to "
                                              "directory:\n" +
                                              missing.string() + "/"));
        // No browse has completed in this run: the directory is now unset.
        EXPECT_EQ(settings_.DatafileDirectory, "");
    }
    EXPECT_EQ(fs::current_path(), cwd);

    // Polling that was off stays off.
    settings_.PollingEnabled = false;
    EXPECT_EQ(Write(403), TelemetryWriteResult::kDirectoryError);
    EXPECT_FALSE(settings_.PollingEnabled);
}

TEST_F(TelemetryRecorderTest, RecordsArrivingWhileAFileCannotBeOpenedAreWrittenLaterInOrder) {
    // The file's name is taken by a folder, so every open fails.
    fs::create_directory(UnitFile());
    ui_.onMessage = [&] {
        EXPECT_EQ(Write(403, 2), TelemetryWriteResult::kQueued);
        EXPECT_EQ(Write(403, 3), TelemetryWriteResult::kQueued);
    };
    EXPECT_EQ(Write(403, 1), TelemetryWriteResult::kOpenFailed);
    EXPECT_EQ(waits_, std::vector<std::chrono::milliseconds>(9, 200ms));
    EXPECT_THAT(
        ui_.messages,
        ElementsAre("Corvane3: File Open Failure while writing telemetry record (polling)"));
    EXPECT_TRUE(ui_.browses.empty());

    ui_.onMessage = nullptr;
    fs::remove(UnitFile());
    ASSERT_EQ(Write(403, 4), TelemetryWriteResult::kWritten);
    EXPECT_THAT(CsdLines(UnitFile()), ElementsAre(TelemetryHeaderLine(403), Line(403, 1),
                                                  Line(403, 2), Line(403, 3), Line(403, 4)));
    EXPECT_EQ(ui_.messages.size(), 1u);
}

TEST_F(TelemetryRecorderTest, FailedWriteIsReportedNotIgnored) {
    if (::access("/dev/full", W_OK) != 0) {
        GTEST_SKIP() << "no writable /dev/full to fill";
    }
    settings_.DatafileDirectory = "/dev";
    settings_.DataFilenameTemplate = "full";
    EXPECT_EQ(Write(403), TelemetryWriteResult::kWriteFailed);
    EXPECT_THAT(ui_.messages,
                ElementsAre("Corvane3: Write Failure while writing telemetry record (polling)"));
}

}  // namespace
}  // namespace corvane3
