#pragma once
// Where --export-csv writes: what the target path names decides how the CSV gets there, and a
// regular file is written beside it and renamed over it so that no reader sees half a file.

#include <fstream>
#include <functional>
#include <ostream>
#include <string>

namespace corvane3 {

// Where the CSV goes.
enum class ECsvTarget {
    kStandardOutput,  // "-"
    kReplaced,        // a regular file or a missing path: written beside it and renamed over it
    kDirect,          // a character device or a FIFO: written to as it is
    kRefused,         // anything else (a folder, a socket, a block device)
};

// What the path names, following symbolic links: a link to a file is replaced at its target,
// so the link stays. reason says why a target is refused.
ECsvTarget ClassifyCsvTarget(const std::string& target, std::string& resolved, std::string& reason);

// Writes a CSV to a stream: false when the file turned out unreadable (the reason went to err).
using CsvWriter = std::function<bool(std::ostream&)>;

// Writes the CSV to an open stream and closes it; false with the reason when that failed (an
// empty reason when the file itself failed; its reason went to err).
bool WriteAndClose(std::ofstream& csv, const CsvWriter& writeCsv, std::string& reason);

// Makes a new empty file beside target to write the CSV into. Its name is short whatever the
// target's is (the target's own name may be as long as the file system allows), and starts with
// a dot so that listings pass over it. False, with the reason, when no such file can be made.
bool CreateTemporaryBeside(const std::string& target, std::string& temporary, std::string& reason);

// Says on err that target cannot be written, for reason (nothing when reason is empty: it was
// said already). The exit status for it.
int CannotWrite(const std::string& target, const std::string& reason, std::ostream& err);

}  // namespace corvane3
