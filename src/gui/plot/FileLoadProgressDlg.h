#pragma once
// The "File Load Progress" window, and a load run on another thread while it shows how far the
// load has come.

#include <QDialog>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class QLabel;
class QProgressBar;

namespace corvane3 {
class CPlotCache;
class CPlotData;
class CWholeFileRead;
}

namespace corvane3 {

// Files of this size and more (about a quarter of a million records) are read through their
// plot cache.
inline constexpr std::uint64_t kCacheFilesFromBytes = std::uint64_t{64} << 20;

class CFileLoadProgressDlg : public QDialog {
    Q_OBJECT

  public:
    explicit CFileLoadProgressDlg(QWidget* parent = nullptr);

    void SetText(const QString& text);
    // done of total lines (or bytes); a total too large for the bar is shown scaled.
    void SetProgress(std::int64_t done, std::int64_t total);

  private:
    QLabel* text_;
    QProgressBar* bar_;
};

// How far a load has come, and what is being loaded; written by the loading thread, read by the
// window.
class LoadProgress {
  public:
    std::atomic<std::int64_t> done{0};
    std::atomic<std::int64_t> total{0};

    void SetText(std::string text);
    // The text, when it changed since the last call.
    std::optional<std::string> TakeNewText();
    // The text the load set last; empty before it set one.
    std::string Text();

  private:
    std::mutex mutex_;
    std::string text_;
    bool textChanged_ = false;
};

// Lowers the calling thread's priority (and that of the threads it starts), so that windows keep
// painting while a load fills every core.
void YieldToInterface();

// Shows the progress window owned by parent with text (until progress sets another) and the
// progress a load on another thread reports, while busy() holds. Windows keep painting meanwhile,
// but user input is held back.
void ShowLoadProgressWhile(const QString& text, LoadProgress& progress,
                           const std::function<bool()>& busy, QWidget* parent);

// Runs load on another thread while a progress window owned by parent shows text (until the load
// sets another) and the progress load reports. Windows keep painting meanwhile, but user input is
// held back until the load has ended; then the window closes and the call returns.
void RunWithLoadProgress(const QString& text, const std::function<void(LoadProgress&)>& load,
                         QWidget* parent = nullptr);

// Reads a telemetry file into store with the progress window showing, then shows the reader's
// message, if any, in a message box of no owner. The file is read on another thread into a store
// of its own, which replaces store only when the file was read: store is never touched while
// windows may draw from it. A current-format file's model becomes instrumentModel's value (when
// given). A file of cacheFilesFrom bytes or more is read through its plot cache (see
// CachedDataFile.h) and stays there instead of in memory. Returns 0 when the file was read, -1
// otherwise. shownSlots are the store's channels the window's first frame draws; a cached file
// prepares them while the progress window still shows. With rest given, the first read of a
// cached file returns once the shown slots are in store, and *rest goes on reading the others
// (see FinishWholeFileRead).
int LoadDataFile(CPlotData& store, const std::string& path,
                 std::atomic<std::int32_t>* instrumentModel, QWidget* parent = nullptr,
                 std::uint64_t cacheFilesFrom = kCacheFilesFromBytes,
                 const std::vector<int>& shownSlots = {},
                 std::unique_ptr<CWholeFileRead>* rest = nullptr);

// Puts every channel of a finished read into store and gives back the cache of the shown ones
// it replaces, for the caller to close; or shows the reader's message and gives back null.
std::unique_ptr<CPlotCache> FinishWholeFileRead(CPlotData& store, CWholeFileRead& read);

}  // namespace corvane3
