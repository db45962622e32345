#pragma once
// Follows a telemetry file that another program appends to: checks it every few seconds and,
// when it changed, reads it again off the interface thread through its plot cache (which parses
// only the bytes the file gained, and rebuilds when the file was cut shorter or replaced). The
// owner gets each new reading on the interface thread and puts it in place of what it shows.

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

// A reading of the followed file. status kRead: the points are in cache.
struct FollowedFile {
    EDataFileRead status = EDataFileRead::kCannotOpen;
    std::unique_ptr<CPlotCache> cache;
    TelemetryIdentity identity;
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

    // Follows path, whose records were read when it had stamp loaded.
    void Start(const std::string& path, const FileStamp& loaded);
    // Stops following; a reading under way ends unseen.
    void Stop();
    bool Following() const { return timer_.isActive(); }
    void SetCheckInterval(std::chrono::milliseconds interval) { timer_.setInterval(interval); }

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
    FileStamp read_;  // the stamp of what was read last
    std::thread reader_;
    bool reading_ = false;
    // Counts Start and Stop: a reading started before either is dropped.
    std::uint64_t run_ = 0;
    std::uint64_t readingRun_ = 0;  // run_ when the reading under way began
    FollowedFile result_;  // written by the reader, taken on the interface thread after it ends
};

}  // namespace corvane3
