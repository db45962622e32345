#pragma once
// A long file's first read through its plot cache, on a thread of its own, that hands over a
// cache of the shown channels first: the window draws that while the thread goes on to read every
// channel. The window takes the whole cache when it is ready, or waits for it (with the progress
// window showing) when it needs a channel it was not given.

#include <QString>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "core/telemetry/CachedDataFile.h"
#include "gui/plot/FileLoadProgressDlg.h"

class QWidget;

namespace corvane3 {

class CWholeFileRead {
  public:
    // Starts reading path; the shown channels come first when shownFirst is set. The options'
    // callbacks and cancel flag are set here.
    CWholeFileRead(const std::string& path, CachedDataFileOptions options, bool shownFirst);
    // Stops the read at its next piece (nothing is written) and waits for its thread.
    ~CWholeFileRead();
    CWholeFileRead(const CWholeFileRead&) = delete;
    CWholeFileRead& operator=(const CWholeFileRead&) = delete;

    // Shows the progress window with text until the shown channels or the whole file are read.
    // A termination request ends the wait at once and stops the read (Cancelled() then holds).
    void WaitForFirstFrame(const QString& text, QWidget* parent);
    // Shows the progress window until the whole file is read, or a termination request came.
    void WaitUntilFinished(QWidget* parent);
    bool Cancelled() const { return cancel_; }
    bool Finished() const { return finished_; }

    // The cache of the shown channels, once they were read, with the file's unit; null after
    // the first call or when it did not come.
    std::unique_ptr<CPlotCache> TakeShown(TelemetryIdentity& identity);
    // The whole read's result, once Finished().
    CachedDataFileResult TakeResult() { return std::move(result_); }

  private:
    // True, the read stopped, once the program is ending.
    bool StopOnTermination();

    LoadProgress progress_;
    QString text_;
    std::atomic<bool> cancel_{false};
    std::atomic<bool> shownReady_{false};
    std::atomic<bool> finished_{false};
    std::mutex mutex_;
    std::unique_ptr<CPlotCache> shown_;
    TelemetryIdentity identity_;
    CachedDataFileResult result_;  // written by the thread before finished_ is set
    std::thread thread_;           // last: everything it uses exists when it starts
};

}  // namespace corvane3
