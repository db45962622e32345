// A main window attached to the logging service at argv[1] that opens the spectrum window from
// its menu once a record came, answers the reboot warning with Ok and starts a sweep that runs
// for ever; it prints "sweeping" once the sweep runs and goes on until it is killed. Tests kill
// it to see what the service does for a window that dies mid-sweep.

#include <QApplication>
#include <QComboBox>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <cstdio>

#include "core/spectrum/SweepParameters.h"
#include "gui/spectrum/SpectrumDlg.h"
#include "support/AttachedWindowRig.h"

using namespace corvane3;

namespace {
constexpr int kLookPeriodMs = 10;
}

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    if (argc != 2) {
        std::fputs("usage: attached_sweep_window SOCKET\n", stderr);
        return 2;
    }
    testing::AttachedWindow attached(argv[1]);
    if (attached.problem) {
        std::fprintf(stderr, "%s\n", attached.problem->c_str());
        return 1;
    }
    CMainStatusDlg& window = *attached.window;
    window.show();
    bool recorded = false;
    QObject::connect(&attached.notifications, &CQueuedNotificationSink::Notified,
                     [&](int code) { recorded = recorded || code == kNotifyStatusRecord; });
    // The spectrum window runs modally inside this timer's slot, so a second timer plays the user.
    QTimer opener;
    QObject::connect(&opener, &QTimer::timeout, [&] {
        if (recorded) {
            opener.stop();
            window.RunCommand(kCmdSpectrum);
        }
    });
    QTimer user;
    bool started = false;
    QObject::connect(&user, &QTimer::timeout, [&] {
        if (auto* warning = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            warning->button(QMessageBox::Ok)->click();
        } else if (CSpectrumDlg* spectrum = window.OpenSpectrumWindow(); spectrum && !started) {
            started = true;
            spectrum->NtotList()->setCurrentIndex(static_cast<int>(kNtotChoices.size()) - 1);
            spectrum->GoButton()->click();
            std::puts(spectrum->GoButton()->text() == "Abort!" ? "sweeping" : "not sweeping");
            std::fflush(stdout);
        }
    });
    opener.start(kLookPeriodMs);
    user.start(kLookPeriodMs);
    return application.exec();
}
