#pragma once
// corvane3 --headless: the polling thread without any window. Prints every change of the Link
// status text and one line per status record, and appends each record to the unit's telemetry
// file when asked to.

#include <atomic>
#include <ostream>
#include <string>

#include "app/Corvane3App.h"

namespace corvane3 {

struct HeadlessOptions {
    std::string port;         // empty: the configured port
    int intervalSeconds = 0;  // 0: the configured interval
    int polls = 0;            // stop after this many status records; 0: run until interrupted
    // Record every status record in this directory, whatever the configuration says. When
    // empty, records are kept as the configuration's RecordDataFile and DatafileDirectory say.
    std::string recordDirectory;
};

// Runs until options.polls records have arrived or interrupted turns true. Returns the exit
// status: 0 on a clean stop, 1 when a record could not be kept (the reason went to err; there is
// no folder browser to ask for another directory, so the run ends).
int RunHeadless(Corvane3App& app, const HeadlessOptions& options, std::ostream& out,
                std::ostream& err, const std::atomic<bool>& interrupted);
// As above with errors on standard error.
int RunHeadless(Corvane3App& app, const HeadlessOptions& options, std::ostream& out,
                const std::atomic<bool>& interrupted);

// One short line describing a status record.
std::string StatusRecordLine(const UnitStateData& data, std::int32_t model);

}  // namespace corvane3
