// The plot window's data sources: the file it starts from, live records, a file the user opens
// and a file it follows while another program appends to it.

#include <QFile>
#include <QFileDialog>
#include <QTimer>
#include <algorithm>

#include "core/plot/PlotCache.h"
#include "gui/plot/PlotDlg.h"
#include "gui/plot/PlotMenus.h"
#include "gui/plot/WholeFileRead.h"

namespace corvane3 {

namespace {
// How often the window looks whether a long file's other channels were read.
constexpr int kWholeReadCheckMs = 100;
// How often the window looks whether a query found its cache damaged: a flag read, soon
// enough for a person looking at the gap.
constexpr int kCacheDamageCheckMs = 500;
}  // namespace

void CPlotDlg::LoadInitialFile() {
    const FileStamp stamp = StampOf(initialFile_);
    const bool loaded = !initialFile_.empty() && LoadFile(initialFile_);
    if (initialFile_.empty()) {
        store_.ResetStore();
    }
    live_ = !fileMode_;
    Command(kPlotCmdLiveData)->setChecked(live_);
    if (loaded && !live_) {
        FollowWhenRecent(initialFile_, stamp);
    }
    StoreReplaced();
    AppendHeldRecords();
    RebuildPlots();
    emit InitialLoadDone();
}

bool CPlotDlg::LoadFile(const std::string& path) {
    RetireWholeRead();  // a read still going on is of what is replaced now
    cacheRebuilt_ = cacheRebuilt_ && path == loadedFile_;
    loadedFile_ = path;
    if (cacheDamageCheck_ == nullptr) {
        cacheDamageCheck_ = new QTimer(this);
        cacheDamageCheck_->setInterval(kCacheDamageCheckMs);
        connect(cacheDamageCheck_, &QTimer::timeout, this, &CPlotDlg::CheckCacheDamage);
    }
    cacheDamageCheck_->start();
    // Records keep arriving while the load's progress window shows; they wait for the load, and
    // for the other channels of a long file drawn from its shown ones first.
    loading_ = true;
    firstFrameSlots_ = ShownSlots();
    std::unique_ptr<CWholeFileRead> wholeRead;
    const bool loaded = LoadDataFile(store_, path, &context_.instrumentModel, this, cacheFilesFrom_,
                                     firstFrameSlots_, &wholeRead) == 0;
    wholeRead_ = std::move(wholeRead);
    store_.SetLivePointsBeforeCache(livePointsBeforeCache_);
    loading_ = wholeRead_ != nullptr;
    if (wholeRead_) {
        if (wholeReadCheck_ == nullptr) {
            wholeReadCheck_ = new QTimer(this);
            wholeReadCheck_->setInterval(kWholeReadCheckMs);
            connect(wholeReadCheck_, &QTimer::timeout, this, [this] {
                if (wholeRead_ && wholeRead_->Finished()) {
                    CompleteWholeRead();
                }
            });
        }
        wholeReadCheck_->start();
    }
    return loaded;
}

void CPlotDlg::CheckCacheDamage() {
    const CPlotCache* cache = store_.Cache();
    if (loading_ || cache == nullptr || !cache->Damaged() || loadedFile_.empty()) {
        return;
    }
    const bool rebuild = !cacheRebuilt_;
    const QString text =
        QStringLiteral("The plot cache of %1 is damaged (%2).")
            .arg(QFile::decodeName(loadedFile_.c_str()), QString::fromLatin1(cache->DamageText()));
    if (cacheDamageBox_ == nullptr) {
        cacheDamageBox_ = new QMessageBox(QMessageBox::Warning, QStringLiteral("Plot Cache"),
                                          QString(), QMessageBox::Ok, this);
        cacheDamageBox_->setObjectName(QStringLiteral("plotCacheDamage"));
        cacheDamageBox_->setAttribute(Qt::WA_DeleteOnClose);
        cacheDamageBox_->setWindowModality(Qt::NonModal);
    }
    cacheDamageBox_->setText(text + (rebuild ? QStringLiteral(" It is rebuilt from the file.")
                                             : QStringLiteral(" It was rebuilt once already; "
                                                              "what it lacks stays out of the "
                                                              "plot.")));
    cacheDamageBox_->show();
    if (!rebuild) {
        cacheDamageCheck_->stop();  // said; the same damage is not said again
        return;
    }
    cacheRebuilt_ = true;
    LoadFile(loadedFile_);
    StoreReplaced();
    AppendHeldRecords();
    RebuildPlots();
}

void CPlotDlg::CompleteWholeRead() {
    if (!wholeRead_) {
        return;
    }
    wholeReadCheck_->stop();
    // The shown channels' cache is closed on a thread of its own: freeing its file's pages
    // would hold up the interface for tens of milliseconds.
    retiring_ = std::jthread([cache = FinishWholeFileRead(store_, *wholeRead_)] {});
    store_.SetLivePointsBeforeCache(livePointsBeforeCache_);
    wholeRead_.reset();
    loading_ = false;
    StoreReplaced();
    AppendHeldRecords();
    RebuildPlots();
    emit WholeFileRead();
}

void CPlotDlg::RetireWholeRead() {
    if (wholeRead_) {
        wholeReadCheck_->stop();
        // Stopped and joined on a thread of its own: the pieces in flight are finished first,
        // and its unfinished cache's file closed, which the interface must not wait for.
        retiring_ = std::jthread([read = std::move(wholeRead_)] {});
    }
}

bool CPlotDlg::WaitForUnreadChannels() {
    if (!wholeRead_) {
        return false;
    }
    const std::vector<int> shown = ShownSlots();
    const bool unread = std::any_of(shown.begin(), shown.end(), [this](int slot) {
        return std::find(firstFrameSlots_.begin(), firstFrameSlots_.end(), slot) ==
               firstFrameSlots_.end();
    });
    if (!unread) {
        return false;
    }
    // The wait handles events: the check is stopped so it cannot complete the read meanwhile,
    // and the read is held here in case another handler replaces it.
    wholeReadCheck_->stop();
    const std::shared_ptr<CWholeFileRead> read = wholeRead_;
    read->WaitUntilFinished(this);
    if (wholeRead_ == read) {
        if (read->Finished()) {
            CompleteWholeRead();
        } else {
            wholeReadCheck_->start();
        }
    }
    return true;
}

void CPlotDlg::AppendHeldRecords() {
    const std::vector<UnitStateData> held = std::move(heldRecords_);
    heldRecords_.clear();
    for (const UnitStateData& record : held) {
        // A record that reached the file before the load read it is there already.
        const std::int64_t n = store_.PointCount();
        const bool loaded =
            n > 0 && static_cast<std::uint32_t>(store_.SerialNumber()) == record.d1.serialNumber &&
            record.mjd <= store_.TimeAxis(0)[n - 1];
        if (!loaded) {
            OnNewRecord(record);
        }
    }
}

void CPlotDlg::StartLive() {
    Command(kPlotCmdLiveData)->setChecked(true);
    StopFollowing();
    if (!initialFile_.empty()) {
        LoadFile(initialFile_);
    } else {
        store_.ResetStore();
    }
    StoreReplaced();
    live_ = true;
    paused_ = false;
    AppendHeldRecords();
}

void CPlotDlg::PurgeLive() {
    if (!live_) {
        return;
    }
    RetireWholeRead();
    loading_ = false;
    heldRecords_.clear();
    store_.ResetStore();
    StoreReplaced();
    paused_ = false;
}

void CPlotDlg::OpenDialog() {
    QFileDialog dialog(this, QStringLiteral("Select a Corvane3 Data File"));
    dialog.setNameFilters(
        {QStringLiteral("Corvane3 Data Files (*.csd)"), QStringLiteral("All Files (*)")});
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return;
    }
    OpenFile(QFile::encodeName(dialog.selectedFiles().front()).toStdString());
}

