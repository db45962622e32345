#include "gui/plot/FileFollower.h"

#include <sys/stat.h>

#include <utility>

#include "core/program/TerminationSignals.h"
#include "core/telemetry/CachedDataFile.h"

namespace corvane3 {

FileStamp StampOf(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return {};
    }
    return {true, static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
            static_cast<std::uint64_t>(info.st_size),
            static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}

bool RecentlyWritten(const FileStamp& stamp) {
    if (!stamp.exists) {
        return false;
    }
    const auto modified = std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::nanoseconds(stamp.modifiedNs)));
    return std::chrono::system_clock::now() - modified <= kRecentlyWritten;
}

namespace {

FollowedFile ReadFollowed(const std::string& path, const FollowRequest& request,
                          std::atomic<std::int32_t>* instrumentModel) {
    CachedDataFileOptions options;
    options.cancel = &TerminationUnderway();  // the program ends: the read is not wanted
    options.defaults = request.defaults;
    options.instrumentModel = instrumentModel;
    options.shownSlots = request.shownSlots;
    CachedDataFileResult cached = ReadDataFileCached(path, options);
    FollowedFile followed;
    followed.status = cached.read.status;
    followed.identity = cached.identity;
    followed.reason = cached.read.reason;
    if (cached.read.status == EDataFileRead::kRead) {
        followed.cache = std::move(cached.cache);
    }
    return followed;
}

}  // namespace

CFileFollower::CFileFollower(std::atomic<std::int32_t>* instrumentModel,
                             std::function<std::optional<FollowRequest>()> request,
                             std::function<void(FollowedFile&&)> apply, QObject* parent)
    : QObject(parent),
      instrumentModel_(instrumentModel),
      request_(std::move(request)),
      apply_(std::move(apply)) {
    timer_.setInterval(kCheckInterval);
    connect(&timer_, &QTimer::timeout, this, &CFileFollower::Check);
}

CFileFollower::~CFileFollower() {
    JoinReader();
}

void CFileFollower::Start(const std::string& path, const FileStamp& loaded, std::int64_t records) {
    ++run_;
    path_ = path;
    read_ = loaded;
    shown_ = loaded;
    shownRecords_ = records;
    gone_ = false;
    unreadable_ = false;
    timer_.start();
}

void CFileFollower::Stop() {
    ++run_;
    timer_.stop();
}

void CFileFollower::JoinReader() {
    if (reader_.joinable()) {
        reader_.join();
    }
}

void CFileFollower::Check() {
    if (reading_) {
        return;
    }
    const FileStamp now = StampOf(path_);
    // A file gone (deleted, or being replaced) is looked at again next time.
    if (!now.exists) {
        if (!gone_) {
            gone_ = true;
            emit Notice(EFollowNotice::kGone, {});
        }
        return;
    }
    if (now == read_ && !unreadable_) {
        if (gone_) {  // back as it was (moved away and back)
            gone_ = false;
            emit Notice(EFollowNotice::kResumed, {});
        }
        return;
    }
    const std::optional<FollowRequest> request = request_();
    if (!request) {
        return;
    }
    JoinReader();
    reading_ = true;
    read_ = now;  // taken before the reading: what is appended meanwhile changes it again
    result_ = {};
    readingRun_ = run_;
    reader_ = std::thread([this, path = path_, request = *request] {
        result_ = ReadFollowed(path, request, instrumentModel_);
        // Only a call by name is posted: what the reading made is taken after the thread is
        // joined, which thread checkers see.
        QMetaObject::invokeMethod(this, "Finish", Qt::QueuedConnection);
    });
}

void CFileFollower::Finish() {
    JoinReader();
    reading_ = false;
    FollowedFile followed = std::move(result_);
    if (readingRun_ != run_ || TerminationUnderway()) {
        return;  // another file's, or stopped as the program ends: the points shown stay
    }
    if (followed.status == EDataFileRead::kCannotOpen) {
        if (!unreadable_) {
            unreadable_ = true;
            emit Notice(EFollowNotice::kUnreadable, QString::fromStdString(followed.reason));
        }
        return;  // the points shown stay
    }
    const std::int64_t records = followed.cache ? followed.cache->RecordCount() : 0;
    if (read_.device != shown_.device || read_.inode != shown_.inode) {
        followed.change = EFollowChange::kReplaced;
    } else if (read_.size < shown_.size || records < shownRecords_) {
        followed.change = EFollowChange::kCutShort;
    }
    shown_ = read_;
    shownRecords_ = records;
    const bool resumed = gone_ || unreadable_;
    gone_ = false;
    unreadable_ = false;
    const EFollowChange change = followed.change;
    apply_(std::move(followed));
    if (resumed) {
        emit Notice(EFollowNotice::kResumed, {});
    } else if (change == EFollowChange::kCutShort) {
        emit Notice(EFollowNotice::kCutShort, {});
    } else if (change == EFollowChange::kReplaced) {
        emit Notice(EFollowNotice::kReplaced, {});
    }
}

}  // namespace corvane3
