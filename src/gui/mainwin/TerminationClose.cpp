#include "gui/mainwin/TerminationClose.h"

#include <QApplication>

#include "gui/spectrum/SpectrumDlg.h"

namespace corvane3 {

namespace {
// How often the window program looks for a termination request.
constexpr int kTerminationLookMs = 200;
}  // namespace

void CloseWindowsOnTermination() {
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (auto* spectrum = qobject_cast<CSpectrumDlg*>(window);
            spectrum != nullptr && spectrum->isVisible()) {
            spectrum->Terminate();
        }
    }
    QApplication::closeAllWindows();
}

CTerminationWatch::CTerminationWatch(std::atomic<bool>& requested, QObject* parent)
    : QObject(parent), requested_(requested) {
    connect(&timer_, &QTimer::timeout, this, [this] {
        terminating_ = requested_.exchange(false) || terminating_;
        if (terminating_) {
            CloseWindowsOnTermination();
        }
    });
    timer_.start(kTerminationLookMs);
}

}  // namespace corvane3
