#pragma once
// A serial port opened on the slave side of a pseudo-terminal whose master the test holds.

#include <gtest/gtest.h>

#include "core/link/SerialPort.h"
#include "sim/PseudoTerminal.h"
#include "support/RecordingSink.h"

namespace corvane3::testing {

class PortFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(pty_.IsOpen());
        OpenWith(7);
    }
    void OpenWith(std::uint32_t dataBits) {
        port_.SetSettings({.name = pty_.SlavePath(), .dataBits = dataBits});
        ASSERT_TRUE(port_.OpenPort());
        ASSERT_TRUE(port_.ConfigurePort());
        log_.Clear();
    }

    CPseudoTerminal pty_;
    CLinkStatus status_;
    StatusLog log_{status_};
    CSerialPort port_{status_};
};

}  // namespace corvane3::testing
