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
#include "support/WidgetTestApplication.h"

namespace corvane3::testing {

// Shows the window and waits until its first file has been read.
inline void ShowLoaded(CPlotDlg& plot) {
    bool loaded = false;
    QObject::connect(&plot, &CPlotDlg::InitialLoadDone, [&loaded] { loaded = true; });
    plot.show();
    ASSERT_TRUE(ProcessEventsUntil([&] { return loaded; }));
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
