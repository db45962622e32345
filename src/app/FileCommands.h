#pragma once
// corvane3 --summary and --export-csv: a telemetry file read with the program's own reader and
// written out as text, without any window. A spectrum file (".css", in any case) is read as a
// spectrum: its summary is its point count, detuning range and peak; its CSV has the columns
// "Detuning (Hz)" and "Signal (mV)". A spectrum file with a line that is no point is refused.

#include <cstdint>
#include <ostream>
#include <string>

namespace corvane3 {

// How a telemetry file is read: in pieces of about pieceBytes (0: a few MiB), parsed on threads
// threads (0: one per core) and put together in file order. The results do not depend on either;
// tests make the pieces small.
struct FileCommandOptions {
    std::uint64_t pieceBytes = 0;
    unsigned threads = 0;
};

// Prints the file's format, unit, record count, first and last time, the signal's decay over
// every record and a table of each channel's min, mean, max and sigma. A telemetry file is read
// in pieces on every core and only running results are kept, so memory does not grow with it.
// Returns the exit status: 0, or 1 when the reader refused the file or out could not be written
// (the reason went to err).
int RunSummary(const std::string& path, std::ostream& out, std::ostream& err,
               const FileCommandOptions& options = {});

// Writes the file's records as RFC 4180 CSV to outPath ("" for the file's name with the
// extension .csv, "-" for out), never over the input. A telemetry file is read in pieces on
// every core and written piece by piece in file order; standard output, a FIFO or a device gets
// nothing until the file has been read through once, so a damaged file writes nothing there. A regular file (or a missing path) is
// written through a temporary file renamed into place, which SetTemporaryFileToRemove names for
// the interrupt handlers; a character device or a FIFO is written to directly; anything else
// is refused before the file is read. Returns 0, or 1 when the file was refused, was cut
// shorter while it was read, or the CSV could not be written (the reason went to err).
int RunExportCsv(const std::string& path, const std::string& outPath, std::ostream& out,
                 std::ostream& err, const FileCommandOptions& options = {});

}  // namespace corvane3
