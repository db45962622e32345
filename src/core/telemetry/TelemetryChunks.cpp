#include "core/telemetry/TelemetryChunks.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/CLocale.h"
#include "core/base/RegularFile.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace corvane3 {

namespace {

constexpr int kSkipped = kColumnSkipped;
constexpr int kTime = kColumnTime;
constexpr int kSerial = kColumnSerial;
constexpr int kModel = kColumnModel;
constexpr int kFactory = kColumnFactory;

// A field of this many characters is accepted; one more is a read error (the fixed field
// buffer files were always written for).
constexpr std::size_t kMaxFieldCharacters = kMaxTelemetryFieldCharacters;
// The old format's first line has this word at characters 6 to 10.
constexpr char kOldFormatMark[] = "Month";
constexpr std::size_t kOldFormatMarkOffset = 5;
// A record is under 2 KB; a line longer than this is damage (a file system's NUL run, a file
// that is no telemetry) and is skipped without being held in memory.
constexpr std::size_t kMaxLineBytes = std::size_t{64} << 10;
// The read buffer has room after the bytes read: a line end is put there, so that every line is
// followed by one, and the bytes after it may be read (see TelemetryLine).
constexpr std::size_t kLineEndRoom = 1 + kTelemetryLineReadAhead;
// How far into the file the line end is looked for, and how many data lines are looked at for
// one that identifies the unit.
constexpr std::size_t kLineEndProbeBytes = kMaxLineBytes;
constexpr int kIdentityLines = 1000;

using ColumnMap = std::vector<int>;

ColumnMap BaseMap() {
    ColumnMap map{kTime, kSerial, kModel, kFactory};
    map.insert(map.end(), 6, kSkipped);  // State, Alarm1 to Alarm5
    for (int channel = 1; channel <= 16; ++channel) {
        map.push_back(channel);  // StdDev to VCsOven
    }
    map.push_back(kSkipped);                      // OSCState
    map.insert(map.end(), {17, 18, 19, 20});      // VEM, IIP, VMS, VION
    map.push_back(kSkipped);                      // OCXOTau
    map.insert(map.end(), {25, 21, 22, 23, 24});  // FreqTune, Pos21V, Pos5V, Pos15V, Neg15V
    map.push_back(kSkipped);                      // Version
    return map;
}

ColumnMap CurrentMap(std::int32_t unitType, std::int32_t factory) {
    ColumnMap map = BaseMap();
    if (unitType == kModelTq9000) {
        map.insert(map.end(), {32, 33, 34, 35, 36, kSkipped});  // supply board, Source
    }
    if (factory != 0) {
        map.insert(map.end(), {kSkipped, kSkipped, kSkipped});  // nominal values
        map.insert(map.end(), {26, 27, 28, 29});                // outlier counts
    }
    return map;
}

ColumnMap OldMap() {
    ColumnMap map{kTime};
    map.insert(map.end(), 6, kSkipped);
    map.push_back(kSerial);
    map.insert(map.end(), 7, kSkipped);
    for (int channel = 1; channel <= 16; ++channel) {
        map.push_back(channel);
    }
    map.push_back(kSkipped);
    map.insert(map.end(), {17, 18, 19, 20});
    map.insert(map.end(), 6, kSkipped);
    map.insert(map.end(), {21, 22, 23, 24});
    map.push_back(kSkipped);
    map.insert(map.end(), {26, 27, 28, 29});
    return map;
}

using Line = TelemetryLine;

// lineEnd is '\n' for LF and CR LF files, '\r' for files with CR-only line ends. Everything up
// to a line's last NUL byte is dropped: NULs are what a file system leaves of blocks a power cut
// kept it from writing, and a record appended after them is whole.
Line MakeLine(const char* begin, const char* found, const char* limit, char lineEnd) {
    Line line{begin, found ? found : limit, found ? found + 1 : limit, found != nullptr};
    if (lineEnd == '\n' && line.end > line.begin && line.end[-1] == '\r') {
        --line.end;
    }
    if (lineEnd == '\r' && line.begin < line.end && *line.begin == '\n') {
        ++line.begin;  // a CR LF line among CR ones
    }
    if (const void* nul =
            ::memrchr(line.begin, '\0', static_cast<std::size_t>(line.end - line.begin))) {
        line.begin = static_cast<const char*>(nul) + 1;
    }
    return line;
}

// An empty line where a line too long to be a record ended: it is no record, and callers that
// look for line starts still find the next one right after it.
Line SkippedLine(const char* next) {
    return Line{next, next, next, true};
}

bool IsBlank(const Line& line) {
    return std::all_of(line.begin, line.end,
                       [](char c) { return c == ' ' || c == '\t' || c == '\r'; });
}

std::size_t FieldCount(const Line& line) {
    return 1 + static_cast<std::size_t>(std::count(line.begin, line.end, ','));
}

// A record is a non-blank line; an unterminated last line must have all its fields.
bool IsRecord(const Line& line, std::size_t mapColumns) {
    return !IsBlank(line) && (line.terminated || FieldCount(line) >= mapColumns);
}

// Reads bytes [begin, end) of fd a window at a time (a large file is never held whole: a fresh
// buffer of its size costs more in page faults than parsing it) and calls
// visit(line, fileOffsetOfLineBegin) for each line until visit returns false. A line longer than
// the window grows the window; one longer than kMaxLineBytes is visited as an empty line at its
// end, and its bytes are never held; only the part after a line's last NUL counts, so a record
// after a long NUL run is still a record. The part of the range beyond the file's current end is
// not there: a file cut shorter meanwhile ends early, and readTo, when given, says where reading
// stopped. A cancel flag, when given and set, ends it early too, before the next window. False on
// a read error.
template <typename F>
bool ForEachLine(int fd, std::uint64_t begin, std::uint64_t end, std::size_t window, char lineEnd,
                 F&& visit, std::uint64_t* readTo = nullptr,
                 const std::atomic<bool>* cancel = nullptr) {
    std::size_t capacity = static_cast<std::size_t>(std::min<std::uint64_t>(window, end - begin));
    capacity = std::max<std::size_t>(capacity, 1);
    auto buffer = std::make_unique_for_overwrite<char[]>(capacity + kLineEndRoom);
    std::size_t held = 0;          // bytes of an unfinished line at the buffer's start
    std::uint64_t offset = begin;  // file offset of the byte after the held ones
    bool skipping = false;         // inside a line too long to keep; its bytes are dropped
    const auto stoppedAt = [&] {
        if (readTo != nullptr) {
            *readTo = offset;
        }
        return true;
    };
    for (;;) {
        if (cancel != nullptr && cancel->load(std::memory_order_relaxed)) {
            return stoppedAt();
        }
        if (held == capacity) {
            if (capacity > kMaxLineBytes) {
                // The held line counts only from after its last NUL: what comes before is
                // dropped now, and skipped if even the rest is too long for a record.
                const auto* nul = static_cast<const char*>(::memrchr(buffer.get(), '\0', held));
                const std::size_t rest =
                    nul == nullptr ? held : held - static_cast<std::size_t>(nul + 1 - buffer.get());
                skipping = rest > kMaxLineBytes;
                held = skipping ? 0 : rest;
                std::memmove(buffer.get(), buffer.get() + (capacity - held), held);
            } else {
                auto wider = std::make_unique_for_overwrite<char[]>(2 * capacity + kLineEndRoom);
                std::memcpy(wider.get(), buffer.get(), held);
                buffer = std::move(wider);
                capacity *= 2;
            }
        }
        const auto want =
            static_cast<std::size_t>(std::min<std::uint64_t>(capacity - held, end - offset));
        ssize_t got = 0;
        if (want > 0) {
            do {
                got = ::pread(fd, buffer.get() + held, want, static_cast<off_t>(offset));
            } while (got < 0 && errno == EINTR);
        }
        if (got < 0) {
            if (readTo != nullptr) {
                *readTo = offset;
            }
            return false;
        }
        offset += static_cast<std::uint64_t>(got);
        held += static_cast<std::size_t>(got);
        buffer[held] = lineEnd;
        const bool last = got == 0 || offset >= end;
        const char* p = buffer.get();
        const char* const limit = p + held;
        const auto offsetOf = [&](const char* at) {
            return offset - static_cast<std::uint64_t>(limit - at);
        };
        if (skipping) {
            const auto* found =
                static_cast<const char*>(std::memchr(p, lineEnd, static_cast<std::size_t>(held)));
            const char* const searched = found != nullptr ? found : limit;
            const auto* nul = static_cast<const char*>(
                ::memrchr(p, '\0', static_cast<std::size_t>(searched - p)));
            if (nul != nullptr &&
                searched - (nul + 1) <= static_cast<std::ptrdiff_t>(kMaxLineBytes)) {
                // A NUL run ends the damage: what follows it is a line of its own.
                skipping = false;
                p = nul + 1;
            } else if (found == nullptr) {
                if (last) {
                    return stoppedAt();
                }
                held = 0;
                continue;
            } else {
                skipping = false;
                p = found + 1;
                if (!visit(SkippedLine(p), offsetOf(p))) {
                    return stoppedAt();
                }
            }
        }
        while (p < limit) {
            const auto* found = static_cast<const char*>(
                std::memchr(p, lineEnd, static_cast<std::size_t>(limit - p)));
            if (found == nullptr && !last) {
                break;
            }
            Line line = MakeLine(p, found, limit, lineEnd);
            if (line.next - line.begin > static_cast<std::ptrdiff_t>(kMaxLineBytes)) {
                line = SkippedLine(line.next);
            }
            if (!visit(line, offsetOf(line.begin))) {
                return stoppedAt();
            }
            p = line.next;
        }
        if (last) {
            return stoppedAt();
        }
        held = static_cast<std::size_t>(limit - p);
        std::memmove(buffer.get(), p, held);
    }
}

// Visits the records of [begin, end): the non-blank lines, a torn last line left out.
template <typename F>
bool ForEachRecord(int fd, std::uint64_t begin, std::uint64_t end, std::size_t window, char lineEnd,
                   std::size_t mapColumns, F&& visit) {
    return ForEachLine(fd, begin, end, window, lineEnd, [&](const Line& line, std::uint64_t) {
        return !IsRecord(line, mapColumns) || visit(line);
    });
}

// The number at the start of the field that starts at begin, as FieldToDouble converts it; the
// field ends at the first comma before limit. stop is set to where the number's text ended, at
// or before the field's end.
// Plain decimal text ("2000", "35.125") of at most this many significant digits fits a double's
// mantissa exactly; with a power of ten up to 10^22 (also exact) one correctly rounded division
// gives the same double as any exact conversion. Most telemetry fields are such text.
constexpr int kExactDigits = 15;
constexpr int kExactPowers = 22;

// 10^0 to 10^kExactPowers, each exact in a double.
constexpr std::array<double, kExactPowers + 1> kPowersOfTen = [] {
    std::array<double, kExactPowers + 1> powers{};
    double power = 1.0;
    for (double& entry : powers) {
        entry = power;
        power *= 10.0;
    }
    return powers;
}();

// The fast conversion of decimal text at begin; false (nothing set) when it does not apply:
// more digits, an exponent, or no digit at all.
bool ConvertPlainDecimal(const char* begin, const char* limit, double& value, const char*& stop) {
    std::uint64_t mantissa = 0;
    int significant = 0;
    int fraction = 0;
    bool anyDigit = false;
    bool point = false;
    const char* p = begin;
    for (; p < limit; ++p) {
        if (*p == '.' && !point) {
            point = true;
            continue;
        }
        if (*p < '0' || *p > '9') {
            break;
        }
        anyDigit = true;
        if (mantissa != 0 || *p != '0') {
            if (++significant > kExactDigits) {
                return false;
            }
        }
        mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p - '0');
        fraction += point ? 1 : 0;
    }
    if (!anyDigit || fraction > kExactPowers || (p < limit && (*p == 'e' || *p == 'E'))) {
        return false;
    }
    value = static_cast<double>(mantissa) / kPowersOfTen[static_cast<std::size_t>(fraction)];
    stop = p;
    return true;
}

