#pragma once
// The change log: one line for every command that changes the instrument, appended to
// "Corvane3-changes.log" in the data directory when the polling thread has finished the command.
// Reads (status records, event logs, queries) are not logged. Lines are only ever appended,
// each with a single write, so a log that several runs share is never rewritten or interleaved
// within a line.
//
// Line layout, tab-separated: UTC time ("2026-12-07 00:40:12 UTC"), unit serial number, model
// code and name, command code, data (passwords as "*****", control characters as \xNN), how
// the command was authorised ("none", "password" or "factory"; a password itself is never
// written), outcome ("accepted", "refused", "not understood", "no reply", or "sent" when no
// reply is read, as for the start and end of a spectrum sweep), and for a command a client of
// the logging service sent, who sent it ("by alice via the logging service").

#include <atomic>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "core/link/CommandFrame.h"
#include "core/poll/CommandMailbox.h"

namespace corvane3 {

inline constexpr char kChangeLogFileName[] = "Corvane3-changes.log";
// Notification posted once a run when the change log could not be written.
inline constexpr int kNotifyChangeLogFailed = 41;

// How a logged command ended: the verdict on its reply, or nothing when no reply is read.
using ChangeOutcome = std::optional<EReplyVerdict>;

// True for the commands that only read the instrument: every catalogue row named "Get ...",
// "Report ..." or "Retrieve ...", and the two read-only queries "C03" (Version) and "A12" (Leap
// Sec Status). Every other code, including ones the catalogue does not list, counts as a change.
bool IsReadCommand(std::string_view code);

// The data as the log shows it: "*****" for the data of a command that carries a password
// ("C08", the new password), otherwise the data with control characters and backslashes
// escaped as \xNN, so that a line stays one line.
std::string ChangeLogData(std::string_view code, std::string_view data);

// One log line, ending in '\n'. utc is seconds since 1970. origin, when not empty, is the last
// field (who sent the command from elsewhere), its control characters escaped.
std::string ChangeLogLine(std::time_t utc, std::uint32_t serial, std::int32_t model,
                          const MailboxCommand& command, ChangeOutcome outcome,
                          std::string_view origin = {});

// The log's folder: directory cut at ';' and stripped of trailing blanks as configuration
// values are; when that leaves nothing, $XDG_DATA_HOME/corvane3 (default
// ~/.local/share/corvane3), created when missing, so that changes are logged even before a
// data directory is chosen.
std::string ChangeLogDirectory(const std::string& configuredDirectory);

// The writer. Thread-safe: the user interface sets the directory, the polling thread records.
class CChangeLog {
  public:
    // The configured data directory (DatafileDirectory); taken as ChangeLogDirectory reads it.
    void SetDirectory(std::string directory);
    // Appends the line for command unless it is a read. False when the line could not be
    // written; the reason is kept for TakeFirstFailure and also written to standard error.
    bool Record(const MailboxCommand& command, ChangeOutcome outcome, std::uint32_t serial,
                std::int32_t model, std::string_view origin = {});
    // The file the next line goes to.
    std::string Path() const;
    // After the first failed Record of the run, once: why it failed, in a sentence for the user.
    // Otherwise "". The user is told once a run, not at every command.
    std::string TakeFirstFailure();

  private:
    mutable std::mutex mutex_;
    std::string directory_;
    std::string firstFailure_;
    bool failureTaken_ = false;
};

}  // namespace corvane3
