// Finding the control socket of the logging service that holds a port: the packaged service's
// name for it and the socket on the holding run's command line.

#include "core/control/ServiceSocket.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "support/ChildProcess.h"

namespace corvane3 {
namespace {

TEST(ServiceSocketTest, ThePackagedSocketIsNamedAfterThePortAsSystemdEscapesIt) {
    const struct {
        const char* port;
        std::optional<std::string> socket;
    } kCases[] = {
        {"/dev/ttyUSB0", "/run/corvane3/ttyUSB0.sock"},
        {"/dev//ttyS1/", "/run/corvane3/ttyS1.sock"},
        {"/dev/serial/by-id/usb-FTDI_A1-if00:0.5",
         "/run/corvane3/serial-by\\x2did-usb\\x2dFTDI_A1\\x2dif00:0.5.sock"},
        {"/dev/.hidden \xe9", "/run/corvane3/\\x2ehidden\\x20\\xe9.sock"},
        {"/dev/", std::nullopt},
        {"/home/ttyUSB0", std::nullopt},
        {"rfc2217://lab:4001", std::nullopt},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(PackagedControlSocket(c.port), c.socket) << c.port;
    }
}

TEST(ServiceSocketTest, TheHoldingRunsOwnSocketIsReadFromItsCommandLine) {
    const std::string here = std::filesystem::current_path().string();
    const struct {
        std::vector<std::string> options;
        std::optional<std::string> socket;
    } kCases[] = {
        {{"--control", "/run/x/a.sock"}, "/run/x/a.sock"},
        {{"--control=b.sock", "--port", "c"}, here + "/b.sock"},
        {{"--port", "--control"}, std::nullopt},
        {{"--", "--control", "/run/x/a.sock"}, std::nullopt},
    };
    for (const auto& c : kCases) {
        // One process that stays until it is killed, with these arguments.
        std::vector<std::string> arguments{"/usr/bin/env", "python3", "-c",
                                           "import time; print('up', flush=True); time.sleep(600)"};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        testing::ChildProcess run(arguments);
        ASSERT_EQ(run.ReadLine(), "up");  // its command line is in place
        EXPECT_EQ(ControlSocketOfProcess(run.Pid()), c.socket) << c.options.front();
    }
    EXPECT_EQ(ControlSocketOfProcess(getpid()), std::nullopt);
    EXPECT_EQ(ControlSocketOfProcess(-1), std::nullopt);
}

}  // namespace
}  // namespace corvane3
