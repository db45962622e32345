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
    std::string BrowseForDataDirectory() override {
        browses.push_back(settings_.PollingEnabled ? "browse (polling)" : "browse");
        return browsed;
    }

    std::vector<std::string> messages, browses;
    std::function<void()> onMessage;
    std::string browsed;  // what the browser hands back

  private:
    const CProgramSettings& settings_;
};

class TelemetryRecorderTest : public ::testing::Test {
  protected:
    TelemetryRecorderTest() { settings_.DatafileDirectory = dir_.Path().string(); }

    TelemetryWriteResult Write(std::int32_t model) {
        return recorder_.WriteTelemetryRecord(SampleRecord(), model, settings_);
    }
    fs::path UnitFile() const { return dir_.Path() / "Unit1234.csd"; }

    testing::TempDir dir_;
    CProgramSettings settings_;
    CFakeTelemetryUi ui_{settings_};
    std::vector<std::chrono::milliseconds> waits_;
    CTelemetryRecorder recorder_{
        ui_, [this](std::chrono::milliseconds delay) { waits_.push_back(delay); }};
};

TEST_F(TelemetryRecorderTest, NewFileStartsWithItsHeaderAndLaterRecordsOnlyAppend) {
    ASSERT_EQ(Write(402), TelemetryWriteResult::kWritten);
    EXPECT_EQ(FileText(UnitFile()), TelemetryHeaderLine(402) + "\r\n" +
                                        TelemetryRecordLine(SampleRecord(), 402) + "\r\n");

    // The same unit reported as another model: no second header, its own column count.
    ASSERT_EQ(Write(403), TelemetryWriteResult::kWritten);
    const std::vector<std::string> lines = CsdLines(UnitFile());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(Columns(lines[0]), kTelemetryColumns);
    EXPECT_EQ(Columns(lines[2]), kTelemetryColumnsTq9000);
    EXPECT_TRUE(ui_.messages.empty());

    // Any existing file, even an empty one, is not new.
    fs::remove(UnitFile());
    std::ofstream(UnitFile()).close();
    ASSERT_EQ(Write(403), TelemetryWriteResult::kWritten);
    EXPECT_THAT(CsdLines(UnitFile()), ElementsAre(TelemetryRecordLine(SampleRecord(), 403)));
}

TEST_F(TelemetryRecorderTest, DirectoryIsCleanedOfCommentAndBlanksAndEndsInOneSlash) {
    settings_.DatafileDirectory = dir_.Path().string() + "// \t ; where the logs go";
    EXPECT_EQ(TelemetryFilePath(settings_, 1234).path, dir_.Path().string() + "/Unit1234.csd");
    ASSERT_EQ(Write(402), TelemetryWriteResult::kWritten);
    EXPECT_EQ(CsdLines(UnitFile()).size(), 2u);
}

TEST(TelemetryFilenameTemplateTest, AcceptsAtMostOneLongConversionAndLiteralPercents) {
    const std::vector<std::pair<std::string, std::string>> accepted = {
        {"Unit%ld.csd", "Unit1234.csd"}, {"%05ld.csd", "01234.csd"}, {"%-6ld_", "1234  _"},
        {"%+.6li", "+001234"},           {"100%%_%ld", "100%_1234"}, {"fixed.csd", "fixed.csd"},
    };
    for (const auto& [nameTemplate, expected] : accepted) {
        std::string name;
        EXPECT_TRUE(FormatFilenameTemplate(nameTemplate, 1234, name)) << nameTemplate;
        EXPECT_EQ(name, expected) << nameTemplate;
    }
    for (const std::string nameTemplate :
         {"Unit%s.csd", "Unit%d.csd", "%ld_%ld", "%lu", "%lld", "%ln", "%n", "%*ld", "%1000ld",
          "%.1000ld", "Unit%", "Unit%l", "%'ld", "%ls"}) {
        std::string name = "untouched";
        EXPECT_FALSE(FormatFilenameTemplate(nameTemplate, 1234, name)) << nameTemplate;
        EXPECT_EQ(name, "untouched");
    }
}

TEST_F(TelemetryRecorderTest, RefusedTemplateWritesNothingAndSaysWhy) {
    settings_.DataFilenameTemplate = "Unit%s%n.csd";
    EXPECT_EQ(Write(403), TelemetryWriteResult::kTemplateRefused);
    EXPECT_TRUE(fs::is_empty(dir_.Path()));
    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_THAT(ui_.messages[0], HasSubstr("Save data record error: "));
    EXPECT_THAT(ui_.messages[0], HasSubstr("\"Unit%s%n.csd\""));
    EXPECT_THAT(ui_.messages[0], ::testing::Not(HasSubstr("(polling)")));
    EXPECT_TRUE(settings_.PollingEnabled);
    EXPECT_TRUE(ui_.browses.empty());
}

TEST_F(TelemetryRecorderTest, UnsetDirectoryAsksForOneAndTheNextRecordUsesIt) {
    settings_.DatafileDirectory = "   ; nothing here";
    ui_.browsed = dir_.Path().string();
    // A record that arrives while the message is up is turned away, not stacked.
    TelemetryWriteResult nested{};
    ui_.onMessage = [&] { nested = Write(402); };

    EXPECT_EQ(Write(402), TelemetryWriteResult::kDirectoryError);
    EXPECT_THAT(ui_.messages,
                ElementsAre("Save data record error: Output data directory not set."));
    EXPECT_THAT(ui_.browses, ElementsAre("browse"));
    EXPECT_TRUE(settings_.PollingEnabled);
    EXPECT_EQ(nested, TelemetryWriteResult::kBusy);
    EXPECT_EQ(settings_.DatafileDirectory, dir_.Path().string() + "/");
    EXPECT_TRUE(fs::is_empty(dir_.Path()));

    ui_.onMessage = nullptr;
    ASSERT_EQ(Write(402), TelemetryWriteResult::kWritten);
    EXPECT_EQ(CsdLines(UnitFile()).size(), 2u);
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

TEST_F(TelemetryRecorderTest, FileThatCannotBeOpenedIsTriedTenTimesThenReported) {
    // The file's name is taken by a folder, so every open fails.
    settings_.DataFilenameTemplate = "taken%ld";
    fs::create_directory(dir_.Path() / "taken1234");
    EXPECT_EQ(Write(403), TelemetryWriteResult::kOpenFailed);
    EXPECT_EQ(waits_, std::vector<std::chrono::milliseconds>(9, 200ms));
    EXPECT_THAT(
        ui_.messages,
        ElementsAre("Corvane3: File Open Failure while writing telemetry record (polling)"));
    EXPECT_TRUE(ui_.browses.empty());
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
