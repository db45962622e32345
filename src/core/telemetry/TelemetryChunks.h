#pragma once
// A .csd telemetry file (or one of the predecessor's format) read in pieces: its layout from the
// first lines, its data split into byte ranges that start at line starts, and each range's
// records parsed into per-channel values with the reading rules of ReadDataFile (header
// detection, the predecessor's format, blank lines and a torn last line left out, missing fields
// absent, NUL runs and over-long lines skipped, LF, CR LF and CR line ends). The pieces can be
// parsed on any threads at once and their results put together in file order, so a file of any
// size is read in memory that does not grow with it.
//
//   CTelemetryFile file;
//   if (file.Open(path, {}, reason) == ETelemetryOpen::kOpened && file.Layout().HasData())
//       for (TelemetryByteRange range : file.SplitIntoPieces(kPieceBytes))
//           file.ForEachRecord(range, [&](const TelemetryLine& line) {
//               TelemetryRecordValues values;
//               ParseTelemetryRecord(line, file.Layout().map, values);  // false: field too long
//               return true;
//           });

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/link/UnitState.h"
#include "core/plot/PlotData.h"

namespace corvane3 {

// Column map codes; 0 and above are channel numbers.
inline constexpr int kColumnSkipped = -1;
inline constexpr int kColumnTime = -2;
inline constexpr int kColumnSerial = -3;
inline constexpr int kColumnModel = -4;
inline constexpr int kColumnFactory = -5;

// Bytes after a line's end that can be read, whatever they hold: a field is looked at this many
// bytes at a time from its start.
inline constexpr std::size_t kTelemetryLineReadAhead = 32;

// One line of the file without its line end (and without anything up to its last NUL byte).
// The byte at end can be read and is a line end ('\n' or '\r'), also after a last line without
// one: the parser stops its walks there without looking at end. The kTelemetryLineReadAhead
// bytes after that can be read too.
struct TelemetryLine {
    const char* begin;
    const char* end;
    const char* next;  // where the following line starts
    bool terminated;   // false for a last line without a line end
};

// The unit a file's records belong to.
struct TelemetryIdentity {
    std::int32_t serial = 0;
    std::int32_t unitType = kModelBeforeIdentification;
    std::int32_t factory = 0;
};

// What the first lines of a file say about all its records.
struct TelemetryFileLayout {
    bool oldFormat = false;   // the predecessor's "Corvane2 Data File"
    char lineEnd = '\n';      // '\r' for a file with CR-only line ends
    std::uint64_t size = 0;   // the file is read up to here: its size when it was opened
    std::uint64_t dataBegin;  // offset of the first data line; size when there is none
    TelemetryIdentity identity;
    bool modelKnown = false;    // identity.unitType may become the program's model
    std::vector<int> map;       // one code per column; empty when there is no data line
    std::vector<int> channels;  // the channels the columns fill, in column order
    // The fields of a header the recorder writes (it then gives the map); 0 for any other
    // first line.
    std::size_t headerFields = 0;

    bool HasData() const { return dataBegin < size; }
};

// Bytes [begin, end) of the file; begin is a line start.
struct TelemetryByteRange {
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
};

// Record lines left out as damage: more fields than their file's header. That is what a recorder
// appending onto a line another program tore leaves: two records run together, the second's
// columns shifted. How many there were, and the file offset of the first.
struct TelemetryDamage {
    std::int64_t lines = 0;
    std::uint64_t firstOffset = 0;

    void Note(std::uint64_t offset) { firstOffset = lines++ == 0 ? offset : firstOffset; }
    // Adds what a later part of the file found.
    void Merge(const TelemetryDamage& later) {
        firstOffset = lines == 0 ? later.firstOffset : firstOffset;
        lines += later.lines;
    }
};

// The fields of a first line that is a header the recorder writes, 0 for any other line.
std::size_t TelemetryHeaderFields(std::string_view firstLine);

// True when a record line has more fields than headerFields (0: the header tells nothing, and
// no line has more).
bool HasMoreFieldsThanHeader(std::string_view line, std::size_t headerFields);

// What a reader says of damaged lines left out: "PATH, line N: more fields than the header
// (records run together); left out", with "and K more lines" after N when there were more.
std::string DamagedLinesText(const std::string& path, std::int64_t lines, std::uint64_t firstLine);

enum class ETelemetryOpen {
    kOpened,      // Layout() tells the rest (HasData() false: a header and no data line)
    kCannotOpen,  // missing, unreadable or no regular file (the reason given), or a read error
    kEmpty,       // a file of zero bytes
};

// An open telemetry file. Reads with pread only, so any number of threads may read ranges of
// it at once; the file is closed when the object goes.
class CTelemetryFile {
  public:
    CTelemetryFile() = default;
    ~CTelemetryFile();
    CTelemetryFile(const CTelemetryFile&) = delete;
    CTelemetryFile& operator=(const CTelemetryFile&) = delete;

