#include "gui/plot/FileLoadProgressDlg.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <limits>
#include <thread>

#include "core/plot/PlotData.h"
#include "core/program/TerminationSignals.h"
#include "core/telemetry/CachedDataFile.h"
#include "core/telemetry/DataFileReader.h"
#include "gui/common/HeldInputWait.h"
#include "gui/common/WholeTitle.h"
#include "gui/plot/WholeFileRead.h"

namespace corvane3 {

namespace {
// A load always ends; the bound only keeps the wait finite.
constexpr std::chrono::hours kLoadWaitLimit{24};
constexpr int kLoaderNice = 5;
// The bar's range when the total does not fit its int range.
constexpr int kScaledBarRange = 1000000;
}  // namespace

CFileLoadProgressDlg::CFileLoadProgressDlg(QWidget* parent)
    : QDialog(parent), text_(new QLabel(this)), bar_(new QProgressBar(this)) {
    setWindowTitle(QStringLiteral("File Load Progress"));
    text_->setObjectName(QStringLiteral("progressText"));
    text_->setTextFormat(Qt::PlainText);
    bar_->setObjectName(QStringLiteral("progressBar"));
    bar_->setRange(0, 0);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text_);
    layout->addWidget(bar_);
    setMinimumWidth(text_->fontMetrics().averageCharWidth() * 60);
    KeepTitleWhole(*this);
}

void CFileLoadProgressDlg::SetText(const QString& text) {
    text_->setText(text);
}

void CFileLoadProgressDlg::SetProgress(std::int64_t done, std::int64_t total) {
    if (total <= 0) {
        return;
    }
    if (total <= std::numeric_limits<int>::max()) {
        bar_->setRange(0, static_cast<int>(total));
        bar_->setValue(static_cast<int>(std::min(done, total)));
        return;
    }
    bar_->setRange(0, kScaledBarRange);
    bar_->setValue(static_cast<int>(static_cast<double>(std::min(done, total)) /
                                    static_cast<double>(total) * kScaledBarRange));
}

void LoadProgress::SetText(std::string text) {
    std::lock_guard lock(mutex_);
    text_ = std::move(text);
    textChanged_ = true;
}

std::string LoadProgress::Text() {
    std::lock_guard lock(mutex_);
    return text_;
}

std::optional<std::string> LoadProgress::TakeNewText() {
    std::lock_guard lock(mutex_);
    if (!textChanged_) {
        return std::nullopt;
    }
    textChanged_ = false;
    return text_;
}

void ShowLoadProgressWhile(const QString& text, LoadProgress& progress,
                           const std::function<bool()>& busy, QWidget* parent) {
    CFileLoadProgressDlg window(parent);
    window.SetText(text);
    window.show();
    const auto show = [&] {
        if (const std::optional<std::string> shown = progress.TakeNewText()) {
            window.SetText(QString::fromStdString(*shown));
        }
        window.SetProgress(progress.done, progress.total);
    };
    WaitWhile(
        [&] {
            show();
            return busy();
        },
        kLoadWaitLimit);
    show();
}

void YieldToInterface() {
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kLoaderNice);
}

void RunWithLoadProgress(const QString& text, const std::function<void(LoadProgress&)>& load,
                         QWidget* parent) {
    LoadProgress progress;
    std::atomic<bool> finished{false};
    std::thread loader([&] {
        YieldToInterface();
        load(progress);
        finished = true;
    });
    ShowLoadProgressWhile(
        text, progress, [&] { return !finished; }, parent);
    loader.join();
}

