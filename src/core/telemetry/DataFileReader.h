#pragma once
// Loads a .csd telemetry file, or a file of the predecessor format ("Corvane2 Data File"),
// into a plot channel store.
//
// The file is read up to the size it has when opened (lines appended meanwhile are left for the
// next load), in windows, and parsed on several threads, each taking whole lines. Every non-blank
// data line is a point; a last line without a line end that has fewer fields than the column
// map (a record cut short) is ignored; missing fields of a short line are absent values (NaN);
// a line with more fields than the header is damage, left out and said.
// Lines end in LF, CR LF or CR alike. What a power cut leaves is damage that is skipped: a line
// is read from after its last NUL byte (a line of NULs is blank), and a line longer than any
// record could be (64 KiB) is no record and is never held in memory. Only regular files are
// read: a FIFO or a device is refused without being opened. On any failure the store is left as
// it was.
//
// Runs on the caller's thread, which it blocks until the file is read; the callbacks are called
// on that thread.
//
//   DataFileReadResult result = ReadDataFile(store, path, {.instrumentModel =
//   &unit.InstrumentModel}); if (result.HasMessage()) ShowMessage(result.message, result.title);

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/plot/PlotData.h"
#include "core/telemetry/TelemetryChunks.h"

namespace corvane3 {

enum class EDataFileRead {
    kRead,          // the store holds the file
    kCannotOpen,    // "Cannot Open File:\n%s", "Read Error"
    kEmpty,         // "Empty file:  %s", "Read Error"
    kNoRecords,     // a header and no data line: no message
    kFieldTooLong,  // a field of 32 characters or more: "File Read Error", empty title
};

struct DataFileReadResult {
    EDataFileRead status = EDataFileRead::kRead;
    std::string message;  // empty when there is nothing to show
    std::string title;
    // kCannotOpen: why, when the system or the file's type says ("not a regular file").
    std::string reason;
    // "Filename:\t...NumPoints = N", as the progress window shows it; empty when the file gave
    // no data line.
    std::string progressText;
    // Known once the first line was read: the predecessor's format ("Corvane2 Data File").
    bool oldFormat = false;
    // The channels the file's columns fill, in column order; known once a data line was read.
    std::vector<int> channels;
    // Records counted but gone when they were to be parsed (the file was cut shorter while it
    // was read); they are absent values in the store.
    std::int64_t vanishedRecords = 0;
    // Lines left out as damage (more fields than the header) and the number of the first; the
    // file is read without them, and the message says them.
    std::int64_t damagedLines = 0;
    std::uint64_t firstDamagedLine = 0;

    // 0 when the file was read, -1 otherwise.
    int Code() const { return status == EDataFileRead::kRead ? 0 : -1; }
    bool HasMessage() const { return !message.empty(); }
};

struct DataFileReadOptions {
    // Set to the model code of a current-format file's first record, when that is a known
    // model; nullptr leaves the program's model alone.
    std::atomic<std::int32_t>* instrumentModel = nullptr;
    // Called once the records are counted, with the progress text and the record count.
    std::function<void(const std::string& text, std::int64_t total)> started;
    // Called now and then while parsing, and once at the end with done == total.
    std::function<void(std::int64_t done, std::int64_t total)> progress;
    // Parsing threads; 0 chooses by the file's size and the machine.
    int threads = 0;
    // Bytes each thread reads at a time; 0 chooses. Tests make it small.
    std::size_t readWindow = 0;
    // Set, the read stops soon: the store is left as it was, the status is kNoRecords and
    // nothing is said.
    const std::atomic<bool>* cancel = nullptr;
};

DataFileReadResult ReadDataFile(CPlotData& store, const std::string& path,
                                const DataFileReadOptions& options = {});

// Opens path for reading into result: the texts of a file that cannot be opened or is empty go
// to result, and false is returned; otherwise result says the old format and kNoRecords (until
// records are read).
bool OpenDataFile(CTelemetryFile& file, const std::string& path, const TelemetryIdentity& defaults,
                  DataFileReadResult& result);
// Sets result to kCannotOpen with its message and title.
void SetCannotOpen(const std::string& path, DataFileReadResult& result);
// Puts the damaged lines left out of a read of file into result and its message.
void NoteDamagedLines(const CTelemetryFile& file, const std::string& path,
                      const TelemetryDamage& damage, DataFileReadResult& result);

// The progress window's text for a file of records records.
std::string DataFileProgressText(const std::string& path, bool oldFormat,
                                 const TelemetryIdentity& identity, std::int64_t records);

// The model text of the progress window's unit line: "ChronoBeam", "7730B", "Tq9000", or
// "VelaX" for any other code.
const char* DataFileModelText(std::int32_t unitType);

// A field as decimal text-to-double converts it: leading blanks and a sign allowed, the longest
// number at the start taken, 0.0 when there is none.
double FieldToDouble(const char* begin, const char* end);

}  // namespace corvane3
