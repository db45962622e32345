// The recorder against real files in a scratch folder, with a stand-in for the messages.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <numeric>
#include <tuple>

#include "core/config/TelemetryPath.h"
#include "core/telemetry/TelemetryFormat.h"
#include "core/telemetry/TelemetryRecorder.h"
#include "support/ChildProcess.h"
#include "support/PrometheusServer.h"
#include "support/TelemetryTestData.h"
#include "support/TempDir.h"

namespace corvane3 {
namespace {

namespace fs = std::filesystem;
using namespace ::testing;          // the matchers
using namespace corvane3::testing;  // the record and file helpers
using namespace std::chrono_literals;

struct CFakeTelemetryUi : ITelemetryUi {
    void ShowMessage(const std::string& text, const std::string& title) override {
        messages.push_back(title + ": " + text);
        if (onMessage) {
            onMessage();
        }
    }
    void ShowNotice(const std::string& text, const std::string& title) override {
        notices.push_back(title + ": " + text);
    }
    // With the number of messages shown before it.
    void RecordNotWritten(const std::string& reason) override {
        failures.push_back(std::to_string(messages.size()) + ": " + reason);
    }

    std::vector<std::string> messages, notices, failures;
    std::function<void()> onMessage;
};

class TelemetryRecorderTest : public ::testing::Test {
  protected:
    TelemetryRecorderTest() { settings_.DatafileDirectory = dir_.Path().string(); }

    // A record of this model whose time stamp tells it from the others.
    static UnitStateData At(double mjd) {
        UnitStateData data = SampleRecord();
        data.mjd = mjd;
        return data;
    }
    static std::string Line(double mjd) { return TelemetryRecordLine(At(mjd), 403); }
    // A Tq9000's file: the header, then the records of these MJDs.
    static std::vector<std::string> FileOf(const std::vector<int>& mjds) {
        std::vector<std::string> lines{TelemetryHeaderLine(403)};
        for (int mjd : mjds) {
            lines.push_back(Line(mjd));
        }
        return lines;
    }
    ETelemetryWriteResult Write(std::int32_t model, double mjd = 60123.5) {
        return recorder_.WriteTelemetryRecord(At(mjd), model, settings_);
    }
    fs::path UnitFile() const { return dir_.Path() / "Unit1234.csd"; }