// Decimal digits an unsigned 64-bit mantissa always holds, and the first mantissa with more
// than kExactDigits significant digits.
constexpr long kMaxWholeDigits = 19;
constexpr std::uint64_t kExactMantissaBound = 1'000'000'000'000'000;  // 10^kExactDigits
static_assert(kExactDigits == 15);

// The common field in one walk: blanks, an optional minus and plain decimal digits with at most
// one point, up to the comma (or limit). Gives what ParseTelemetryNumber gives for it, with
// fieldEnd at the comma; false (nothing set) for any other field, which takes the general way.
// Inlined: it runs for most fields of every record.
[[gnu::always_inline]] inline bool ParsePlainField(const char* p, const char* limit, double& value,
                                                   const char*& fieldEnd) {
    // *limit is the line end (see TelemetryLine): no blank, sign, digit or point, so the walk
    // stops there without comparing each byte's place with limit.
    while (*p == ' ') {
        ++p;
    }
    const bool negative = *p == '-';
    p += negative ? 1 : 0;
    const char* const digitsBegin = p;
    std::uint64_t mantissa = 0;
    unsigned digit = 0;
    // The whole digits, then the point and the fraction's: no per-digit test for the point.
    while ((digit = static_cast<unsigned>(static_cast<unsigned char>(*p) - '0')) < 10) {
        mantissa = mantissa * 10 + digit;
        ++p;
    }
    std::ptrdiff_t fraction = 0;
    const bool point = *p == '.';
    if (point) {
        const char* const fractionBegin = ++p;
        while ((digit = static_cast<unsigned>(static_cast<unsigned char>(*p) - '0')) < 10) {
            mantissa = mantissa * 10 + digit;
            ++p;
        }
        fraction = p - fractionBegin;
    }
    const auto digits = (p - digitsBegin) - (point ? 1 : 0);
    // Up to kExactDigits digits the mantissa is exact and the power of ten in the table; up to
    // kMaxWholeDigits it cannot wrap, and then has as many decimal digits as the text has
    // significant ones.
    if ((p < limit && *p != ',') || digits == 0 ||
        (digits > kExactDigits && (digits > kMaxWholeDigits || mantissa >= kExactMantissaBound ||
                                   fraction > kExactPowers))) {
        return false;
    }
    // Below kExactMantissaBound here: converted as a signed number, which takes one instruction.
    value = static_cast<double>(static_cast<std::int64_t>(mantissa)) /
            kPowersOfTen[static_cast<std::size_t>(fraction)];
    value = negative ? -value : value;
    fieldEnd = p;
    return true;
}

}  // namespace