namespace {

// A reader's started and progress callbacks, shown by the progress window.
template <typename ReadOptions>
void ReportTo(LoadProgress& progress, ReadOptions& options) {
    options.started = [&progress](const std::string& text, std::int64_t total) {
        progress.SetText(text);
        progress.total = total;
    };
    options.progress = [&progress](std::int64_t done, std::int64_t total) {
        progress.done = done;
        progress.total = total;
    };
}

void ShowReadMessage(const DataFileReadResult& result) {
    if (result.HasMessage()) {
        QMessageBox box(QMessageBox::Warning, QString::fromStdString(result.title),
                        QString::fromStdString(result.message), QMessageBox::Ok);
        box.exec();
    }
}

// A cached read's records into store when it read the file; why its cache could not be written
// is said once, as every later open of a long file is only slower for it.
void TakeCachedRead(CPlotData& store, CachedDataFileResult& result) {
    if (!result.writeMessage.empty()) {
        static std::atomic<bool> said{false};
        if (!said.exchange(true)) {
            std::fprintf(stderr, "corvane3: %s\n", result.writeMessage.c_str());
        }
    }
    if (result.read.status == EDataFileRead::kRead) {
        store.AttachCache(std::move(result.cache), result.identity.serial, result.identity.unitType,
                          result.identity.factory);
    }
}

// Reads a long file through its plot cache, whatever the order of its MJDs. With rest given, a
// first read of the file comes back once its shown channels are in store; *rest then goes on
// reading every channel.
void LoadThroughCache(CPlotData& store, const std::string& path,
                      std::atomic<std::int32_t>* instrumentModel, QWidget* parent,
                      const std::vector<int>& shownSlots, DataFileReadResult& read,
                      std::unique_ptr<CWholeFileRead>* rest) {
    CachedDataFileOptions options;
    options.defaults = {store.SerialNumber(), store.UnitType(), store.FactoryFlag()};
    options.instrumentModel = instrumentModel;
    options.shownSlots = shownSlots;
    auto load = std::make_unique<CWholeFileRead>(path, std::move(options), rest != nullptr);
    load->WaitForFirstFrame(QStringLiteral("Filename:\t%1").arg(QString::fromStdString(path)),
                            parent);
    if (load->Cancelled()) {
        read.status = EDataFileRead::kNoRecords;  // the program ends: nothing to show or say
        return;  // the read stops at once; its thread is joined here
    }
    if (!load->Finished()) {
        TelemetryIdentity identity;
        store.AttachCache(load->TakeShown(identity), identity.serial, identity.unitType,
                          identity.factory);
        read.status = EDataFileRead::kRead;
        *rest = std::move(load);
        return;
    }
    CachedDataFileResult result = load->TakeResult();
    TakeCachedRead(store, result);
    read = std::move(result.read);
}

}  // namespace

int LoadDataFile(CPlotData& store, const std::string& path,
                 std::atomic<std::int32_t>* instrumentModel, QWidget* parent,
                 std::uint64_t cacheFilesFrom, const std::vector<int>& shownSlots,
                 std::unique_ptr<CWholeFileRead>* rest) {
    DataFileReadResult result;
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        static_cast<std::uint64_t>(info.st_size) >= cacheFilesFrom) {
        LoadThroughCache(store, path, instrumentModel, parent, shownSlots, result, rest);
        ShowReadMessage(result);
        return result.Code();
    }
    CPlotData loaded;
    RunWithLoadProgress(
        QStringLiteral("Filename:\t%1").arg(QString::fromStdString(path)),
        [&](LoadProgress& progress) {
            DataFileReadOptions options;
            options.instrumentModel = instrumentModel;
            options.cancel = &TerminationUnderway();  // the program ends: the read is not wanted
            ReportTo(progress, options);
            result = ReadDataFile(loaded, path, options);
        },
        parent);
    if (result.status == EDataFileRead::kRead) {
        store = std::move(loaded);
    }
    ShowReadMessage(result);
    return result.Code();
}

std::unique_ptr<CPlotCache> FinishWholeFileRead(CPlotData& store, CWholeFileRead& read) {
    CachedDataFileResult result = read.TakeResult();
    std::unique_ptr<CPlotCache> replaced;
    if (result.read.status == EDataFileRead::kRead) {
        replaced = store.ReleaseCache();
    }
    TakeCachedRead(store, result);
    ShowReadMessage(result.read);
    return replaced;
}

}  // namespace corvane3