    testing::TempDir dir_;
    CProgramSettings settings_;
    CFakeTelemetryUi ui_;
    std::vector<std::chrono::milliseconds> waits_;
    CTelemetryRecorder recorder_{
        ui_, [this](std::chrono::milliseconds delay) { waits_.push_back(delay); }};
};

TEST_F(TelemetryRecorderTest, EachFileHasOneHeaderAndOneColumnCountPerModel) {
    // The directory is cleaned of its comment and blanks and ends in one '/'.
    settings_.DatafileDirectory = dir_.Path().string() + "// \t ; where the logs go";
    ASSERT_EQ(Write(402), ETelemetryWriteResult::kWritten);
    EXPECT_EQ(FileText(UnitFile()), TelemetryHeaderLine(402) + "\r\n" +
                                        TelemetryRecordLine(SampleRecord(), 402) + "\r\n");

    // The same serial number reported as a Tq9000: its records go to a file of their own, and
    // the user is told once where.
    const fs::path tq9000File = dir_.Path() / "Unit1234-403.csd";
    ASSERT_EQ(Write(403), ETelemetryWriteResult::kWritten);
    ASSERT_EQ(Write(403), ETelemetryWriteResult::kWritten);
    ASSERT_EQ(Write(402), ETelemetryWriteResult::kWritten);
    EXPECT_THAT(CsdLines(UnitFile()), AllOf(SizeIs(3), Each(ResultOf(Columns, 45))));
    EXPECT_THAT(CsdLines(tq9000File), AllOf(SizeIs(3), Each(ResultOf(Columns, 51))));
    ASSERT_EQ(ui_.notices.size(), 1u);
    EXPECT_THAT(ui_.notices[0], HasSubstr(tq9000File.string()));
    EXPECT_TRUE(ui_.messages.empty());

    // A file of records without a header is appended to as it is.
    const std::string start = TelemetryRecordLine(SampleRecord(), 403) + "\r\n";
    std::ofstream(UnitFile(), std::ios::binary) << start;
    ASSERT_EQ(Write(402), ETelemetryWriteResult::kWritten);
    EXPECT_EQ(FileText(UnitFile()), start + TelemetryRecordLine(SampleRecord(), 402) + "\r\n");
}

// A log rotation that copies and truncates leaves the file empty under a running recorder: without
// a header line there, every reader would take the first record for it.
TEST_F(TelemetryRecorderTest, AFileEmptiedDuringTheRunGetsTheHeaderFirst) {
    ASSERT_EQ(Write(403, 1), ETelemetryWriteResult::kWritten);
    std::ofstream(UnitFile(), std::ios::binary | std::ios::trunc);
    ASSERT_EQ(Write(403, 2), ETelemetryWriteResult::kWritten);
    EXPECT_EQ(CsdLines(UnitFile()), FileOf({2}));
}

TEST(TelemetryFilenameTemplateTest, AcceptsOneIntegerConversionAndLiteralPercentsInAFileName) {
    std::string names;
    for (const std::string nameTemplate :
         {"Unit%ld.csd", "%05ld.csd", "%-6ld_", "%+.6li", "100%%_%ld", "fixed.csd", "Unit%d.csd",
          "U%05i", "U%u", "..%ld"}) {
        std::string name;
        EXPECT_TRUE(FormatFilenameTemplate(nameTemplate, 1234, name)) << nameTemplate;
        EXPECT_EQ(FilenameTemplateProblem(nameTemplate), "") << nameTemplate;
        names += name + "|";
    }
    EXPECT_EQ(names,
              "Unit1234.csd|01234.csd|1234  _|+001234|100%_1234|fixed.csd|Unit1234.csd|U01234|"
              "U1234|..1234|");
    for (const std::string nameTemplate :
         {"Unit%s.csd", "%ld_%ld", "%lld", "%ln", "%n", "%*ld", "%1000ld", "%.1000ld", "Unit%",
          "Unit%l", "%'ld", "%ls", "%hd"}) {
        std::string name = "untouched";
        EXPECT_FALSE(FormatFilenameTemplate(nameTemplate, 1234, name)) << nameTemplate;
        EXPECT_EQ(name, "untouched");
    }
    // Not a file name in the data directory, or not one at all.
    for (const std::string& nameTemplate :
         std::vector<std::string>{"../../escape%ld.csd", "sub/Unit%ld", "..", ".", "", "%300ld",
                                  "Unit%s.csd", std::string("U\0%ld.csd", 8)}) {
        EXPECT_NE(FilenameTemplateProblem(nameTemplate), "") << nameTemplate;
    }
}

// Nothing here waits for the user or chooses a directory for them: each problem is told once
// while it lasts, and the records wait for a directory that works.
TEST_F(TelemetryRecorderTest, UnusableTemplateOrDirectoryIsToldOnceAndTheRecordsAreKeptForLater) {
    const fs::path cwd = fs::current_path();
    settings_.DataFilenameTemplate = "../escape%ld.csd";
    EXPECT_EQ(Write(403, 1), ETelemetryWriteResult::kTemplateRefused);
    EXPECT_EQ(Write(403, 2), ETelemetryWriteResult::kTemplateRefused);
    EXPECT_FALSE(fs::exists(dir_.Path().parent_path() / "escape1234.csd"));
    EXPECT_THAT(ui_.messages, ElementsAre(AllOf(HasSubstr("Save data record error: "),
                                                HasSubstr("\"../escape%ld.csd\""))));
    EXPECT_THAT(ui_.failures, ElementsAre(AllOf(StartsWith("0: "), HasSubstr("escape%ld")),
                                          AllOf(StartsWith("1: "), HasSubstr("escape%ld"))));
    settings_.DataFilenameTemplate = "Unit%ld.csd";

    ui_.messages.clear();
    settings_.DatafileDirectory = "";
    EXPECT_EQ(Write(403, 3), ETelemetryWriteResult::kDirectoryError);
    EXPECT_EQ(Write(403, 4), ETelemetryWriteResult::kDirectoryError);
    EXPECT_THAT(ui_.messages,
                ElementsAre("Save data record error: Output data directory not set."));

    EXPECT_EQ(recorder_.QueuedRecords(), 4u);

    // Once it works, every record kept goes there, in order.
    settings_.DatafileDirectory = dir_.Path().string();
    ASSERT_EQ(Write(403, 5), ETelemetryWriteResult::kWritten);
    EXPECT_EQ(CsdLines(UnitFile()), FileOf({1, 2, 3, 4, 5}));
    EXPECT_EQ(recorder_.QueuedRecords(), 0u);
    EXPECT_EQ(fs::current_path(), cwd);
}

// A directory the user named is made, folders above it too. One this run has written to that
// goes away (a disk pulled, a share unmounted) is waited for, not made again in its place.
TEST_F(TelemetryRecorderTest, AMissingDirectoryIsMadeAgainUnlessItsFileSystemWentAway) {
    const fs::path records = dir_.Path() / "new" / "records";
    settings_.DatafileDirectory = records.string();
    ASSERT_EQ(Write(403, 1), ETelemetryWriteResult::kWritten);
    EXPECT_EQ(CsdLines(records / "Unit1234.csd"), FileOf({1}));

    // Gone with the folder above it, as with a disk unmounted under its mount point: waited for.
    fs::rename(dir_.Path() / "new", dir_.Path() / "away");
    EXPECT_EQ(Write(403, 2), ETelemetryWriteResult::kDirectoryError);
    EXPECT_FALSE(fs::exists(records));
    EXPECT_THAT(ui_.messages, ElementsAre("Save data record error: Unable to save to directory:\n" +
                                          records.string() + "/"));
    // The status line and the logs get the system's reason too.
    EXPECT_THAT(ui_.failures, ElementsAre("0: Unable to save to directory: " + records.string() +
                                          "/ (No such file or directory)"));

    fs::rename(dir_.Path() / "away", dir_.Path() / "new");
    ASSERT_EQ(Write(403, 3), ETelemetryWriteResult::kWritten);
    EXPECT_EQ(CsdLines(records / "Unit1234.csd"), FileOf({1, 2, 3}));

    // Deleted while the folder above it stays: made again, the header first.
    fs::remove_all(records);
    ASSERT_EQ(Write(403, 5), ETelemetryWriteResult::kWritten);
    EXPECT_EQ(CsdLines(records / "Unit1234.csd"), FileOf({5}));
}

TEST_F(TelemetryRecorderTest, RecordsArrivingWhileAFileCannotBeOpenedAreWrittenLaterInOrder) {
    fs::create_directory(UnitFile());  // every open fails, and trying again cannot help
    ui_.onMessage = [&] {
        EXPECT_EQ(Write(403, 2), ETelemetryWriteResult::kQueued);
        EXPECT_EQ(Write(403, 3), ETelemetryWriteResult::kQueued);
    };
    EXPECT_EQ(Write(403, 1), ETelemetryWriteResult::kOpenFailed);
    EXPECT_THAT(waits_, IsEmpty());
    EXPECT_THAT(ui_.failures, Each(EndsWith(std::string(": ") + std::strerror(EISDIR) + ")")));
    EXPECT_THAT(ui_.messages,
                ElementsAre("Corvane3: File Open Failure while writing telemetry record"));

    // A busy file (here a program running from it) is tried again, briefly, within a frame.
    ui_.onMessage = nullptr;
    fs::remove(UnitFile());
    fs::copy_file("/bin/sleep", UnitFile());
    {
        ChildProcess running({UnitFile().string(), "1000"});
        ASSERT_TRUE(WaitUntil(30s, [&] {
            const int fd = ::open(UnitFile().c_str(), O_WRONLY | O_CLOEXEC);
            return fd < 0 ? errno == ETXTBSY : ::close(fd) != 0;
        }));
        EXPECT_EQ(Write(403, 4), ETelemetryWriteResult::kOpenFailed);
        EXPECT_EQ(waits_, std::vector<std::chrono::milliseconds>(kTelemetryOpenAttempts - 1, kTelemetryOpenRetryDelay));
        EXPECT_THAT(ui_.failures.back(), EndsWith(std::string(": ") + std::strerror(ETXTBSY) + ")"));
        running.Signal(SIGKILL);
    }
    fs::remove(UnitFile());
    ASSERT_EQ(Write(403, 4), ETelemetryWriteResult::kWritten);
    EXPECT_EQ(CsdLines(UnitFile()), FileOf({1, 2, 3, 4, 4}));
    EXPECT_EQ(ui_.messages.size(), 2u);
}

// A real full disk (ENOSPC), as /dev/full gives it: said with the file and why, the record kept.
// Told once while it lasts, and again when it comes back after a good write.
TEST_F(TelemetryRecorderTest, ARealFullDiskSaysWhyAndKeepsTheRecord) {
    const auto toFullDisk = [&](bool full) {
        settings_.DatafileDirectory = full ? "/dev" : dir_.Path().string();
        settings_.DataFilenameTemplate = full ? "full" : "Unit%ld.csd";
    };
    toFullDisk(true);
    EXPECT_EQ(Write(403, 1), ETelemetryWriteResult::kWriteFailed);
    EXPECT_THAT(ui_.failures,
                ElementsAre(EndsWith("(/dev/full: " + std::string(std::strerror(ENOSPC)) + ")")));
    toFullDisk(false);
    ASSERT_EQ(Write(403, 2), ETelemetryWriteResult::kWritten);
    EXPECT_EQ(CsdLines(UnitFile()), FileOf({1, 2}));
    toFullDisk(true);
    EXPECT_EQ(Write(403, 3), ETelemetryWriteResult::kWriteFailed);
    EXPECT_EQ(Write(403, 4), ETelemetryWriteResult::kWriteFailed);
    EXPECT_EQ(ui_.messages.size(), 2u);
}

// A file whose header is another layout is never written to: that is said once, however many
// records wait, and they all go there once it is moved away.
TEST_F(TelemetryRecorderTest, AFileOfAnotherLayoutIsToldOnceAndTheRecordsWaitForIt) {
    std::ofstream(UnitFile(), std::ios::binary) << TelemetryHeaderLine(402) << "\r\n";
    const fs::path tq9000File = dir_.Path() / "Unit1234-403.csd";
    const std::string otherLayout = "MJD,Another,Layout\r\n";
    std::ofstream(tq9000File, std::ios::binary) << otherLayout;
    for (int mjd = 1; mjd <= 3; ++mjd) {
        EXPECT_EQ(Write(403, mjd), ETelemetryWriteResult::kOpenFailed);
    }
    EXPECT_THAT(ui_.messages, ElementsAre(AllOf(StartsWith("Corvane3: " + tq9000File.string()),
                                                HasSubstr("another layout"))));
    EXPECT_THAT(ui_.failures, SizeIs(3));
    EXPECT_EQ(FileText(tq9000File), otherLayout);

    fs::rename(tq9000File, dir_.Path() / "moved.csd");
    ASSERT_EQ(Write(403, 4), ETelemetryWriteResult::kWritten);
    EXPECT_EQ(CsdLines(tq9000File), FileOf({1, 2, 3, 4}));
    EXPECT_EQ(ui_.messages.size(), 1u);
}

// What a power cut leaves at the end of a file is mended before the run's first record there,
// and a line torn by another program between two records before the next: the record starts a
// line of its own, nothing before the damage changes, and the user is told once what was done.
// A file left empty gets the header first.
TEST_F(TelemetryRecorderTest, APowerCutsTornLineOrNulTailIsMendedBeforeTheNextRecord) {
    const std::string header = TelemetryHeaderLine(403) + "\r\n";
    const std::string whole = header + Line(1) + "\r\n" + Line(2) + "\r\n";
    const std::string nuls(4096, '\0');
    // Each row: the file at the start, what is added after MJD 9's record, the records before the
    // new ones (MJDs 1 to before), and what the notice says ("" for none).
    const std::vector<std::tuple<const char*, std::string, std::string, int, const char*>> cases{
        {"whole", whole, "", 2, ""},
        {"empty", "", "", 0, ""},
        {"NUL tail", whole + nuls, "", 2, "the 4096 bytes after its last whole line"},
        {"torn record", whole + Line(3).substr(0, 40), "", 2,
         "the 40 bytes after its last whole line"},
        {"torn record and NULs", whole + Line(3).substr(0, 40) + nuls, "", 2, "the 4136 bytes"},
        {"record without its LF", whole + Line(3) + "\r", "", 3,
         "its last record got its line end."},
        {"record without its LF, then NULs", whole + Line(3) + "\r" + nuls, "", 3,
         "and the 4096 bytes of NULs after it were cut off"},
        {"torn header", header.substr(0, 20), "", 0, "the 20 bytes"},
        {"torn between records", "", Line(3).substr(0, 40), 0, "the 40 bytes"},
        {"record without its LF between records", "", Line(3) + "\r", 0, "got its line end"},
    };
    for (const auto& [name, text, between, before, notice] : cases) {
        SCOPED_TRACE(name);
        ui_.notices.clear();
        CTelemetryRecorder recorder(ui_, [](std::chrono::milliseconds) {});
        std::ofstream(UnitFile(), std::ios::binary | std::ios::trunc) << text;
        ASSERT_EQ(recorder.WriteTelemetryRecord(At(9), 403, settings_),
                  ETelemetryWriteResult::kWritten);
        std::ofstream(UnitFile(), std::ios::binary | std::ios::app) << between;
        ASSERT_EQ(recorder.WriteTelemetryRecord(At(10), 403, settings_),
                  ETelemetryWriteResult::kWritten);
        std::vector<int> mjds(static_cast<std::size_t>(before));
        std::iota(mjds.begin(), mjds.end(), 1);
        mjds.push_back(9);
        if (between.ends_with('\r')) {
            mjds.push_back(3);  // a whole record: given its line end, it stays
        }
        mjds.push_back(10);
        EXPECT_EQ(CsdLines(UnitFile()), FileOf(mjds));
        if (*notice == '\0') {
            EXPECT_THAT(ui_.notices, IsEmpty());
        } else {
            EXPECT_THAT(ui_.notices, ElementsAre(HasSubstr(notice)));
        }
    }
}

// A folder that is there but takes no file (read-only for root, no write permission for a user)
// is told as unreachable with the system's reason, before any file is tried.
TEST_F(TelemetryRecorderTest, AFolderThatTakesNoFileIsToldWithTheSystemsReason) {
    const fs::path records = dir_.Path() / "read-only";
    fs::create_directory(records);
    const bool root = ::geteuid() == 0;
    if (root ? ::mount("none", records.c_str(), "tmpfs", MS_RDONLY, "size=64k") != 0
             : ::chmod(records.c_str(), 0555) != 0) {
        GTEST_SKIP() << "no read-only folder can be made here: " << std::strerror(errno);
    }
    settings_.DatafileDirectory = records.string();
    const ETelemetryWriteResult result = Write(403, 1);
    if (root) {
        ::umount2(records.c_str(), MNT_DETACH);
    }
    EXPECT_EQ(result, ETelemetryWriteResult::kDirectoryError);
    EXPECT_THAT(ui_.messages, ElementsAre("Save data record error: Unable to save to directory:\n" +
                                          records.string() + "/"));
    EXPECT_THAT(ui_.failures, ElementsAre("0: Unable to save to directory: " + records.string() +
                                          "/ (" + std::strerror(root ? EROFS : EACCES) + ")"));
}

}  // namespace
}  // namespace corvane3