double ParseTelemetryNumber(const char* begin, const char* limit, const char*& stop) {
    stop = begin;
    // The white space strtod skips, as a plain test: isspace is a library call per character.
    while (begin < limit && (*begin == ' ' || (*begin >= '\t' && *begin <= '\r'))) {
        ++begin;
    }
    bool negative = false;
    if (begin < limit && (*begin == '+' || *begin == '-')) {
        negative = *begin == '-';
        ++begin;
    }
    if (begin == limit || *begin == '+' || *begin == '-' || *begin == ',') {
        return 0.0;
    }
    auto format = std::chars_format::general;
    if (limit - begin > 2 && begin[0] == '0' && (begin[1] == 'x' || begin[1] == 'X') &&
        begin[2] != ',') {
        format = std::chars_format::hex;
        begin += 2;
    }
    double value = 0.0;
    if (format == std::chars_format::general && ConvertPlainDecimal(begin, limit, value, stop)) {
        return negative ? -value : value;
    }
    const std::from_chars_result result = std::from_chars(begin, limit, value, format);
    if (result.ec == std::errc::result_out_of_range) {
        // Overflow and underflow as strtod rounds them; fields are short.
        const char* fieldEnd = std::find(begin, limit, ',');
        const std::string text(begin - (format == std::chars_format::hex ? 2 : 0), fieldEnd);
        const CScopedCLocale numbers;
        value = std::strtod(text.c_str(), nullptr);
    } else if (result.ec != std::errc()) {
        return 0.0;  // no number: unsigned zero, as strtod gives
    } else {
        stop = result.ptr;
    }
    return negative ? -value : value;
}

