#pragma once
// Appends each status record to its unit's .csd telemetry file.
//
// The file is opened and closed for every record, so other programs may read or move it in
// between. A file that is empty when a record is appended (new, or left empty by a power cut or
// by a log rotation that truncates it) gets the header line for the unit's model first, so that
// no reader takes the first record for the header. An existing file whose header belongs to
// another model (so other columns) is left alone: that model's records go to a file named with
// the model code before the extension (Unit1234-402.csd), and the user is told once. Before its
// first record of a run goes to a file, the file's end is mended (see TelemetryTail.h) and the
// user told what was done, so that a torn line or a power cut's NUL bytes never swallow a new
// record.
//
// A missing data directory is created, unless this run has written there before: a directory
// that vanishes during a run is a removed disk or an unmounted share, and a new one in its place
// would hide the records from where they are looked for. A record that cannot be written is
// kept, in order, in a small queue; each call writes the queue first. Nothing here waits for the
// user: the reason goes to the user interface, which says it once while it stays the same, and
// never stops polling.
//
// The recorder belongs to the user-interface thread and never holds it longer than a frame:
// only an open that can pass a moment later (a file briefly missing during a rotation, a busy
// file) is tried again, a few milliseconds apart; any other failure (a read-only file system, a
// file a rotation gave another owner) is said with its reason at once, and the record waits
// for the next one.
//
//   CTelemetryRecorder recorder(ui);
//   if (settings.RecordDataFile) {
//       recorder.WriteTelemetryRecord(unit.Snapshot(), unit.InstrumentModel, settings);
//   }

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "core/config/ProgramSettings.h"
#include "core/link/UnitState.h"

namespace corvane3 {

// What the recorder needs from the windows. No call may wait for the user: records keep coming
// while a message shows.
class ITelemetryUi {
  public:
    virtual ~ITelemetryUi() = default;
    // A message with this text and title that the user should see.
    virtual void ShowMessage(const std::string& text, const std::string& title) = 0;
    // Something the user should know that needs no answer; as ShowMessage unless overridden.
    virtual void ShowNotice(const std::string& text, const std::string& title) {
        ShowMessage(text, title);
    }
    // A record could not be written: the message the user is shown (text, title) and the same
    // with the file and the system's reason (detail), for a status line or a log. As
    // ShowMessage unless overridden.
    virtual void ShowFailure(const std::string& text, const std::string& title,
                             const std::string& detail) {
        (void)detail;
        ShowMessage(text, title);
    }
    // A record could not be written, for reason (a sentence for the user, with the file and the
    // system's reason when there is one). Called for every failed attempt, before the user is
    // told (when they are); nothing by default.
    virtual void RecordNotWritten(const std::string& reason) { (void)reason; }
    // A record is now in its file: each record once, in the order they came; nothing by default.
    virtual void RecordWritten(const UnitStateData& data, std::int32_t model) {
        (void)data;
        (void)model;
    }
};

// A failure's text with the file it concerns and the system's reason for error (errno; none
// when 0), as the recorder reports it outside its message box:
// "Write Failure while writing telemetry record (/data/Unit1234.csd: No space left on device)".
std::string TelemetryFailureDetail(const std::string& text, const std::string& path, int error);

// The file a record of model goes to when path is the unit's telemetry file: path itself, or,
// when path already holds another model's columns, path with "-<model>" before its extension
// (Unit1234.csd becomes Unit1234-402.csd).
std::string TelemetryFileForModel(const std::string& path, std::int32_t model);

enum class ETelemetryWriteResult {
    kWritten,          // this record and every one queued before it
    kDirectoryError,   // not set, or missing and not to be created, or not writable
    kTemplateRefused,  // DataFilenameTemplate is unusable
    kOpenFailed,       // every attempt to open the file failed
    kWriteFailed,      // the line could not be written whole
    kQueued,           // called again from within a user-interface call of an earlier one
};
// Except for kWritten, the record stays queued and is written by a later call. Each failure is
// told to the user once, until a record is written again or the reason changes.

// Three attempts to open a briefly missing or busy file, 2 ms apart: 4 ms, well within the 16 ms of
// one frame at 60 Hz. The records wait in the queue for the next record's attempt.
inline constexpr int kTelemetryOpenAttempts = 3;
inline constexpr std::chrono::milliseconds kTelemetryOpenRetryDelay{2};

// True when an open that failed with error (errno) may pass when tried again at once.
bool TelemetryOpenMayPass(int error);

// "3 records were not recorded": what a run that ends with count records queued or dropped
// says; "" for none.
std::string RecordsNotRecordedText(std::size_t count);

// text on one line, for a status line, a journal line or a label: line ends become blanks.
std::string OneLineText(const std::string& text);
// Records kept while they cannot be written; beyond this the oldest is dropped. At the shortest
// polling interval that is over eight minutes of records.
inline constexpr std::size_t kTelemetryQueueLimit = 256;

class CTelemetryRecorder {
  public:
    using Wait = std::function<void(std::chrono::milliseconds)>;

    // ui must outlive the recorder. wait pauses between open attempts (a sleep by default).
    explicit CTelemetryRecorder(ITelemetryUi& ui, Wait wait = {});

    // Appends data as one record line of a unit of this model to the file that settings and
    // the serial number name, after the records still queued. It does not look at
    // RecordDataFile: the caller decides.
    ETelemetryWriteResult WriteTelemetryRecord(const UnitStateData& data, std::int32_t model,
                                               const CProgramSettings& settings);

    // Counts the directory settings name as one this run has found: should it go away with
    // the file system it was on (a disk unplugged, a share unmounted), it is waited for, not
    // made again where it would hide the records; one deleted from a file system that is still
    // there is made again. For a caller that has made or checked it before the first record.
    void DirectoryFound(const CProgramSettings& settings);

    // Records waiting to be written, and those dropped because the queue was full.
    std::size_t QueuedRecords() const { return queue_.size(); }
    std::size_t DroppedRecords() const { return dropped_; }

  private:
    struct QueuedRecord {
        std::uint64_t number;
        UnitStateData data;
        std::int32_t model;
    };

    ETelemetryWriteResult WriteOne(const QueuedRecord& record, const CProgramSettings& settings);
    // The file's path, or why there is none (the user is told). Creates a missing directory
    // that this run has not written to.
    ETelemetryWriteResult FindFile(const QueuedRecord& record, const CProgramSettings& settings,
                                   std::string& path);
    // Reports a failure (detail: text with its file and reason); the user is told unless this
    // is what they were told last.
    void TellFailure(const std::string& text, const std::string& title, const std::string& detail);
    // Mends the end of the file at path the first time this run writes there (telling the user
    // what was done).
    void MendOnce(const std::string& path);
    // Mends the end of the file at path now, telling the user what was done.
    void Mend(const std::string& path);

    ITelemetryUi& ui_;
    Wait wait_;
    bool busy_ = false;
    std::deque<QueuedRecord> queue_;
    std::uint64_t nextNumber_ = 0;
    std::size_t dropped_ = 0;
    std::set<std::string> announcedFiles_;   // other-model files the user was told about
    std::set<std::string> mendedFiles_;      // files whose end was checked in this run
    // Directories this run found or made, with the file system each was on (0: not known).
    std::map<std::string, std::uint64_t> usedDirectories_;
    // The title and detail the user was last told about failing records; "" when none.
    std::string failureTold_;
};

}  // namespace corvane3
