#pragma once
// The simulated instrument, the program's state and polling thread against it, and the main
// window on them, as the window tests with a unit need them.

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "core/poll/PollingThread.h"
#include "gui/common/QueuedNotificationSink.h"
#include "gui/common/QueuedTimedMessages.h"
#include "gui/mainwin/MainStatusDlg.h"
#include "sim/SimulatorServer.h"
#include "support/TempDir.h"
#include "support/WidgetTestApplication.h"

namespace corvane3::testing {

// The program's state, its polling thread on a port and the main window on them, wired as the
// program wires them; the thread is stopped, within its bound, at the end.
class PortWindow {
  public:
    explicit PortWindow(const std::string& port, int interval = kMinPollingInterval,
                        bool programSteps = false) {
        app.serialPort.SetSettings({port, 9600, kParityOdd, kStopBitsTwo, 7});
        app.settings.DatafileDirectory = data.Path().string();
        app.settings.PollingInterval = interval;
        app.linkStatus.SetSink(&notifications);  // as the program does: the window hears of it
        polling = std::make_unique<CPollingThread>(
            app.serialPort, app.unitState, app.linkStatus, app.polling, app.settings, notifications,
            programSteps ? app.MakePollingHooks(messages) : PollingHooks{});
        window = std::make_unique<CMainStatusDlg>(app, notifications, polling.get());
    }
    ~PortWindow() {
        EXPECT_TRUE(polling->StopBackgroundThread());
        app.linkStatus.SetSink(nullptr);
    }

    TempDir data;
    Corvane3App app;
    CQueuedNotificationSink notifications;
    CQueuedTimedMessages messages;
    std::unique_ptr<CPollingThread> polling;
    std::unique_ptr<CMainStatusDlg> window;
};

// A simulated unit (answering at once), made before the window that polls it and ended after.
class SimulatedUnitFirst {
  protected:
    explicit SimulatedUnitFirst(sim::SimulatorOptions options) : sim_(WithoutWarmUp(options)) {
        EXPECT_TRUE(sim_.IsOpen()) << sim_.Error();
        // The options' link when they name one (it outlives a disconnection), else the terminal.
        port_ = options.link.empty() ? sim_.SlavePath() : options.link.string();
    }
    static sim::SimulatorOptions WithoutWarmUp(sim::SimulatorOptions options) {
        options.instrument.warmup = std::chrono::milliseconds(0);
        return options;
    }

    sim::CSimulatorServer sim_;
    std::string port_;
};

class SimWindowRig : private SimulatedUnitFirst, public PortWindow {
  public:
    // A unit of options on its port, polled every second, the change log in data; online once the
    // unit is, its model known and ready(app) true. With programSteps the polling thread also
    // runs the steps the program plugs in (the spectrum sweep and its commands).
    explicit SimWindowRig(sim::SimulatorOptions options,
                          const std::function<bool(const Corvane3App&)>& ready = {},
                          bool programSteps = false)
        : SimulatedUnitFirst(options), PortWindow(port_, 1, programSteps) {
        online = ProcessEventsUntil([&] {
            return app.unitState.Online &&
                   app.unitState.InstrumentModel == options.instrument.model &&
                   (!ready || ready(app));
        });
    }

    sim::CSimulatorServer& Sim() { return sim_; }

    bool online = false;
};

inline sim::SimulatorOptions ModelOptions(int model, bool instrumentSweep = false) {
    sim::SimulatorOptions options;
    options.instrument.model = model;
    options.instrument.instrumentSweep = instrumentSweep;
    return options;
}

}  // namespace corvane3::testing