namespace {

// The first line start at or after offset in [lower, end); end once cancel is set.
std::uint64_t LineStartFrom(int fd, std::uint64_t offset, std::uint64_t lower, std::uint64_t end,
                            std::size_t window, char lineEnd, const std::atomic<bool>* cancel) {
    if (offset <= lower || offset >= end) {
        return std::clamp(offset, lower, end);
    }
    // The line holding the byte before offset ends where the next one starts.
    std::uint64_t next = end;
    ForEachLine(
        fd, offset - 1, end, window, lineEnd,
        [&](const Line& line, std::uint64_t at) {
            next = at + static_cast<std::uint64_t>(line.next - line.begin);
            return false;
        },
        nullptr, cancel);
    return next;
}

// Splits [begin, end) of the file into count ranges that start at line starts.
std::vector<TelemetryByteRange> SplitAtLines(int fd, std::uint64_t begin, std::uint64_t end,
                                             std::size_t count, char lineEnd,
                                             const std::atomic<bool>* cancel) {
    constexpr std::size_t kCutWindow = 4096;
    std::vector<TelemetryByteRange> ranges;
    std::uint64_t start = begin;
    for (std::size_t i = 1; i <= count; ++i) {
        const std::uint64_t cut =
            i == count ? end
                       : LineStartFrom(fd, std::max(start, begin + (end - begin) * i / count),
                                       begin, end, kCutWindow, lineEnd, cancel);
        ranges.push_back(TelemetryByteRange{.begin = start, .end = cut});
        start = cut;
    }
    return ranges;
}

struct FileIdentity {
    std::int32_t serial;
    std::int32_t unitType;
    std::int32_t factory;
    ColumnMap map;
};

// The map a current-format header names: its columns say whether the supply board's and the
// nominal and counter columns are there. None when the line is no such header.
std::optional<ColumnMap> HeaderMap(const Line& header) {
    const std::string_view text(header.begin, static_cast<std::size_t>(header.end - header.begin));
    if (!text.starts_with("MJD,")) {
        return std::nullopt;
    }
    const bool supplyBoard = text.find("System24") != std::string_view::npos;
    const bool nominal = text.find("NOMVMS") != std::string_view::npos;
    ColumnMap map =
        CurrentMap(supplyBoard ? kModelTq9000 : kModelBeforeIdentification, nominal ? 1 : 0);
    if (FieldCount(header) != map.size()) {
        return std::nullopt;
    }
    return map;
}

// The ID, UnitType and Factory fields of a current-format record, as whole numbers after the
// MJD. Returns how many of the four leading fields scanned, as a scan of "%g,%ld,%d,%d" counts
// them; the fields that did not are left alone.
int ScanUnitFields(const Line& line, std::int32_t& serial, std::int32_t& unitType,
                   std::int32_t& factory) {
    std::int32_t* const targets[] = {nullptr, &serial, &unitType, &factory};
    const char* p = line.begin;
    int scanned = 0;
    for (std::int32_t* target : targets) {
        const char* fieldEnd = std::find(p, line.end, ',');
        while (p < fieldEnd && std::isspace(static_cast<unsigned char>(*p))) {
            ++p;
        }
        if (target == nullptr) {
            const char* stop = p;
            ParseTelemetryNumber(p, fieldEnd, stop);
            if (stop == p) {
                return scanned;
            }
        } else {
            long value = 0;
            const char* digits = p < fieldEnd && *p == '+' ? p + 1 : p;
            const auto [stop, error] = std::from_chars(digits, fieldEnd, value);
            if (error != std::errc() ||
                std::any_of(stop, fieldEnd, [](char c) { return c != ' ' && c != '\t'; })) {
                return scanned;
            }
            if (value < std::numeric_limits<std::int32_t>::min() ||
                value > std::numeric_limits<std::int32_t>::max()) {
                return scanned;  // an overflowing field is no unit's
            }
            *target = static_cast<std::int32_t>(value);
        }
        ++scanned;
        if (fieldEnd == line.end) {
            return scanned;
        }
        p = fieldEnd + 1;
    }
    return scanned;
}

// Finds the unit and the column map of a current-format file. The map is the header's when the
// header is one the recorder writes; the unit is that of the first record whose model code is
// known and whose fields fill that map (without such a header, the map its own model and
// factory flag call for). A damaged first record (a NUL, an overflowing field) thus decides
// nothing. Without any such record the first record is taken as it is; fields it does not give
// keep the store's values.
class CIdentitySearch {
  public:
    CIdentitySearch(const TelemetryIdentity& defaults, std::optional<ColumnMap> headerMap)
        : identity_{defaults.serial, defaults.unitType, defaults.factory, {}},
          headerMap_(std::move(headerMap)) {}