    // Opens a regular file and reads its header and first data lines. The first record whose
    // model is known and whose fields fill its map gives the identity; fields no record gives
    // keep those of defaults. reason says why a file could not be opened or read.
    ETelemetryOpen Open(const std::string& path, const TelemetryIdentity& defaults,
                        std::string& reason);

    const TelemetryFileLayout& Layout() const { return layout_; }
    // Once cancel (when not null) is set, Open, the splits and ForEachRecord stop before their
    // next read, as at a file's end: a reader no longer wanted (the program ends) ends at once.
    // Set before Open to have it stop too.
    void SetCancel(const std::atomic<bool>* cancel) { cancel_ = cancel; }

    // The data lines split into count ranges at line starts, about equal in bytes (some may be
    // empty).
    std::vector<TelemetryByteRange> SplitAtLines(std::size_t count) const;
    // The data lines from offset from (a line start; the first data line when lower) split at
    // line starts into ranges of about pieceBytes each.
    std::vector<TelemetryByteRange> SplitIntoPieces(std::uint64_t pieceBytes,
                                                    std::uint64_t from = 0) const;

    // Calls visit for each record of range (a non-blank line; a last line without a line end
    // only when it has every field of the map) in file order, until visit returns false. A line
    // with more fields than the header is damage: it is no record, and damage, when given,
    // counts it. The
    // range is read window bytes at a time (a longer line widens it). What the file no longer
    // holds (it was cut shorter meanwhile) ends the range early: bytesRead, when given, says how
    // much was there, and stoppedAt, when given, the file offset of the line visit returned
    // false on. False on a read error (errno tells which).
    bool ForEachRecord(const TelemetryByteRange& range, std::size_t window,
                       const std::function<bool(const TelemetryLine&)>& visit,
                       std::uint64_t* bytesRead = nullptr, std::uint64_t* stoppedAt = nullptr,
                       TelemetryDamage* damage = nullptr) const;

    // The number of the line starting at offset: one more than the line ends before it; 0 when
    // the file cannot be read that far. For a message only: the file is read up to there.
    std::uint64_t LineNumberAt(std::uint64_t offset) const;

  private:
    int fd_ = -1;
    TelemetryFileLayout layout_;
    const std::atomic<bool>* cancel_ = nullptr;
};

// The values of one record line.
struct TelemetryRecordValues {
    double mjd = 0.0;
    // Indexed by channel number: NaN for a field the line does not have, 0.0 for a channel the
    // map does not fill, Signal and Flop/Background derived (a zero background taken as 0.1).
    std::array<double, kPlotChannelSlots> channels{};
};

// Fields longer than this are no field of a record: the line is refused.
inline constexpr std::size_t kMaxTelemetryFieldCharacters = 31;

// Parses a record line (as CTelemetryFile::ForEachRecord gives it) with the file's column map.
// False (values partly set) when one of the map's fields is longer than
// kMaxTelemetryFieldCharacters.
bool ParseTelemetryRecord(const TelemetryLine& line, const std::vector<int>& map,
                          TelemetryRecordValues& values);

// The channels Signal and Flop/Background are derived from: CLevel, DCLevel, DACGain, NumGain.
inline constexpr std::array<int, 4> kSignalInputChannels{4, 12, 13, 14};

// Signal and Flop/Background from their inputs in values, as ParseTelemetryRecord sets them.
void DeriveRecordSignalChannels(TelemetryRecordValues& values);

// The value of the field at begin of a record line ending at lineEnd, as ParseTelemetryRecord
// gives it.
double ParseTelemetryField(const char* begin, const char* lineEnd);

// The number at the start of [begin, limit), as decimal text-to-double converts it: leading
// blanks and a sign allowed, the longest number taken, 0.0 when there is none. stop is set to
// where the number's text ended.
double ParseTelemetryNumber(const char* begin, const char* limit, const char*& stop);

}  // namespace corvane3
