#include "core/telemetry/TelemetryRecorder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

#include "core/base/WriteWhole.h"
#include "core/config/TelemetryPath.h"
#include "core/telemetry/TelemetryFormat.h"
#include "core/telemetry/TelemetryTail.h"

namespace corvane3 {

namespace {

constexpr char kSaveErrorTitle[] = "Save data record error";
constexpr char kDefaultTitle[] = "Corvane3";
constexpr char kOpenFailureText[] = "File Open Failure while writing telemetry record";
constexpr char kWriteFailureText[] = "Write Failure while writing telemetry record";
constexpr char kTelemetryFileTitle[] = "Telemetry file";
// New files get the usual permissions, narrowed by the umask.
constexpr mode_t kNewFileMode = 0666;

class CBusyFlag {
  public:
    explicit CBusyFlag(bool& busy) : busy_(busy) { busy_ = true; }
    ~CBusyFlag() { busy_ = false; }
    CBusyFlag(const CBusyFlag&) = delete;
    CBusyFlag& operator=(const CBusyFlag&) = delete;

  private:
    bool& busy_;
};

// A file opened for appending, or why not.
struct AppendFile {
    int fd = -1;
    bool created = false;  // this call made the file
    int error = 0;         // errno when fd is -1
};

AppendFile OpenForAppend(const std::string& path) {
    AppendFile file;
    file.fd =
        ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, kNewFileMode);
    if (file.fd >= 0) {
        file.created = true;
        return file;
    }
    if (errno == EEXIST) {
        file.fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    }
    file.error = file.fd < 0 ? errno : 0;
    return file;
}

// Why directory takes no new file (errno): missing, no directory, or not writable; 0 when
// nothing is found wrong.
int DirectoryError(const std::string& directory) {
    struct stat info {};
    if (::stat(directory.c_str(), &info) != 0) {
        return errno;
    }
    if (!S_ISDIR(info.st_mode)) {
        return ENOTDIR;
    }
    return ::access(directory.c_str(), W_OK) != 0 ? errno : 0;
}

// The first line of an existing file without its line end, read cheaply however large the file
// is. False when the file cannot be opened for reading (it usually does not exist).
bool ReadFirstLine(const std::string& path, std::string& line) {
    // Longer than any header line; a first line that does not end within it is no header.
    constexpr std::size_t kLongestHeader = 1024;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    char buffer[kLongestHeader];
    ssize_t n;
    do {
        n = ::pread(fd, buffer, sizeof buffer, 0);
    } while (n < 0 && errno == EINTR);
    ::close(fd);
    line.assign(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
    line.erase(std::min(line.find('\n'), line.size()));
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return true;
}

// True when the file at path starts with a header other than header: its records have other
// columns. A file without a header (empty, or records only) has nothing to disagree with.
bool HasOtherHeader(const std::string& path, const std::string& header) {
    std::string first;
    return ReadFirstLine(path, first) && first.rfind("MJD,", 0) == 0 && first != header;
}

// path with "-<model>" before the file name's extension: Unit1234.csd becomes Unit1234-402.csd.
std::string WithModelCode(const std::string& path, std::int32_t model) {
    const std::size_t nameStart = path.rfind('/') + 1;  // npos + 1 is 0
    const std::size_t dot = path.rfind('.');
    std::string suffix(1, '-');
    suffix += std::to_string(model);
    if (dot == std::string::npos || dot <= nameStart) {
        return path + suffix;
    }
    return path.substr(0, dot) + suffix + path.substr(dot);
}

}  // namespace

std::string TelemetryFailureDetail(const std::string& text, const std::string& path, int error) {
    if (path.empty() && error == 0) {
        return text;
    }
    std::string cause = path;
    if (error != 0) {
        cause += (cause.empty() ? "" : ": ") + std::string(std::strerror(error));
    }
    return text + " (" + cause + ")";
}

bool TelemetryOpenMayPass(int error) {
    switch (error) {
        case ENOENT:   // renamed away by a rotation between the two opens
        case ETXTBSY:  // held by another program a moment
        case EBUSY:
        case EAGAIN:
        case EINTR:
            return true;
        default:
            return false;
    }
}

std::string RecordsNotRecordedText(std::size_t count) {
    if (count == 0) {
        return "";
    }
    return std::to_string(count) + (count == 1 ? " record was" : " records were") +
           " not recorded";
}

std::string OneLineText(const std::string& text) {
    std::string line = text;
    std::replace(line.begin(), line.end(), '\n', ' ');
    std::replace(line.begin(), line.end(), '\r', ' ');
    return line;
}

std::string TelemetryFileForModel(const std::string& path, std::int32_t model) {
    return HasOtherHeader(path, TelemetryHeaderLine(model)) ? WithModelCode(path, model) : path;
}

namespace {

// Writes text at the end of the open file and closes it; 0, or the errno of what failed. A
// line that could not be written whole is taken back, so the file keeps whole lines; a file
// this call created is removed again, so the next record starts it with its header.
int AppendAndClose(const AppendFile& file, const std::string& path, const std::string& text) {
    int error = AppendWhole(file.fd, text) ? 0 : errno;
    if (::close(file.fd) != 0 && error == 0) {
        error = errno;
    }
    if (error != 0 && file.created) {
        ::unlink(path.c_str());
    }
    return error;
}

}  // namespace

CTelemetryRecorder::CTelemetryRecorder(ITelemetryUi& ui, Wait wait)
    : ui_(ui), wait_(std::move(wait)) {
    if (!wait_) {
        wait_ = [](std::chrono::milliseconds delay) { std::this_thread::sleep_for(delay); };
    }
}

ETelemetryWriteResult CTelemetryRecorder::WriteTelemetryRecord(const UnitStateData& data,
                                                               std::int32_t model,
                                                               const CProgramSettings& settings) {
    if (queue_.size() >= kTelemetryQueueLimit) {
        queue_.pop_front();
        ++dropped_;
    }
    queue_.push_back(QueuedRecord{nextNumber_++, data, model});
    // A user interface that ran the event loop in one of its calls would deliver the next record
    // here: it waits in the queue for the call that is writing.
    if (busy_) {
        return ETelemetryWriteResult::kQueued;
    }
    CBusyFlag busy(busy_);
    while (!queue_.empty()) {
        // A copy: a record arriving during a message may push the oldest out of a full queue.
        const QueuedRecord record = queue_.front();
        const ETelemetryWriteResult result = WriteOne(record, settings);
        if (result != ETelemetryWriteResult::kWritten) {
            return result;
        }
        ui_.RecordWritten(record.data, record.model);
        if (!queue_.empty() && queue_.front().number == record.number) {
            queue_.pop_front();
        }
    }
    return ETelemetryWriteResult::kWritten;
}

namespace {
// The file system path is on; 0 when it cannot be looked at.
std::uint64_t FileSystemOf(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? static_cast<std::uint64_t>(status.st_dev) : 0;
}

// True when a directory this run used on fileSystem may be made again: it was deleted, and the
// folder above it is still on that file system. When the file system itself went away, the
// folder above is a mount point on another one (or gone too), and a new directory there would
// take the records that belong on the missing disk.
bool DeletedFromItsFileSystem(const std::string& directory, std::uint64_t fileSystem) {
    std::string parent = directory;
    while (parent.size() > 1 && parent.back() == '/') {
        parent.pop_back();
    }
    const std::size_t slash = parent.rfind('/');
    parent = slash == std::string::npos ? "." : slash == 0 ? "/" : parent.substr(0, slash);
    return fileSystem != 0 && FileSystemOf(parent) == fileSystem;
}
}  // namespace

void CTelemetryRecorder::DirectoryFound(const CProgramSettings& settings) {
    const std::string directory = CleanTelemetryDirectory(settings.DatafileDirectory);
    usedDirectories_[directory] = FileSystemOf(directory);
}

// A file that stays unwritable (a full disk) would otherwise bring a message with every record.
// A new reason for the same failure (a full disk, then a permission) is told again.
void CTelemetryRecorder::TellFailure(const std::string& text, const std::string& title,
                                     const std::string& detail) {
    // Only the message box keeps its lines; the detail goes to status and journal lines.
    const std::string line = OneLineText(detail);
    ui_.RecordNotWritten(line);
    std::string told = title + '\n' + line;
    if (told != failureTold_) {
        failureTold_ = std::move(told);
        ui_.ShowFailure(text, title, line);
    }
}

void CTelemetryRecorder::MendOnce(const std::string& path) {
    if (mendedFiles_.insert(path).second) {
        Mend(path);
    }
}

void CTelemetryRecorder::Mend(const std::string& path) {
    const TailRepair repair = RepairTelemetryTail(path);
    if (repair.kind != ETailRepair::kWhole) {
        ui_.ShowNotice(TailRepairText(path, repair), kTelemetryFileTitle);
    }
}

ETelemetryWriteResult CTelemetryRecorder::FindFile(const QueuedRecord& record,
                                                   const CProgramSettings& settings,
                                                   std::string& path) {
    const long serialNumber = static_cast<long>(record.data.d1.serialNumber);
    TelemetryPath where = TelemetryFilePath(settings, serialNumber);
    const std::string directory = CleanTelemetryDirectory(settings.DatafileDirectory);
    std::string reason;
    bool reasonGiven = false;  // the message already says why
    const auto used = usedDirectories_.find(directory);
    if (where.status == ETelemetryPathStatus::kDirectoryUnreachable &&
        (used == usedDirectories_.end() || DeletedFromItsFileSystem(directory, used->second))) {
        if (CreateTelemetryDirectory(directory, reason)) {
            where = TelemetryFilePath(settings, serialNumber);
        } else {
            where.message += "\n(" + reason + ")";
            reasonGiven = true;
        }
    }
    // A directory that takes no new file is told as one that cannot be reached, before a busy
    // file's retries would hold the window up for nothing.
    if (where.status == ETelemetryPathStatus::kReady && ::access(where.path.c_str(), F_OK) != 0 &&
        ::access(directory.c_str(), W_OK) != 0) {
        where.status = ETelemetryPathStatus::kDirectoryUnreachable;
        where.message = DirectoryUnreachableText(directory);
    }
    switch (where.status) {
        case ETelemetryPathStatus::kReady:
            if (used == usedDirectories_.end() || used->second == 0) {
                usedDirectories_[directory] = FileSystemOf(directory);
            }
            path = where.path;
            return ETelemetryWriteResult::kWritten;
        case ETelemetryPathStatus::kDirectoryNotSet:
            TellFailure(where.message, kSaveErrorTitle, where.message);
            return ETelemetryWriteResult::kDirectoryError;
        case ETelemetryPathStatus::kDirectoryUnreachable:
            // The message names the directory; the reason is added where it is not given.
            TellFailure(where.message, kSaveErrorTitle,
                        TelemetryFailureDetail(where.message, "",
                                               reasonGiven ? 0 : DirectoryError(directory)));
            return ETelemetryWriteResult::kDirectoryError;
        case ETelemetryPathStatus::kTemplateRefused:
            break;
    }
    TellFailure(where.message, kSaveErrorTitle, where.message);
    return ETelemetryWriteResult::kTemplateRefused;
}

ETelemetryWriteResult CTelemetryRecorder::WriteOne(const QueuedRecord& record,
                                                   const CProgramSettings& settings) {
    std::string unitFile;
    if (const ETelemetryWriteResult found = FindFile(record, settings, unitFile);
        found != ETelemetryWriteResult::kWritten) {
        return found;
    }
    // What a power cut left at a file's end is mended before this run's first record there,
    // before its header is looked at.
    MendOnce(unitFile);
    // One file holds one column layout: another model's records go to a file of their own.
    const std::string header = TelemetryHeaderLine(record.model);
    const std::string path = TelemetryFileForModel(unitFile, record.model);
    const bool diverted = path != unitFile;
    if (diverted) {
        MendOnce(path);
        if (HasOtherHeader(path, header)) {
            const std::string reason = path +
                                       " holds records of another layout and is left as it is; "
                                       "no record is written until it is moved away.";
            TellFailure(reason, kDefaultTitle, reason);
            return ETelemetryWriteResult::kOpenFailed;
        }
    }

    AppendFile file;
    for (int attempt = 1; attempt <= kTelemetryOpenAttempts; ++attempt) {
        file = OpenForAppend(path);
        if (file.fd >= 0 || !TelemetryOpenMayPass(file.error)) {
            break;
        }
        if (attempt < kTelemetryOpenAttempts) {
            wait_(kTelemetryOpenRetryDelay);
        }
    }
    if (file.fd < 0) {
        TellFailure(kOpenFailureText, kDefaultTitle,
                    TelemetryFailureDetail(kOpenFailureText, path, file.error));
        return ETelemetryWriteResult::kOpenFailed;
    }

    // An empty file has no header yet, whoever made it: a reader takes the first line for it.
    struct stat info {};
    const bool empty = file.created || (::fstat(file.fd, &info) == 0 && info.st_size == 0);
    // Another program may have torn a line at the end since the last record: this record
    // appended onto it would make one line of two with its columns shifted.
    if (!empty && !TelemetryFileEndsWhole(path)) {
        Mend(path);
    }
    std::string text;
    if (empty) {
        text = header + kTelemetryLineEnd;
    }
    text += TelemetryRecordLine(record.data, record.model) + kTelemetryLineEnd;
    if (const int error = AppendAndClose(file, path, text); error != 0) {
        TellFailure(kWriteFailureText, kDefaultTitle,
                    TelemetryFailureDetail(kWriteFailureText, path, error));
        return ETelemetryWriteResult::kWriteFailed;
    }
    failureTold_.clear();
    if (diverted && announcedFiles_.insert(path).second) {
        ui_.ShowNotice(unitFile +
                           " holds the records of another instrument model, with other "
                           "columns.\nRecords of this model " +
                           std::to_string(record.model) + " unit now go to " + path + ".",
                       kTelemetryFileTitle);
    }
    return ETelemetryWriteResult::kWritten;
}

}  // namespace corvane3
