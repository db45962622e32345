// corvane3 FILE.css --screenshot PNG as a user runs it, without a display.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "support/ChildProcess.h"
#include "support/TempDir.h"
#include "telemetry/TelemetryTestData.h"

namespace corvane3 {
namespace {

using testing::ChildProcess;
using testing::FileText;

TEST(SpectrumProgramTest, ASpectrumFileIsDrawnIntoAScreenshotOrRefused) {
    testing::TempDir dir;
    const auto file = dir.Path() / "SN01234_mF0.CSS";
    std::ofstream(file) << "Detuning, Signal\n-500,1000\n0,4000\n500,1000\n";
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    ::unsetenv("QT_QPA_PLATFORM");
    const struct {
        std::filesystem::path file;
        int status;
        const char* err;
    } cases[] = {{file, 0, ""}, {dir.Path() / "missing.css", 1, "Unable to open file:  "}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file.string());
        const auto shot = dir.Path() / "spectrum.png";
        std::filesystem::remove(shot);
        ChildProcess program({CORVANE3_PROGRAM, "--config", (dir.Path() / "c.ini").string(),
                              c.file.string(), "--screenshot", shot.string()});
        const std::string out = program.ReadAll();
        EXPECT_EQ(program.Wait(), c.status) << out << program.Err();
        EXPECT_NE(program.Err().find(c.err), std::string::npos) << program.Err();
        EXPECT_EQ(FileText(shot).substr(0, 4), c.status == 0 ? "\x89PNG" : "");
    }
}

}  // namespace
}  // namespace corvane3
