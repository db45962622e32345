#pragma once
// The polling thread on the program's own serial port, against a simulated instrument served
// in-process behind a link in the test's own folder.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "core/poll/PollingThread.h"
#include "sim/SimulatorServer.h"
#include "support/RecordingSink.h"
#include "support/TempDir.h"

namespace corvane3::testing {

class PollingRig : public ::testing::Test {
  protected:
    // A status record or a state the thread and the unit bring; only a hung thread takes this.
    static constexpr std::chrono::seconds kEventBound{60};

    // Starts the simulator and the polling thread on its link (at the unit's 9600 7O2); when
    // the thread polls, waits for its first status record.
    void StartPolling(sim::SimulatorOptions options, const PollingHooks& hooks) {
        options.link = dir_.Path() / "unit";
        sim_ = std::make_unique<sim::CSimulatorServer>(options);
        ASSERT_TRUE(sim_->IsOpen()) << sim_->Error();
        port_.SetSettings({options.link.string(), 9600, kParityOdd, kStopBitsTwo, 7});
        thread_ = std::make_unique<CPollingThread>(port_, unit_, status_, shared_, settings_, sink_,
                                                   hooks);
        thread_->ChangeLog().SetDirectory(dir_.Path().string());
        thread_->StartBackgroundThread();
        if (settings_.PollingEnabled) {
            ASSERT_TRUE(sink_.WaitForCount(kNotifyStatusRecord, 1, kEventBound));
        }
    }
    void TearDown() override {
        if (thread_) {
            EXPECT_TRUE(thread_->StopBackgroundThread());
        }
    }

    TempDir dir_;
    CLinkStatus status_;
    StatusLog log_{status_};
    CSerialPort port_{status_};
    CUnitState unit_;
    CPollingShared shared_;
    CProgramSettings settings_;
    RecordingSink sink_;
    std::unique_ptr<sim::CSimulatorServer> sim_;
    std::unique_ptr<CPollingThread> thread_;
};

}  // namespace corvane3::testing
