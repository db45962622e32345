#pragma once
// The "File Load Progress" window, and a load run on another thread while it shows how far the
// load has come.

#include <QDialog>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>

class QLabel;
class QProgressBar;

namespace corvane3 {

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

// How far a load has come; written by the loading thread, read by the window.
struct LoadProgress {
    std::atomic<std::int64_t> done{0};
    std::atomic<std::int64_t> total{0};
};

// Runs load on another thread while a progress window owned by parent shows text and the
// progress load reports. Windows keep painting meanwhile, but user input is held back until the
// load has ended; then the window closes and the call returns.
void RunWithLoadProgress(const QString& text, const std::function<void(LoadProgress&)>& load,
                         QWidget* parent = nullptr);

}  // namespace corvane3
