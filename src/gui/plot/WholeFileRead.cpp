#include "gui/plot/WholeFileRead.h"

#include <utility>

#include "core/program/TerminationSignals.h"

namespace corvane3 {

CWholeFileRead::CWholeFileRead(const std::string& path, CachedDataFileOptions options,
                               bool shownFirst) {
    options.started = [this](const std::string& text, std::int64_t total) {
        progress_.SetText(text);
        progress_.total = total;
    };
    options.progress = [this](std::int64_t done, std::int64_t total) {
        progress_.done = done;
        progress_.total = total;
    };
    if (shownFirst) {
        options.preview = [this](std::unique_ptr<CPlotCache> shown,
                                 const TelemetryIdentity& identity) {
            const std::lock_guard lock(mutex_);
            shown_ = std::move(shown);
            identity_ = identity;
            shownReady_ = true;
        };
    }
    options.cancel = &cancel_;
    thread_ = std::thread([this, path, options = std::move(options)] {
        YieldToInterface();
        result_ = ReadDataFileCached(path, options);
        finished_ = true;
    });
}

CWholeFileRead::~CWholeFileRead() {
    cancel_ = true;
    thread_.join();
}

void CWholeFileRead::WaitForFirstFrame(const QString& text, QWidget* parent) {
    text_ = text;
    ShowLoadProgressWhile(
        text_, progress_, [this] { return !shownReady_ && !finished_ && !StopOnTermination(); },
        parent);
}

void CWholeFileRead::WaitUntilFinished(QWidget* parent) {
    const std::string text = progress_.Text();  // the read's whole progress text, once it began
    ShowLoadProgressWhile(
        text.empty() ? text_ : QString::fromStdString(text), progress_,
        [this] { return !finished_ && !StopOnTermination(); }, parent);
}

bool CWholeFileRead::StopOnTermination() {
    if (TerminationUnderway()) {
        cancel_ = true;
    }
    return cancel_;
}

std::unique_ptr<CPlotCache> CWholeFileRead::TakeShown(TelemetryIdentity& identity) {
    const std::lock_guard lock(mutex_);
    identity = identity_;
    return std::move(shown_);
}

}  // namespace corvane3
