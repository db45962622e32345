#pragma once
// A headless run recording the simulated instrument (in this process) and serving its link on a
// control socket, and the main window attached to it as `corvane3 --attach` builds it.

#include <pwd.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/control/ControlClient.h"
#include "core/control/ServicePort.h"
#include "core/poll/PollingThread.h"
#include "core/program/Corvane3App.h"
#include "gui/common/QueuedNotificationSink.h"
#include "gui/common/QueuedTimedMessages.h"
#include "gui/mainwin/MainStatusDlg.h"
#include "sim/SimulatorServer.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace corvane3::testing {

inline std::string MyUserName() {
    return getpwuid(getuid())->pw_name;
}

// The logging service: corvane3 --headless --control on the simulator, polling every 2 s.
class LoggingService {
  public:
    explicit LoggingService(sim::SimulatorOptions options) : sim_(Prepared(options, dir_)) {
        run_ = std::make_unique<ChildProcess>(std::vector<std::string>{
            CORVANE3_PROGRAM, "--headless", "--config", (dir_.Path() / "Corvane3.ini").string(),
            "--port", (dir_.Path() / "unit").string(), "--interval", "2", "--record",
            Records().string(), "--control", Socket()});
        // The socket is served once the run says "Control socket at ...".
        for (std::string line = "-"; !started_ && !line.empty();) {
            line = run_->ReadLine();
            started_ = line.find("Control socket at") != std::string::npos;
        }
    }
    bool Started() const { return started_; }
    sim::CSimulatorServer& Sim() { return sim_; }
    ChildProcess& Run() { return *run_; }
    std::string Socket() const { return (dir_.Path() / "control.sock").string(); }
    std::filesystem::path Records() const { return dir_.Path() / "records"; }
    std::filesystem::path ChangeLog() const { return Records() / "Corvane3-changes.log"; }
    const std::filesystem::path& Dir() const { return dir_.Path(); }
    // Stops the run as a service manager does; its exit status.
    int Stop() {
        run_->Signal(SIGTERM);
        return run_->Wait();
    }

  private:
    static sim::SimulatorOptions Prepared(sim::SimulatorOptions options, const TempDir& dir) {
        options.instrument.warmup = std::chrono::milliseconds(0);
        options.link = dir.Path() / "unit";
        return options;
    }

    TempDir dir_;
    sim::CSimulatorServer sim_;
    std::unique_ptr<ChildProcess> run_;
    bool started_ = false;
};

// The main window attached to the service's socket; problem says why it could not attach.
class AttachedWindow {
  public:
    explicit AttachedWindow(const std::string& socket) {
        // Set to record, as a window on its own port would: attached, it must not.
        app.settings.DatafileDirectory = data.Path().string();
        app.settings.RecordDataFile = true;
        app.linkStatus.SetSink(&notifications);
        problem = client.Connect(socket);
        if (problem) {
            return;
        }
        PollingHooks hooks = app.MakePollingHooks(messages);
        hooks.relay = &client;
        polling = std::make_unique<CPollingThread>(port, app.unitState, app.linkStatus, app.polling,
                                                   app.settings, notifications, hooks);
        window = std::make_unique<CMainStatusDlg>(app, notifications, polling.get());
        window->ShowViaService();
    }
    ~AttachedWindow() { app.linkStatus.SetSink(nullptr); }
    // Ends the window's polling thread as the program does when the window closes.
    bool Stop() { return !polling || polling->StopBackgroundThread(); }

    TempDir data;  // where the window would record: it must stay empty
    Corvane3App app;
    CQueuedNotificationSink notifications;
    CQueuedTimedMessages messages;
    CServicePort port{app.linkStatus};
    CControlClient client{app.unitState, app.linkStatus, notifications};
    std::optional<std::string> problem;
    std::unique_ptr<CPollingThread> polling;
    std::unique_ptr<CMainStatusDlg> window;
};

}  // namespace corvane3::testing
