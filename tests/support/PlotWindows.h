#pragma once
// The plot window on a telemetry file, offscreen: the file written for it, and the window shown
// once it has read its first file.

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gui/plot/PlotDlg.h"
#include "gui/plot/TracePlot.h"
#include "support/WidgetTestApplication.h"

namespace corvane3::testing {

// Shows the window (a plot or a spectrum window) and waits until its first file has been read.
template <typename Window>
void ShowLoaded(Window& window) {
    bool loaded = false;
    QObject::connect(&window, &Window::InitialLoadDone, [&loaded] { loaded = true; });
    window.show();
    ASSERT_TRUE(ProcessEventsUntil([&] { return loaded; }));
}

// Cursor 1 of pane to point first, cursor 2 to point second.
inline void SetCursors(TracePlot* pane, int first, int second) {
    pane->SelectCursor(0);
    pane->SetCursorIndex(first);
    pane->SelectCursor(1);
    pane->SetCursorIndex(second);
}

// A plot window with settings of its own, for a Tq9000.
struct PlotWindow {
    CProgramSettings settings;
    std::atomic<std::int32_t> model{kModelTq9000};
    std::unique_ptr<CPlotDlg> dialog;
    std::vector<ReadingLimit> limits;  // drawn and projected on the panes of their readings

    // beforeShow sets up the window before it reads its file.
    void Open(const std::string& file, bool fileMode,
              const std::function<void(CPlotDlg&)>& beforeShow = {}) {
        dialog = std::make_unique<CPlotDlg>(PlotWindowContext{settings, model, "", limits}, file,
                                            fileMode);
        if (beforeShow) {
            beforeShow(*dialog);
        }
        ShowLoaded(*dialog);
    }
    TracePlot* Pane(int pane) const { return dialog->Pane(pane); }
};

}  // namespace corvane3::testing