    // Looks at one more data line; false once the search is over.
    bool Look(const Line& line) {
        FileIdentity candidate = identity_;
        const int scanned =
            ScanUnitFields(line, candidate.serial, candidate.unitType, candidate.factory);
        const bool fits =
            scanned >= 3 && IsKnownModel(candidate.unitType) &&
            FieldCount(line) ==
                (headerMap_
                     ? headerMap_->size()
                     : CurrentMap(candidate.unitType, scanned >= 4 ? candidate.factory : 0).size());
        if (fits || !first_) {
            first_ = candidate;
            firstScanned_ = scanned;
        }
        if (fits) {
            found_ = true;
        }
        return !found_ && ++looked_ < kIdentityLines;
    }

    // The result, and whether the program's model may be set from it.
    FileIdentity Result(bool& modelKnown) const {
        FileIdentity identity = first_.value_or(identity_);
        modelKnown = (found_ || firstScanned_ >= 3) && IsKnownModel(identity.unitType);
        identity.map = headerMap_ ? *headerMap_ : CurrentMap(identity.unitType, identity.factory);
        return identity;
    }

  private:
    FileIdentity identity_;
    std::optional<ColumnMap> headerMap_;
    std::optional<FileIdentity> first_;
    int firstScanned_ = 0;
    int looked_ = 0;
    bool found_ = false;
};

// The unit of an old-format file's first record; only its serial number is kept.
FileIdentity IdentifyOldFile(const std::string& line, const TelemetryIdentity& defaults) {
    FileIdentity identity{defaults.serial, kModelBeforeIdentification, defaults.factory, OldMap()};
    const CScopedCLocale numbers;  // the MJD has a decimal point
    double mjd = 0;
    long serial = 0;
    int ignored[6];
    if (std::sscanf(line.c_str(), "%lg,%d,%d,%d,%d,%d,%d,%ld", &mjd, &ignored[0], &ignored[1],
                    &ignored[2], &ignored[3], &ignored[4], &ignored[5], &serial) == 8) {
        identity.serial = static_cast<std::int32_t>(serial);
    }
    return identity;
}

// '\r' when the file's first line ends in a lone carriage return (an old Mac's line ends), else
// '\n' (LF, or CR LF: the CR is dropped with the line).
char DetectLineEnd(int fd, std::uint64_t size) {
    std::string probe(static_cast<std::size_t>(std::min<std::uint64_t>(size, kLineEndProbeBytes)),
                      '\0');
    ssize_t got;
    do {
        got = ::pread(fd, probe.data(), probe.size(), 0);
    } while (got < 0 && errno == EINTR);
    probe.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    const std::size_t at = probe.find_first_of("\r\n");
    const bool loneCr = at != std::string::npos && probe[at] == '\r' &&
                        (at + 1 < probe.size() ? probe[at + 1] != '\n' : at + 1 == size);
    return loneCr ? '\r' : '\n';
}

std::vector<int> ChannelsOf(const ColumnMap& map) {
    std::vector<int> channels;
    std::copy_if(map.begin(), map.end(), std::back_inserter(channels),
                 [](int code) { return code >= 0; });
    return channels;
}

}  // namespace

