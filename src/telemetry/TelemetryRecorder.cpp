#include "telemetry/TelemetryRecorder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "telemetry/TelemetryFormat.h"
#include "telemetry/TelemetryPath.h"

namespace corvane3 {

namespace {

constexpr char kSaveErrorTitle[] = "Save data record error";
constexpr char kDefaultTitle[] = "Corvane3";
constexpr char kOpenFailureText[] = "File Open Failure while writing telemetry record";
constexpr char kWriteFailureText[] = "Write Failure while writing telemetry record";
// New files get the usual permissions, narrowed by the umask.
constexpr mode_t kNewFileMode = 0666;

// Clears PollingEnabled for as long as a message or the folder browser is up, so that the
// polling thread does not pile up records behind them.
class CPollingPause {
  public:
    explicit CPollingPause(CProgramSettings& settings)
        : settings_(settings), previous_(settings.PollingEnabled.exchange(false)) {}
    ~CPollingPause() { settings_.PollingEnabled = previous_; }
    CPollingPause(const CPollingPause&) = delete;
    CPollingPause& operator=(const CPollingPause&) = delete;

  private:
    CProgramSettings& settings_;
    bool previous_;
};

class CBusyFlag {
  public:
    explicit CBusyFlag(bool& busy) : busy_(busy) { busy_ = true; }
    ~CBusyFlag() { busy_ = false; }
    CBusyFlag(const CBusyFlag&) = delete;
    CBusyFlag& operator=(const CBusyFlag&) = delete;

  private:
    bool& busy_;
};

// Opens path for appending; created tells whether this call made the file. Creating with
// O_EXCL first makes "new file" exact: an existing file, even an empty one, is never new.
int OpenForAppend(const std::string& path, bool& created) {
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, kNewFileMode);
    if (fd >= 0) {
        created = true;
        return fd;
    }
    if (errno != EEXIST) {
        return -1;
    }
    created = false;
    return ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
}

bool WriteWhole(int fd, const std::string& text) {
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    return true;
}

// Writes text at the end of the open file and closes it. A line that could not be written
// whole is taken back, so the file keeps whole lines; a file this call created is removed
// again, so the next record starts it with its header.
bool AppendAndClose(int fd, const std::string& path, bool created, const std::string& text) {
    struct stat before {};
    const bool sized = ::fstat(fd, &before) == 0;
    bool ok = WriteWhole(fd, text);
    if (!ok && sized && !created) {
        [[maybe_unused]] const int ignored = ::ftruncate(fd, before.st_size);
    }
    if (::close(fd) != 0) {
        ok = false;
    }
    if (!ok && created) {
        ::unlink(path.c_str());
    }
    return ok;
}

}  // namespace

CTelemetryRecorder::CTelemetryRecorder(ITelemetryUi& ui, Wait wait)
    : ui_(ui), wait_(std::move(wait)) {
    if (!wait_) {
        wait_ = [](std::chrono::milliseconds delay) { std::this_thread::sleep_for(delay); };
    }
}

TelemetryWriteResult CTelemetryRecorder::WriteTelemetryRecord(const UnitStateData& data,
                                                              std::int32_t model,
                                                              CProgramSettings& settings) {
    // A modal message runs the event loop, which may deliver the next record here.
    if (busy_) {
        return TelemetryWriteResult::kBusy;
    }
    CBusyFlag busy(busy_);

    const TelemetryPath where =
        TelemetryFilePath(settings, static_cast<long>(data.d1.serialNumber));
    switch (where.status) {
        case TelemetryPathStatus::kReady:
            break;
        case TelemetryPathStatus::kDirectoryNotSet:
        case TelemetryPathStatus::kDirectoryUnreachable: {
            CPollingPause pause(settings);
            ui_.ShowMessage(where.message, kSaveErrorTitle);
            settings.DatafileDirectory = WithOneTrailingSlash(ui_.BrowseForDataDirectory());
            return TelemetryWriteResult::kDirectoryError;
        }
        case TelemetryPathStatus::kTemplateRefused: {
            CPollingPause pause(settings);
            ui_.ShowMessage(where.message, kSaveErrorTitle);
            return TelemetryWriteResult::kTemplateRefused;
        }
    }

    bool created = false;
    int fd = -1;
    for (int attempt = 1; attempt <= kTelemetryOpenAttempts; ++attempt) {
        fd = OpenForAppend(where.path, created);
        if (fd >= 0) {
            break;
        }
        if (attempt < kTelemetryOpenAttempts) {
            wait_(kTelemetryOpenRetryDelay);
        }
    }
    if (fd < 0) {
        ui_.ShowMessage(kOpenFailureText, kDefaultTitle);
        return TelemetryWriteResult::kOpenFailed;
    }

    std::string text;
    if (created) {
        text = TelemetryHeaderLine(model) + kTelemetryLineEnd;
    }
    text += TelemetryRecordLine(data, model) + kTelemetryLineEnd;
    if (!AppendAndClose(fd, where.path, created, text)) {
        ui_.ShowMessage(kWriteFailureText, kDefaultTitle);
        return TelemetryWriteResult::kWriteFailed;
    }
    return TelemetryWriteResult::kWritten;
}

}  // namespace corvane3
