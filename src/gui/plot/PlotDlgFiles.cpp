// The plot window's data sources: the file it starts from, live records, a file the user opens
// and a file it follows while another program appends to it.

#include <QDateTime>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QTimer>
#include <algorithm>
#include <optional>

#include "core/plot/PlotCache.h"
#include "gui/plot/PlotDlg.h"
#include "gui/plot/PlotMenus.h"
#include "gui/plot/TracePlot.h"
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
        follower_.Start(shownFile_, shownStamp_, store_.PointCount());
    } else {
        follower_.Stop();
    }
    // What was said is of the following that ended or started again.
    followNotice_->clear();
    followNotice_->setVisible(false);
    Command(kPlotCmdFollowFile)->setChecked(follower_.Following());
    PrepareMenus();
}

void CPlotDlg::ApplyFollowed(FollowedFile&& followed) {
    if (loading_) {
        return;  // a file being opened replaces the store anyway
    }
    // Records appended extend what is shown: the view the user made of it stays.
    std::optional<KeptView> kept;
    if (built_ && followed.status == EDataFileRead::kRead &&
        followed.change == EFollowChange::kGrew) {
        kept = KeepView();
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
    if (kept && built_ && store_.PointCount() >= kept->records) {
        RestoreView(*kept);
    }
    emit FollowedFileRead();
}

CPlotDlg::KeptView CPlotDlg::KeepView() const {
    const TracePlot* pane = Pane(decayDisplay_ ? kSignalPane : 0);
    KeptView view;
    view.zoomed = !pane->ShowsViewportX();
    view.left = pane->xAxis->range().lower;
    view.right = pane->xAxis->range().upper;
    view.records = store_.PointCount();
    view.newest = view.records > 0 ? store_.TimeAxis(ShownTimeAxis())[view.records - 1] : 0.0;
    view.cursors = {pane->CursorIndex(0), pane->CursorIndex(1)};
    return view;
}

// The rule: a view the user did not zoom or pan follows the X scale (All grows with the file,
// the last hour, day or week rolls). A zoomed or panned view that showed the newest record moves
// on with it, keeping its width, as an oscilloscope's roll mode does; any other stays where it
// is. The cursors stay on their records, except that in the decay display a cursor on the
// newest record moves on to the new newest, so that a fit up to the end stays one.
void CPlotDlg::RestoreView(const KeptView& view) {
    TracePlot* pane = Pane(decayDisplay_ ? kSignalPane : 0);
    const std::int64_t n = store_.PointCount();
    if (view.zoomed) {
        const double newest = store_.TimeAxis(ShownTimeAxis())[n - 1];
        const double shift = view.right >= view.newest ? newest - view.newest : 0.0;
        pane->xAxis->setRange(view.left + shift, view.right + shift);  // the tied panes follow
        pane->replot(QCustomPlot::rpQueuedReplot);
    }
    if (!cursorsShown_) {
        return;
    }
    if (decayDisplay_) {
        const auto moved = [&](std::int64_t index) {
            return index == view.records - 1 ? n - 1 : index;
        };
        pane->SetCursorIndices(moved(view.cursors[0]), moved(view.cursors[1]));
        OnCursorsMoved(pane->CursorIndex(0), pane->CursorIndex(1), pane->CursorX(0),
                       pane->CursorX(1));
        FitDecay();
    } else {
        for (int p = 0; p < kDataPanes; ++p) {
            Pane(p)->SetCursorIndices(view.cursors[0], view.cursors[1]);
        }
    }
    RefreshReadout();
}

QString CPlotDlg::FollowNoticeText() const {
    return followNotice_->text();
}

void CPlotDlg::ShowFollowNotice(EFollowNotice notice, const QString& reason) {
    const QString file = QString::fromStdString(shownFile_);
    QString text;
    switch (notice) {
        case EFollowNotice::kGone:
            text = QStringLiteral(
                       "%1 is gone: the plot keeps its last records, and follows the "
                       "file again once it is back.")
                       .arg(file);
            break;
        case EFollowNotice::kUnreadable:
            text = QStringLiteral(
                       "%1 cannot be read%2: the plot keeps its last records until it can be "
                       "read again.")
                       .arg(file, reason.isEmpty() ? QString() : " (" + reason + ")");
            break;
        case EFollowNotice::kCutShort:
            text = QStringLiteral(
                       "%1 was cut short: the plot shows it again from its first "
                       "record.")
                       .arg(file);
            break;
        case EFollowNotice::kReplaced:
            text = QStringLiteral("%1 was replaced by another file: the plot shows the new one.")
                       .arg(file);
            break;
        case EFollowNotice::kResumed:
            text = QStringLiteral("%1 can be read again: following resumes.").arg(file);
            break;
    }
    // When it happened: the notice stays until the next one.
    const QString at =
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    followNotice_->setText(at + QStringLiteral(" UTC: ") + text);
    followNotice_->setVisible(true);
}

}  // namespace corvane3
