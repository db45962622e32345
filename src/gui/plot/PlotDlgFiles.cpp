// The plot window's data sources: the file it starts from, live records, a file the user opens
// and a file it follows while another program appends to it.

#include <QFile>
#include <QFileDialog>

#include "gui/plot/PlotDlg.h"
#include "gui/plot/PlotMenus.h"

namespace corvane3 {

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
    // Records keep arriving while the load's progress window shows; they wait for the load.
    loading_ = true;
    const bool loaded = LoadDataFile(store_, path, &context_.instrumentModel, this, cacheFilesFrom_,
                                     ShownSlots()) == 0;
    store_.SetLivePointsBeforeCache(livePointsBeforeCache_);
    loading_ = false;
    return loaded;
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
