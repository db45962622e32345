#pragma once
// Appends each status record to its unit's .csd telemetry file.
//
// The file is opened and closed for every record, so other programs may read or move it in
// between. A new file starts with the header line for the unit's model; an existing one, even an
// empty one, never gets another. An existing file whose header belongs to another model (so
// other columns) is left alone: that model's records go to a file named with the model code
// before the extension (Unit1234-402.csd), and the user is told once. Before its first record of
// a run goes to a file, the file's end is mended (see TelemetryTail.h) and the user told what
// was done, so that a torn line or a power cut's NUL bytes never swallow a new record.
//
// A record that cannot be written (directory missing, file not opening) is kept, with those
// that arrive while the user is being told, in a small queue, in order; each call writes the
// queue first. When the directory is missing the user is asked for a new one.
//
// The recorder belongs to the user-interface thread: it may show modal messages and the folder
// browser through ITelemetryUi, and it blocks for up to about two seconds while a busy file is
// retried.
//
//   CTelemetryRecorder recorder(ui);
//   if (settings.RecordDataFile) {
//       recorder.WriteTelemetryRecord(unit.Snapshot(), unit.InstrumentModel, settings);
//   }

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <set>
#include <string>

#include "core/config/ProgramSettings.h"
#include "core/link/UnitState.h"

namespace corvane3 {

// What the recorder needs from the windows. Both calls may be modal.
class ITelemetryUi {
  public:
    virtual ~ITelemetryUi() = default;
    // A message box with this text and title.
    virtual void ShowMessage(const std::string& text, const std::string& title) = 0;
    // Runs the folder browser and returns the last directory browsed to in this run, whether or
    // not this browse was cancelled; "" when there was none.
    virtual std::string BrowseForDataDirectory() = 0;
    // Something the user should know that needs no answer; a message box unless overridden.
    virtual void ShowNotice(const std::string& text, const std::string& title) {
        ShowMessage(text, title);
    }
    // A record could not be written, for reason (a sentence for the user). Called for every
    // failed attempt, before the user is told (when they are); nothing by default.
    virtual void RecordNotWritten(const std::string& reason) { (void)reason; }
};

// The file a record of model goes to when path is the unit's telemetry file: path itself, or,
// when path already holds another model's columns, path with "-<model>" before its extension
// (Unit1234.csd becomes Unit1234-402.csd).
std::string TelemetryFileForModel(const std::string& path, std::int32_t model);

enum class TelemetryWriteResult {
    kWritten,          // this record and every one queued before it
    kDirectoryError,   // not set or unreachable; a new directory was asked for
    kTemplateRefused,  // DataFilenameTemplate is unusable; the user was told
    kOpenFailed,       // every attempt to open the file failed; the user was told, once
    kWriteFailed,      // the line could not be written whole; the user was told, once
                       // (until a record is written again)
    kQueued,           // called again while a message of an earlier call was showing
};
// Except for kWritten, the record stays queued and is written by a later call.

// Ten attempts to open a busy file, 200 ms apart: about two seconds before giving up.
inline constexpr int kTelemetryOpenAttempts = 10;
inline constexpr std::chrono::milliseconds kTelemetryOpenRetryDelay{200};
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
    // RecordDataFile: the caller decides. While it shows a directory or template message and
    // the folder browser, PollingEnabled is off; afterwards it has its previous value again. A
    // directory chosen in the browser (with a trailing '/') replaces DatafileDirectory.
    TelemetryWriteResult WriteTelemetryRecord(const UnitStateData& data, std::int32_t model,
                                              CProgramSettings& settings);

    // Records waiting to be written, and those dropped because the queue was full.
    std::size_t QueuedRecords() const { return queue_.size(); }
    std::size_t DroppedRecords() const { return dropped_; }

  private:
    struct QueuedRecord {
        std::uint64_t number;
        UnitStateData data;
        std::int32_t model;
    };

    TelemetryWriteResult WriteOne(const QueuedRecord& record, CProgramSettings& settings);
    void TellFailureOnce(const char* text);
    // Mends the end of the file at path the first time this run writes there (telling the user
    // what was done). True when that left the file empty: it held nothing but a torn header.
    bool MendOnce(const std::string& path);

    ITelemetryUi& ui_;
    Wait wait_;
    bool busy_ = false;
    std::deque<QueuedRecord> queue_;
    std::uint64_t nextNumber_ = 0;
    std::size_t dropped_ = 0;
    std::set<std::string> announcedFiles_;  // other-model files the user was told about
    std::set<std::string> mendedFiles_;     // files whose end was checked in this run
    bool failureTold_ = false;              // the user knows the file cannot be written now
};

}  // namespace corvane3
