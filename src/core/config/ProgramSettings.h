#pragma once
// The Program settings: loaded from Corvane3.ini at start, written back at exit.

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

namespace corvane3 {

inline constexpr int kMinPollingInterval = 2;
inline constexpr int kMaxPollingInterval = 100000;
inline constexpr int kDefaultPollingInterval = 10;
inline constexpr char kDefaultFilenameTemplate[] = "Unit%ld.csd";
inline constexpr int kPlotPanes = 5;
inline constexpr std::size_t kPlotViewCount = 9;

// One named selection of five plot channels, the first for the bottom pane.
struct PlotView {
    std::string displayName;
    std::string iniKey;
    std::array<int, kPlotPanes> channels{};
};

// The nine views with their default channels, in menu order.
std::array<PlotView, kPlotViewCount> DefaultPlotViews();

struct CProgramSettings {
    // Read by the polling thread, written by the user interface.
    std::atomic<bool> PollingEnabled{true};
    std::atomic<std::int32_t> PollingInterval{kDefaultPollingInterval};

    // User-interface thread only.
    bool RecordDataFile = false;
    std::string DatafileDirectory;
    std::string DataFilenameTemplate = kDefaultFilenameTemplate;
    // The main window raises desktop notifications (link down, new alarms, recording failing).
    bool DesktopNotifications = true;
    std::int32_t Xscale = 0;
    std::int32_t Yscale = 1;
    std::int32_t Xunits = 0;
    std::array<PlotView, kPlotViewCount> PlotViews = DefaultPlotViews();
};

}  // namespace corvane3
