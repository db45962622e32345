// corvane3 --headless with a record directory that cannot be used: the run ends before it polls.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "app/HeadlessRun.h"
#include "support/TempDir.h"

namespace corvane3 {
namespace {

using ::testing::HasSubstr;

class HeadlessRecordTest : public ::testing::Test {
  protected:
    int Run(HeadlessOptions options) {
        options.port = (dir_.Path() / "unit").string();
        options.intervalSeconds = kMinPollingInterval;
        return RunHeadless(app_, options, out_, err_, interrupted_);
    }
    testing::TempDir dir_;
    Corvane3App app_;
    std::ostringstream out_, err_;
    std::atomic<bool> interrupted_{false};
};

TEST_F(HeadlessRecordTest, UnusableRecordingEndsTheRunBeforePolling) {
    struct Case {
        std::string recordDirectory;
        bool configuredToRecord;
        std::string message;
    };
    const std::string missing = (dir_.Path() / "missing").string();
    for (const Case& c : std::vector<Case>{
             {missing, false, "Unable to save to directory:\n" + missing + "/"},
             {"", true, "Output data directory not set."},
             {dir_.Path().string() + ";x", false, "';'"},
         }) {
        SCOPED_TRACE(c.message);
        err_.str("");
        app_.settings.DatafileDirectory = "";
        app_.settings.RecordDataFile = c.configuredToRecord;
        HeadlessOptions options;
        options.recordDirectory = c.recordDirectory;
        EXPECT_EQ(Run(options), 1);
        EXPECT_THAT(err_.str(), HasSubstr(c.message));
        EXPECT_EQ(out_.str(), "");
    }
}

}  // namespace
}  // namespace corvane3
