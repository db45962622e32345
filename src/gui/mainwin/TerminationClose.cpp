#include "gui/mainwin/TerminationClose.h"

#include <QApplication>

#include "gui/spectrum/SpectrumDlg.h"

namespace corvane3 {

void CloseWindowsOnTermination() {
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (auto* spectrum = qobject_cast<CSpectrumDlg*>(window);
            spectrum != nullptr && spectrum->isVisible()) {
            spectrum->Terminate();
        }
    }
    QApplication::closeAllWindows();
}

}  // namespace corvane3
