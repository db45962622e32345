#pragma once
// Mends the end of a telemetry file before a run first appends to it. A power cut can leave a
// record without its line end, or a run of NUL bytes where the file system had not written the
// last blocks yet; the next record appended there would be glued onto that line, and the line
// would spoil the file for every reader. Only the part after the last whole line is touched.

#include <cstddef>
#include <cstdint>
#include <string>

namespace corvane3 {

enum class ETailRepair {
    kWhole,      // the file ended with a whole line (or was empty): nothing done
    kLineEnded,  // a whole record lacked its LF: the LF was added (NULs after it cut off)
    kCutOff,     // NULs or a torn record after the last whole line were cut off
    kFailed,     // the file could not be read or changed
};

struct TailRepair {
    ETailRepair kind = ETailRepair::kWhole;
    std::uint64_t bytesCut = 0;   // bytes cut off the end
    std::uint64_t sizeAfter = 0;  // the file's size afterwards
    int error = 0;                // kFailed: the system's error number
};

// Mends the file at path, which is appended to with lines ending in CR LF. A trailing part that
// ends in CR is a whole record whose LF is missing: it gets its LF. Anything else after the last
// LF (a torn record, NULs) is cut off. A missing file needs nothing. Reads the tail backwards
// in blocks, so memory does not grow with the damage.
TailRepair RepairTelemetryTail(const std::string& path);

// True unless the file's last byte (one byte read) shows a line not ended with LF: a record
// appended there would be glued onto it. A missing, empty or unreadable file counts as whole.
bool TelemetryFileEndsWhole(const std::string& path);

// What was done, for the user: "" for kWhole.
std::string TailRepairText(const std::string& path, const TailRepair& repair);

}  // namespace corvane3
