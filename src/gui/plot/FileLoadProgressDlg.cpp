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
#include "core/telemetry/CachedDataFile.h"
#include "core/telemetry/DataFileReader.h"
#include "gui/common/HeldInputWait.h"
#include "gui/common/WholeTitle.h"

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

std::optional<std::string> LoadProgress::TakeNewText() {
    std::lock_guard lock(mutex_);
    if (!textChanged_) {
        return std::nullopt;
    }
    textChanged_ = false;
    return text_;
}

void RunWithLoadProgress(const QString& text, const std::function<void(LoadProgress&)>& load,
                         QWidget* parent) {
    CFileLoadProgressDlg window(parent);
    window.SetText(text);
    window.show();
    LoadProgress progress;
    std::atomic<bool> finished{false};
    std::thread loader([&] {
        // The load and the threads it starts yield to the interface thread, so that windows
        // keep painting while the load fills every core.
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kLoaderNice);
        load(progress);
        finished = true;
    });
    const auto show = [&] {
        if (const std::optional<std::string> text = progress.TakeNewText()) {
            window.SetText(QString::fromStdString(*text));
        }
        window.SetProgress(progress.done, progress.total);
    };
    WaitWhile(
        [&] {
            show();
            return !finished;
        },
        kLoadWaitLimit);
    loader.join();
    show();
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

// Reads a long file through its plot cache, whatever the order of its MJDs.
void LoadThroughCache(CPlotData& store, const std::string& path,
                      std::atomic<std::int32_t>* instrumentModel, QWidget* parent,
                      const std::vector<int>& shownSlots, DataFileReadResult& read) {
    CachedDataFileResult result;
    RunWithLoadProgress(
        QStringLiteral("Filename:\t%1").arg(QString::fromStdString(path)),
        [&](LoadProgress& progress) {
            CachedDataFileOptions options;
            options.defaults = {store.SerialNumber(), store.UnitType(), store.FactoryFlag()};
            options.instrumentModel = instrumentModel;
            options.shownSlots = shownSlots;
            ReportTo(progress, options);
            result = ReadDataFileCached(path, options);
        },
        parent);
    if (!result.writeMessage.empty()) {
        // Said once: every later open of a long file is only slower for it.
        static std::atomic<bool> said{false};
        if (!said.exchange(true)) {
            std::fprintf(stderr, "corvane3: %s\n", result.writeMessage.c_str());
        }
    }
    if (result.read.status == EDataFileRead::kRead) {
        store.AttachCache(std::move(result.cache), result.identity.serial, result.identity.unitType,
                          result.identity.factory);
    }
    read = std::move(result.read);
}

}  // namespace

int LoadDataFile(CPlotData& store, const std::string& path,
                 std::atomic<std::int32_t>* instrumentModel, QWidget* parent,
                 std::uint64_t cacheFilesFrom, const std::vector<int>& shownSlots) {
    DataFileReadResult result;
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        static_cast<std::uint64_t>(info.st_size) >= cacheFilesFrom) {
        LoadThroughCache(store, path, instrumentModel, parent, shownSlots, result);
        ShowReadMessage(result);
        return result.Code();
    }
    CPlotData loaded;
    RunWithLoadProgress(
        QStringLiteral("Filename:\t%1").arg(QString::fromStdString(path)),
        [&](LoadProgress& progress) {
            DataFileReadOptions options;
            options.instrumentModel = instrumentModel;
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

}  // namespace corvane3