void CPlotDlg::OpenFile(const std::string& path) {
    openedFile_ = path;
    live_ = !initialFile_.empty() && path == initialFile_;
    Command(kPlotCmdLiveData)->setChecked(live_);
    const FileStamp stamp = StampOf(path);
    const bool loaded = LoadFile(path);
    if (live_) {
        StopFollowing();
    } else if (loaded) {
        FollowWhenRecent(path, stamp);
    }
    StoreReplaced();
    AppendHeldRecords();
    RebuildPlots();
}

void CPlotDlg::FollowWhenRecent(const std::string& path, const FileStamp& loaded) {
    shownFile_ = path;
    shownStamp_ = loaded;
    SetFollowFile(RecentlyWritten(loaded));
}

void CPlotDlg::StopFollowing() {
    shownFile_.clear();
    SetFollowFile(false);
}

void CPlotDlg::SetFollowFile(bool follow) {
    if (follow && !live_ && !shownFile_.empty()) {
        follower_.Start(shownFile_, shownStamp_);
    } else {
        follower_.Stop();
    }
    Command(kPlotCmdFollowFile)->setChecked(follower_.Following());
    PrepareMenus();
}

void CPlotDlg::ApplyFollowed(FollowedFile&& followed) {
    if (loading_) {
        return;  // a file being opened replaces the store anyway
    }
    switch (followed.status) {
        case EDataFileRead::kRead:
            store_.AttachCache(std::move(followed.cache), followed.identity.serial,
                               followed.identity.unitType, followed.identity.factory);
            break;
        case EDataFileRead::kEmpty:
        case EDataFileRead::kNoRecords:
            store_.ResetStore();  // cut back to nothing, or replaced by a file just begun
            break;
        case EDataFileRead::kCannotOpen:
        case EDataFileRead::kFieldTooLong:
            return;  // kept as shown; a later change is read again
    }
    store_.SetLivePointsBeforeCache(livePointsBeforeCache_);
    StoreReplaced();
    RebuildPlots();
    emit FollowedFileRead();
}

}  // namespace corvane3
