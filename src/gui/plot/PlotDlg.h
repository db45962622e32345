#pragma once
// The plot window: telemetry of one unit on five stacked panes chosen by a Plot view (the data
// display), or the beam signal with its fitted exponential decay above Flop/Background (the
// decay display). In live mode it starts from the unit's telemetry file and takes each new
// status record; in file mode it shows one file, and follows it while another program appends
// to it ("Follow File"). User-interface thread only.

#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/config/ProgramSettings.h"
#include "core/plot/PlotData.h"
#include "core/plot/Statistics.h"
#include "core/telemetry/ReadingLimits.h"
#include "core/telemetry/ReadingTrends.h"
#include "gui/plot/FileFollower.h"
#include "gui/plot/FileLoadProgressDlg.h"

class QAction;
class QActionGroup;
class QLabel;
class QMenu;
class QMenuBar;
class QPrinter;
class QTimer;
class QWidget;

namespace corvane3 {

class CCursorReadout;
class TracePlot;

// The X scale indices as the settings store them.
enum EXScale : std::int32_t {
    kXScaleAll = 0,
    kXScaleLastDay = 1,
    kXScaleLastHour = 2,
    kXScaleLastWeek = 3,
};

// The X unit indices as the settings store them; 0 to 4 are the store's time axes, and UTC shows
// axis 0 (MJD) as dates and times.
enum EXUnit : std::int32_t {
    kXUnitMjd = 0,
    kXUnitDays = 1,
    kXUnitUtc = 5,
};

// Where the plot window reads and changes the program's state.
struct PlotWindowContext {
    CProgramSettings& settings;
    std::atomic<std::int32_t>& instrumentModel;  // a loaded file sets it
    std::string brandName;
    // The readings' limits, drawn as dashed lines on the panes that show their channels.
    std::vector<ReadingLimit> limits = {};
};

class CPlotDlg : public QDialog {
    Q_OBJECT

  public:
    static constexpr int kPanes = 7;
    static constexpr int kDataPanes = 5;
    static constexpr int kSignalPane = 5;
    static constexpr int kFlopPane = 6;

    // initialFile empty: none. The file, if any, is loaded once the window shows.
    CPlotDlg(PlotWindowContext context, std::string initialFile, bool fileMode,
             QWidget* parent = nullptr);
    ~CPlotDlg() override;

    // A new status record from the main window, before it goes to the telemetry file.
    void OnNewRecord(const UnitStateData& record);

    void RebuildPlots();
    void UpdateLivePlots();
    void ApplyScales();
    void FitDecay();
    void EnterDataDisplay();
    void EnterDecayDisplay();
    void ToggleCursors();
    void SetPlotView(int view);
    void SetXScale(int scale);
    void SetYScale(int scale);
    void SetXUnit(int unit);
    void StartLive();
    void PurgeLive();
    // Loads path as "Open..." does after its dialog.
    void OpenFile(const std::string& path);
    void Customize();
    // "Follow File": the shown file is read again whenever another program changed it.
    void SetFollowFile(bool follow);
    bool FollowingFile() const { return follower_.Following(); }
    // How often a followed file is looked at (tests make it short).
    void SetFollowInterval(std::chrono::milliseconds interval) {
        follower_.SetCheckInterval(interval);
    }
    // "Print...": the window with the time in its title, landscape on one page.
    void Print();
    // Replace the print dialog and the window grab of printing (tests print to a file).
    void SetPrinterChooser(std::function<std::unique_ptr<QPrinter>(QWidget*)> chooser) {
        printerChooser_ = std::move(chooser);
    }
    void SetPrintGrabber(std::function<QImage(QWidget*)> grab) { printGrabber_ = std::move(grab); }
    // Saves the panes shown as PNG, or PDF when path ends in ".pdf". False when it failed.
    bool SavePicture(const QString& path);

    // Files of this many bytes or more are read through their plot cache; a live store moves
    // into a cache once it holds this many points (tests make both small).
    void SetCacheFilesFrom(std::uint64_t bytes) { cacheFilesFrom_ = bytes; }
    void SetLivePointsBeforeCache(std::int64_t points) {
        livePointsBeforeCache_ = points;
        store_.SetLivePointsBeforeCache(points);
    }

    const CPlotData& Store() const { return store_; }
    TracePlot* Pane(int pane) const { return panes_[static_cast<std::size_t>(pane)].plot; }
    int PaneChannel(int pane) const { return panes_[static_cast<std::size_t>(pane)].channel; }
    bool IsLive() const { return live_; }
    bool IsPaused() const { return paused_; }
    // As a Ctrl + left click (true) or an X scale choice (false) does.
    void SetLivePaused(bool paused) { paused_ = paused; }
    bool PlotsBuilt() const { return built_; }
    // A long file's first frame is drawn and its other channels are still being read.
    bool ReadingWholeFile() const { return wholeRead_ != nullptr; }
    bool DecayDisplay() const { return decayDisplay_; }
    int CurrentView() const { return view_; }
    const DecayFit& Fit() const { return fit_; }
    std::int64_t FitFirst() const { return fitFirst_; }
    std::int64_t FitLast() const { return fitLast_; }
    // The decay display's projection text ("" when none).
    QString ProjectionText() const;
    // The values under the cursors, shown while the cursors are.
    const CCursorReadout* Readout() const { return readout_; }
    // What the window last said about the followed file ("" when nothing).
    QString FollowNoticeText() const;
    // The menu command with this id (the ids of the menu resources), or null.
    QAction* Command(int id) const;