CTelemetryFile::~CTelemetryFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

ETelemetryOpen CTelemetryFile::Open(const std::string& path, const TelemetryIdentity& defaults,
                                    std::string& reason) {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    layout_ = TelemetryFileLayout{};
    fd_ = OpenRegularFile(path, reason);
    struct stat info {};
    if (fd_ < 0 || ::fstat(fd_, &info) != 0) {
        return ETelemetryOpen::kCannotOpen;
    }
    // Lines appended while the file is read are left for the next reading.
    const auto size = static_cast<std::uint64_t>(info.st_size);
    layout_.size = size;
    layout_.dataBegin = size;
    layout_.identity = defaults;
    if (size == 0) {
        return ETelemetryOpen::kEmpty;
    }
    const char lineEnd = DetectLineEnd(fd_, size);
    layout_.lineEnd = lineEnd;

    // The header tells the format and, for a current-format file, its columns; the data lines
    // after it tell the unit.
    bool oldFormat = false;
    bool headerSeen = false;
    std::size_t headerFields = 0;
    std::string firstLine;
    std::optional<CIdentitySearch> search;
    std::uint64_t dataBegin = size;
    constexpr std::size_t kHeaderWindow = 4096;  // grows for a long line
    const bool read = ForEachLine(
        fd_, 0, size, kHeaderWindow, lineEnd,
        [&](const Line& line, std::uint64_t at) {
            if (!headerSeen) {
                headerSeen = true;
                oldFormat = static_cast<std::size_t>(line.end - line.begin) >=
                                kOldFormatMarkOffset + std::strlen(kOldFormatMark) &&
                            std::memcmp(line.begin + kOldFormatMarkOffset, kOldFormatMark,
                                        std::strlen(kOldFormatMark)) == 0;
                if (!oldFormat) {
                    std::optional<ColumnMap> map = HeaderMap(line);
                    headerFields = map ? map->size() : 0;
                    search.emplace(defaults, std::move(map));
                }
                return true;
            }
            if (IsBlank(line)) {
                return true;
            }
            if (dataBegin == size) {
                firstLine.assign(line.begin, line.end);
                dataBegin = at;
            }
            return search && search->Look(line);
        },
        nullptr, cancel_);
    if (!read) {
        return ETelemetryOpen::kCannotOpen;
    }
    layout_.oldFormat = oldFormat;
    if (dataBegin == size) {
        return ETelemetryOpen::kOpened;
    }
    layout_.dataBegin = dataBegin;
    const FileIdentity identity =
        oldFormat ? IdentifyOldFile(firstLine, defaults) : search->Result(layout_.modelKnown);
    layout_.identity = {identity.serial, identity.unitType, identity.factory};
    layout_.map = identity.map;
    layout_.channels = ChannelsOf(identity.map);
    layout_.headerFields = headerFields;
    return ETelemetryOpen::kOpened;
}

