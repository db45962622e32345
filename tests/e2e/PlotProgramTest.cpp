// corvane3 FILE.csd --screenshot PNG as a user runs it, without a display.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "core/telemetry/TelemetryFormat.h"
#include "support/ChildProcess.h"
#include "support/TelemetryTestData.h"
#include "support/TempDir.h"

namespace corvane3 {
namespace {

using testing::ChildProcess;
using testing::FileText;
using testing::TempDir;

TEST(PlotProgramTest, AFileOnTheCommandLineIsDrawnIntoAScreenshotOrRefused) {
    TempDir dir;
    const auto file = dir.Path() / "Unit1234.csd";
    {
        std::ofstream out(file, std::ios::binary);
        out << TelemetryHeaderLine(kModelTq9000) << kTelemetryLineEnd;
        for (int i = 0; i < 20; ++i) {
            UnitStateData data = testing::SampleRecord();
            data.mjd = 60000.0 + i / 24.0;
            data.d1.cRamErr = i % 5;
            out << TelemetryRecordLine(data, kModelTq9000) << kTelemetryLineEnd;
        }
    }
    const auto config = dir.Path() / "Corvane3.ini";
    // No display at all: the picture is drawn offscreen.
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    ::unsetenv("QT_QPA_PLATFORM");
    const struct {
        std::filesystem::path file;
        int status;
        const char* err;
    } cases[] = {{file, 0, ""}, {dir.Path() / "missing.csd", 1, "Cannot Open File"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file.string());
        std::ofstream(config) << "[Plot]\nXscale=2\nYscale=4\n";
        const auto shot = dir.Path() / "plot.png";
        std::filesystem::remove(shot);
        ChildProcess program({CORVANE3_PROGRAM, "--config", config.string(), c.file.string(),
                              "--screenshot", shot.string()});
        const std::string out = program.ReadAll();
        EXPECT_EQ(program.Wait(), c.status) << out << program.Err();
        EXPECT_NE(program.Err().find(c.err), std::string::npos) << program.Err();
        EXPECT_EQ(FileText(shot).substr(0, 4), c.status == 0 ? "\x89PNG" : "");
        // A file opened from the command line shows everything, with a margin, from then on.
        EXPECT_NE(FileText(config).find("Xscale=0\nYscale=1\n"), std::string::npos)
            << FileText(config);
    }
}

}  // namespace
}  // namespace corvane3