  signals:
    // The panes were built from held data (after a load, a view change, a new record).
    void PlotsDrawn();
    // The file (or empty store) the window opened with is loaded and drawn as far as it can be.
    void InitialLoadDone();
    // The other channels of a long file whose first frame was drawn from its shown ones are read
    // and drawn (or the read failed and said so).
    void WholeFileRead();
    // The followed file was read again and its points replaced the shown ones.
    void FollowedFileRead();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    struct PaneSlot {
        TracePlot* plot = nullptr;
        int channel = 0;
    };
    // Running statistics of a data pane's whole channel, extended as points arrive.
    struct PaneStatistics {
        CRunningStatistics running;
        std::int64_t taken = 0;
        int channel = -1;
    };

    void BuildMenus(QMenuBar* bar);
    void PrepareMenus();
    void LayoutPanes(int width, int height);
    void LoadInitialFile();
    bool LoadFile(const std::string& path);
    // A block of the plot cache found damaged by a query (its values then read as absent, a
    // stretch gone from the plot): said in the window, and the file read again, which checks
    // the cache whole and rebuilds it. Once per file read; damage found again is only said.
    void CheckCacheDamage();
    void CompleteWholeRead();
    void RetireWholeRead();
    bool WaitForUnreadChannels();
    // After a file was loaded: follows it when it was written to in the last minutes.
    void FollowWhenRecent(const std::string& path, const FileStamp& loaded);
    void StopFollowing();
    void ApplyFollowed(FollowedFile&& followed);
    void ShowFollowNotice(EFollowNotice notice, const QString& reason);
    // What the user made of the view, kept while a followed file gains records.
    struct KeptView {
        bool zoomed = false;  // the X range is not the X scale's
        double left = 0.0;
        double right = 0.0;
        double newest = 0.0;  // the newest record's X
        std::int64_t records = 0;
        std::array<std::int64_t, 2> cursors{};
    };
    KeptView KeepView() const;
    void RestoreView(const KeptView& view);
    // The store's channels the next frame draws: the MJD and the panes' channels.
    std::vector<int> ShownSlots() const;
    // The records that arrived while a file loaded, after it; the live ones only.
    void AppendHeldRecords();
    void StoreReplaced();
    void UpdateTitle();
    void OnMouseDown(Qt::MouseButton button);
    void OnMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers modifiers);
    void OnCursorsMoved(qint64 index0, qint64 index1, double x0, double x1);
    // A data pane's cursor moved: the other data panes' cursors follow it.
    void OnDataCursorsMoved(TracePlot* moved);
    void RefreshReadout();
    // The X unit shown (Days in the decay display) and the store's time axis it draws.
    int ShownXUnit() const;
    int ShownTimeAxis() const;
    void ShowFitSeries();
    // The dashed limit lines of each data pane's channel, and when its trend reaches them.
    void ShowLimitLines();
    void ShowLimitProjection(const PaneSlot& pane);
    // The trend of a store channel over the whole file (a store with at least one point).
    ReadingTrend PaneTrend(int channel) const;
    ChannelStatistics VisibleStatistics(int pane, std::int64_t first);
    std::int64_t FirstVisibleIndex() const;
    void SavePictureDialog();
    void OpenDialog();
    void ShowHelp();
    void ShowAbout();

    PlotWindowContext context_;
    CPlotData store_;
    std::array<PaneSlot, kPanes> panes_;
    std::array<PaneStatistics, kDataPanes> statistics_;
    QWidget* paneArea_ = nullptr;
    CCursorReadout* readout_ = nullptr;
    QLabel* followNotice_ = nullptr;
    std::string initialFile_;
    std::string openedFile_;
    std::string shownFile_;  // the file the store holds, when not live
    FileStamp shownStamp_;
    bool fileMode_;
    bool live_ = false;
    bool cursorsShown_ = false;
    bool savedCursors_ = false;
    bool paused_ = false;
    bool built_ = false;
    bool decayDisplay_ = false;
    bool loaded_ = false;
    bool loading_ = false;  // records wait in heldRecords_ meanwhile
    std::vector<UnitStateData> heldRecords_;
    // A long file's other channels, read after its first frame was drawn. Shared, so that a
    // wait for it outlives a reset from an event handled meanwhile.
    std::shared_ptr<CWholeFileRead> wholeRead_;
    std::vector<int> firstFrameSlots_;  // the slots it was read for first
    std::jthread retiring_;             // closes a replaced cache of those slots, or a stopped read
    QTimer* wholeReadCheck_ = nullptr;
    std::string loadedFile_;     // the file LoadFile read last
    bool cacheRebuilt_ = false;  // its cache was read again after damage
    QTimer* cacheDamageCheck_ = nullptr;
    QPointer<QMessageBox> cacheDamageBox_;
    std::uint64_t cacheFilesFrom_ = kCacheFilesFromBytes;
    std::int64_t livePointsBeforeCache_ = kLivePointsBeforeCache;
    int view_ = 0;
    std::int64_t fitFirst_ = 0;
    std::int64_t fitLast_ = 0;
    DecayFit fit_;
    double fitLastMjd_ = 0.0;

    std::function<std::unique_ptr<QPrinter>(QWidget*)> printerChooser_;
    std::function<QImage(QWidget*)> printGrabber_;
    QMenu* stuffMenu_ = nullptr;
    QMenu* unitsMenu_ = nullptr;
    QMenu* helpMenu_ = nullptr;
    QActionGroup* viewGroup_ = nullptr;
    QActionGroup* yScaleGroup_ = nullptr;
    QActionGroup* xScaleGroup_ = nullptr;
    QActionGroup* xUnitGroup_ = nullptr;
    CFileFollower follower_;
};

}  // namespace corvane3