std::vector<TelemetryByteRange> CTelemetryFile::SplitAtLines(std::size_t count) const {
    return corvane3::SplitAtLines(fd_, layout_.dataBegin, layout_.size,
                                  std::max<std::size_t>(count, 1), layout_.lineEnd, cancel_);
}

std::vector<TelemetryByteRange> CTelemetryFile::SplitIntoPieces(std::uint64_t pieceBytes,
                                                                std::uint64_t from) const {
    from = std::clamp(from, layout_.dataBegin, layout_.size);
    const std::uint64_t bytes = layout_.size - from;
    const std::uint64_t count = std::max<std::uint64_t>(
        1, (bytes + pieceBytes - 1) / std::max<std::uint64_t>(pieceBytes, 1));
    return corvane3::SplitAtLines(fd_, from, layout_.size, static_cast<std::size_t>(count),
                                  layout_.lineEnd, cancel_);
}

bool CTelemetryFile::ForEachRecord(const TelemetryByteRange& range, std::size_t window,
                                   const std::function<bool(const TelemetryLine&)>& visit,
                                   std::uint64_t* bytesRead, std::uint64_t* stoppedAt,
                                   TelemetryDamage* damage) const {
    const std::size_t columns = layout_.map.size();
    std::uint64_t reached = range.begin;
    const bool read = ForEachLine(
        fd_, range.begin, range.end, window, layout_.lineEnd,
        [&](const Line& line, std::uint64_t offset) {
            if (!IsRecord(line, columns)) {
                return true;
            }
            if (HasMoreFieldsThanHeader(
                    {line.begin, static_cast<std::size_t>(line.end - line.begin)},
                    layout_.headerFields)) {
                if (damage != nullptr) {
                    damage->Note(offset);
                }
                return true;
            }
            if (visit(line)) {
                return true;
            }
            if (stoppedAt != nullptr) {
                *stoppedAt = offset;
            }
            return false;
        },
        &reached, cancel_);
    if (bytesRead != nullptr) {
        *bytesRead = reached - range.begin;
    }
    return read;
}

std::uint64_t CTelemetryFile::LineNumberAt(std::uint64_t offset) const {
    constexpr std::size_t kChunkBytes = std::size_t{1} << 16;
    std::vector<char> chunk(kChunkBytes);
    std::uint64_t lineEnds = 0;
    for (std::uint64_t at = 0; at < offset;) {
        const auto want =
            static_cast<std::size_t>(std::min<std::uint64_t>(offset - at, kChunkBytes));
        ssize_t got;
        do {
            got = ::pread(fd_, chunk.data(), want, static_cast<off_t>(at));
        } while (got < 0 && errno == EINTR);
        if (got <= 0) {
            return 0;
        }
        lineEnds += static_cast<std::uint64_t>(
            std::count(chunk.begin(), chunk.begin() + got, layout_.lineEnd));
        at += static_cast<std::uint64_t>(got);
    }
    return lineEnds + 1;
}

