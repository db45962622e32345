#pragma once
// Follows a telemetry file that another program appends to: checks it every few seconds and,
// when it changed, reads it again off the interface thread through its plot cache (which parses
// only the bytes the file gained, and rebuilds when the file was cut shorter or replaced). The
// owner gets each new reading on the interface thread, told whether the file only grew, and puts
// it in place of what it shows; it is also told when the file is gone, cannot be read, was cut
// short or replaced, and when it can be followed again.

#include <QObject>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/plot/PlotCache.h"
#include "core/plot/PlotData.h"
#include "core/telemetry/DataFileReader.h"
#include "core/telemetry/TelemetryChunks.h"

namespace corvane3 {

// What tells that a file changed: it is another file, or its size or time changed.
struct FileStamp {
    bool exists = false;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t modifiedNs = 0;
    bool operator==(const FileStamp&) const = default;
};
FileStamp StampOf(const std::string& path);

// A file modified this recently is taken as still being recorded.
inline constexpr std::chrono::minutes kRecentlyWritten{10};
bool RecentlyWritten(const FileStamp& stamp);

// How the followed file changed since it was read last.
enum class EFollowChange {
    kGrew,      // the same file, records appended: what was shown is still there
    kCutShort,  // the same file, made shorter (and perhaps written again)
    kReplaced,  // another file in its place
};

// What the owner tells the user about the followed file.
enum class EFollowNotice {
    kGone,        // no file at the path
    kUnreadable,  // there, but it cannot be opened (its mode changed, ...)
    kCutShort,
    kReplaced,
    kResumed,  // read again after it was gone or unreadable
};

// A reading of the followed file. status kRead: the points are in cache.
struct FollowedFile {
    EDataFileRead status = EDataFileRead::kCannotOpen;
    std::unique_ptr<CPlotCache> cache;
    TelemetryIdentity identity;
    EFollowChange change = EFollowChange::kGrew;
    std::string reason;  // kCannotOpen: why, as the system says it
};

// What a reading needs from the owner, asked for on the interface thread when one starts.
struct FollowRequest {
    TelemetryIdentity defaults;   // as the shown store's
    std::vector<int> shownSlots;  // prepared on the reading thread
};

class CFileFollower : public QObject {
    Q_OBJECT

  public:
    // How often the file is looked at: new records show within a few seconds.
    static constexpr std::chrono::milliseconds kCheckInterval{2000};

    // request: nullopt holds the reading back (the owner is busy); apply: takes a reading.
    CFileFollower(std::atomic<std::int32_t>* instrumentModel,
                  std::function<std::optional<FollowRequest>()> request,
                  std::function<void(FollowedFile&&)> apply, QObject* parent = nullptr);
    ~CFileFollower() override;

    // Follows path, whose records (records of them) were read when it had stamp loaded.
    void Start(const std::string& path, const FileStamp& loaded, std::int64_t records);
    // Stops following; a reading under way ends unseen.
    void Stop();
    bool Following() const { return timer_.isActive(); }
    void SetCheckInterval(std::chrono::milliseconds interval) { timer_.setInterval(interval); }

  signals:
    // Something the user is to be told; reason says why a file is unreadable.
    void Notice(corvane3::EFollowNotice notice, const QString& reason);

  private:
    void Check();
    // Takes the reading once its thread has ended.
    Q_INVOKABLE void Finish();
    void JoinReader();

    std::atomic<std::int32_t>* instrumentModel_;
    std::function<std::optional<FollowRequest>()> request_;
    std::function<void(FollowedFile&&)> apply_;
    QTimer timer_;
    std::string path_;
    FileStamp read_;                 // the stamp of what was read last
    FileStamp shown_;                // the stamp of the last reading the owner took
    std::int64_t shownRecords_ = 0;  // its records
    // Said once each while it lasts; an unreadable file is tried at every check, as a mode
    // change back does not change its stamp.
    bool gone_ = false;
    bool unreadable_ = false;
    std::thread reader_;
    bool reading_ = false;
    // Counts Start and Stop: a reading started before either is dropped.
    std::uint64_t run_ = 0;
    std::uint64_t readingRun_ = 0;  // run_ when the reading under way began
    FollowedFile result_;  // written by the reader, taken on the interface thread after it ends
};

}  // namespace corvane3