std::size_t TelemetryHeaderFields(std::string_view firstLine) {
    const Line line{firstLine.data(), firstLine.data() + firstLine.size(),
                    firstLine.data() + firstLine.size(), true};
    const std::optional<ColumnMap> map = HeaderMap(line);
    return map ? map->size() : 0;
}

bool HasMoreFieldsThanHeader(std::string_view line, std::size_t headerFields) {
    if (headerFields == 0) {
        return false;
    }
    // Every record line is looked at: its commas are counted 16 bytes at a time.
    const char* p = line.data();
    const char* const end = p + line.size();
    std::size_t commas = 0;
#if defined(__SSE2__)
    constexpr std::ptrdiff_t kStep = 16;
    for (; end - p >= kStep; p += kStep) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        commas += static_cast<std::size_t>(std::popcount(
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(','))))));
    }
#endif
    commas += static_cast<std::size_t>(std::count(p, end, ','));
    return commas >= headerFields;
}

std::string DamagedLinesText(const std::string& path, std::int64_t lines, std::uint64_t firstLine) {
    return path + ", line " + std::to_string(firstLine) +
           (lines == 2  ? std::string(" and 1 more line")
            : lines > 2 ? " and " + std::to_string(lines - 1) + " more lines"
                        : std::string()) +
           ": more fields than the header (records run together); left out";
}

namespace {

// The first comma from p on, or lineEnd when the line has none: 16 bytes looked at once, as
// fields are short and a walk byte by byte costs a wrongly guessed branch at its end. The bytes
// after lineEnd can be read (see TelemetryLine).
const char* CommaOrEnd(const char* p, const char* lineEnd) {
#if defined(__SSE2__)
    static_assert(kTelemetryLineReadAhead >= 16);
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const auto commas =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(','))));
    if (commas != 0) {
        return std::min(p + std::countr_zero(commas), lineEnd);
    }
    p = std::min(p + 16, lineEnd);
#endif
    while (p < lineEnd && *p != ',') {
        ++p;
    }
    return p;
}

}  // namespace

bool ParseTelemetryRecord(const TelemetryLine& line, const std::vector<int>& map,
                          TelemetryRecordValues& values) {
    values.channels.fill(0.0);  // channels the map does not feed
    const auto store = [&](int code, double value) {
        if (code >= 0) {
            values.channels[static_cast<std::size_t>(code)] = value;
        } else if (code == kTime) {
            values.mjd = value;
        }
    };
    const char* p = line.begin;
    const int* code = map.data();
    const int* const codesEnd = code + map.size();
    for (; code != codesEnd; ++code) {
        const bool wanted = *code >= 0 || *code == kTime;
        // A number ends before the comma, so it is converted first and the comma looked for
        // from where it ended: most fields are then walked once.
        const char* fieldEnd = p;
        double value = 0.0;
        if (!wanted || !ParsePlainField(p, line.end, value, fieldEnd)) {
            if (wanted) {
                value = ParseTelemetryNumber(p, line.end, fieldEnd);
            }
            fieldEnd = CommaOrEnd(fieldEnd, line.end);
        }
        if (static_cast<std::size_t>(fieldEnd - p) > kMaxFieldCharacters) {
            return false;
        }
        store(*code, value);
        if (fieldEnd == line.end) {
            ++code;
            break;
        }
        p = fieldEnd + 1;
    }
    // Fields the line does not have.
    for (; code != codesEnd; ++code) {
        store(*code, std::numeric_limits<double>::quiet_NaN());
    }
    DeriveRecordSignalChannels(values);
    return true;
}

void DeriveRecordSignalChannels(TelemetryRecordValues& values) {
    const SignalChannels derived =
        DeriveSignalChannels(values.channels[4], values.channels[14], values.channels[13],
                             values.channels[12], /*replaceZeroBackground=*/true);
    values.channels[kChannelSignal] = derived.signal;
    values.channels[kChannelFlopBackground] = derived.flopBackground;
}

double ParseTelemetryField(const char* begin, const char* lineEnd) {
    double value = 0.0;
    const char* stop = begin;
    return ParsePlainField(begin, lineEnd, value, stop)
               ? value
               : ParseTelemetryNumber(begin, lineEnd, stop);
}

}  // namespace corvane3
