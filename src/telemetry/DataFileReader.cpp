#include "telemetry/DataFileReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>
#include <tuple>
#include <vector>

namespace corvane3 {

namespace {

// Column map codes; 1 and above are channel numbers.
constexpr int kSkipped = -1;
constexpr int kTime = -2;
constexpr int kSerial = -3;
constexpr int kModel = -4;
constexpr int kFactory = -5;

// A field of this many characters is accepted; one more is a read error (the fixed field
// buffer files were always written for).
constexpr std::size_t kMaxFieldCharacters = 31;
// The old format's first line has this word at characters 6 to 10.
constexpr char kOldFormatMark[] = "Month";
constexpr std::size_t kOldFormatMarkOffset = 5;
// Parsing threads get at least this much text each; smaller files are parsed on one thread.
constexpr std::size_t kMinBytesPerThread = std::size_t{1} << 20;
constexpr unsigned kMaxThreads = 8;
// Workers publish their progress every so many records; the caller reports it this often.
constexpr std::int64_t kProgressRecords = 4096;
constexpr std::chrono::milliseconds kProgressInterval{100};

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

struct Line {
    const char* begin;
    const char* end;  // before the line end
    const char* next;
    bool terminated;
};

Line NextLine(const char* p, const char* limit) {
    const auto* newline =
        static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(limit - p)));
    Line line{p, newline ? newline : limit, newline ? newline + 1 : limit, newline != nullptr};
    if (line.end > line.begin && line.end[-1] == '\r') {
        --line.end;
    }
    return line;
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

template <typename F>
void ForEachRecord(const char* p, const char* limit, std::size_t mapColumns, F&& visit) {
    while (p < limit) {
        const Line line = NextLine(p, limit);
        if (IsRecord(line, mapColumns) && !visit(line)) {
            return;
        }
        p = line.next;
    }
}

template <typename F>
void RunOnThreads(std::size_t count, F&& work) {
    std::vector<std::thread> threads;
    for (std::size_t part = 1; part < count; ++part) {
        threads.emplace_back(work, part);
    }
    work(std::size_t{0});
    for (std::thread& thread : threads) {
        thread.join();
    }
}

struct Overflow {
    int slot;
    std::int64_t index;
    double value;
};

struct Part {
    const char* begin;
    const char* end;
    std::int64_t records = 0;
    std::int64_t first = 0;  // index of its first record
    bool fieldTooLong = false;
    std::vector<Overflow> overflow;  // values the column storage could not hold
};

class CRecordParser {
  public:
    CRecordParser(CPlotData& store, const ColumnMap& map) : map_(map) {
        for (int code : map) {
            columns_.push_back(code >= 0       ? &store.MutableColumn(code)
                               : code == kTime ? &store.MutableColumn(CPlotData::kAxis0Slot)
                                               : nullptr);
        }
        signal_ = &store.MutableColumn(kChannelSignal);
        flopBackground_ = &store.MutableColumn(kChannelFlopBackground);
    }

    // Stores the line as point index; false when a field is too long.
    bool Parse(const Line& line, std::int64_t index, Part& part) {
        std::array<double, kPlotChannelSlots> values{};  // channels the map does not feed are 0.0
        const char* p = line.begin;
        bool exhausted = false;
        for (std::size_t k = 0; k < map_.size(); ++k) {
            double value = std::numeric_limits<double>::quiet_NaN();
            if (!exhausted) {
                const auto* comma = static_cast<const char*>(
                    std::memchr(p, ',', static_cast<std::size_t>(line.end - p)));
                const char* fieldEnd = comma ? comma : line.end;
                if (static_cast<std::size_t>(fieldEnd - p) > kMaxFieldCharacters) {
                    return false;
                }
                if (columns_[k] != nullptr) {
                    value = FieldToDouble(p, fieldEnd);
                }
                exhausted = comma == nullptr;
                p = comma ? comma + 1 : line.end;
            }
            if (columns_[k] == nullptr) {
                continue;
            }
            if (map_[k] >= 0) {
                values[static_cast<std::size_t>(map_[k])] = value;
            }
            Put(*columns_[k], map_[k] >= 0 ? map_[k] : CPlotData::kAxis0Slot, index, value, part);
        }
        const SignalChannels derived =
            DeriveSignalChannels(values[4], values[14], values[13], values[12],
                                 /*replaceZeroBackground=*/true);
        Put(*signal_, kChannelSignal, index, derived.signal, part);
        Put(*flopBackground_, kChannelFlopBackground, index, derived.flopBackground, part);
        return true;
    }

  private:
    static void Put(CPlotColumn& column, int slot, std::int64_t index, double value, Part& part) {
        if (!column.TryStore(index, value)) {
            part.overflow.push_back({slot, index, value});
        }
    }

    const ColumnMap& map_;
    std::vector<CPlotColumn*> columns_;
    CPlotColumn* signal_;
    CPlotColumn* flopBackground_;
};

std::size_t ThreadCount(const DataFileReadOptions& options, std::size_t bytes) {
    if (options.threads > 0) {
        return static_cast<std::size_t>(options.threads);
    }
    const std::size_t machine = std::clamp(std::thread::hardware_concurrency(), 1u, kMaxThreads);
    return std::clamp<std::size_t>(bytes / kMinBytesPerThread, 1, machine);
}

struct FileText {
    std::unique_ptr<char[]> data;
    std::size_t size = 0;
};

// Reads the file as long as it is now, the parts on parallel threads (the copy and the page
// faults of a large file take as long as parsing it). Lines appended meanwhile are left for the
// next load; a file cut shorter meanwhile is read up to where it now ends.
bool ReadWholeFile(const std::string& path, const DataFileReadOptions& options, FileText& text) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (ok) {
        const auto size = static_cast<std::size_t>(info.st_size);
        text.data = std::make_unique_for_overwrite<char[]>(std::max<std::size_t>(size, 1));
        const std::size_t count = ThreadCount(options, size);
        std::vector<std::size_t> got(count, 0);
        std::vector<char> failed(count, 0);
        RunOnThreads(count, [&](std::size_t part) {
            const std::size_t begin = size * part / count;
            const std::size_t end = size * (part + 1) / count;
            while (begin + got[part] < end) {
                const ssize_t n =
                    ::pread(fd, text.data.get() + begin + got[part], end - begin - got[part],
                            static_cast<off_t>(begin + got[part]));
                if (n < 0 && errno == EINTR) {
                    continue;
                }
                failed[part] = n < 0;
                if (n <= 0) {
                    break;
                }
                got[part] += static_cast<std::size_t>(n);
            }
        });
        for (std::size_t part = 0; part < count && ok; ++part) {
            const std::size_t begin = size * part / count;
            ok = !failed[part];
            text.size = begin + got[part];
            if (text.size < size * (part + 1) / count) {
                break;
            }
        }
    }
    ::close(fd);
    return ok;
}

std::string UnitLine(std::int32_t unitType, std::int32_t serial) {
    return std::string("Unit:\t") + DataFileModelText(unitType) + " S/N " +
           std::to_string(serial) + "\n";
}

// Splits [begin, end) into parts that start at line starts.
std::vector<Part> SplitAtLines(const char* begin, const char* end, std::size_t count) {
    std::vector<Part> parts;
    const char* start = begin;
    for (std::size_t i = 1; i <= count; ++i) {
        const char* cut = i == count ? end
                                     : begin + (end - begin) * static_cast<std::ptrdiff_t>(i) /
                                                   static_cast<std::ptrdiff_t>(count);
        if (cut < start) {
            cut = start;
        }
        if (cut < end && cut > begin && cut[-1] != '\n') {
            const auto* newline = static_cast<const char*>(
                std::memchr(cut, '\n', static_cast<std::size_t>(end - cut)));
            cut = newline ? newline + 1 : end;
        }
        parts.push_back(Part{.begin = start, .end = cut, .overflow = {}});
        start = cut;
    }
    return parts;
}

struct FileIdentity {
    std::int32_t serial;
    std::int32_t unitType;
    std::int32_t factory;
    ColumnMap map;
};

// The unit of the file's first record and the column map it calls for. Fields the first record
// does not give keep the store's values.
FileIdentity IdentifyFile(const Line& first, bool oldFormat, const CPlotData& store,
                          const DataFileReadOptions& options) {
    FileIdentity identity{store.SerialNumber(), store.UnitType(), store.FactoryFlag(), {}};
    const std::string line(first.begin, first.end);
    double mjd = 0;
    long serial = 0;
    if (oldFormat) {
        int ignored[6];
        if (std::sscanf(line.c_str(), "%lg,%d,%d,%d,%d,%d,%d,%ld", &mjd, &ignored[0], &ignored[1],
                        &ignored[2], &ignored[3], &ignored[4], &ignored[5], &serial) == 8) {
            identity.serial = static_cast<std::int32_t>(serial);
        }
        identity.unitType = kModelBeforeIdentification;
        identity.map = OldMap();
        return identity;
    }
    int unitType = 0;
    int factory = 0;
    const int fields =
        std::sscanf(line.c_str(), "%lg,%ld,%d,%d", &mjd, &serial, &unitType, &factory);
    identity.serial = fields >= 2 ? static_cast<std::int32_t>(serial) : identity.serial;
    identity.unitType = fields >= 3 ? unitType : identity.unitType;
    identity.factory = fields >= 4 ? factory : identity.factory;
    if (fields >= 3 && options.instrumentModel != nullptr && IsKnownModel(unitType)) {
        options.instrumentModel->store(unitType);
    }
    identity.map = CurrentMap(identity.unitType, identity.factory);
    return identity;
}

// Parses every part on its own thread while this thread reports progress.
void ParseParts(CRecordParser& parser, std::size_t mapColumns, std::int64_t records,
                std::vector<Part>& parts, const DataFileReadOptions& options) {
    std::atomic<std::int64_t> done{0};
    std::mutex mutex;
    std::condition_variable finished;
    std::size_t finishedParts = 0;
    std::thread workers([&] {
        RunOnThreads(parts.size(), [&](std::size_t i) {
            Part& part = parts[i];
            std::int64_t index = part.first;
            ForEachRecord(part.begin, part.end, mapColumns, [&](const Line& line) {
                if (!parser.Parse(line, index, part)) {
                    part.fieldTooLong = true;
                    return false;
                }
                if (++index % kProgressRecords == 0) {
                    done.fetch_add(kProgressRecords, std::memory_order_relaxed);
                }
                return true;
            });
            std::lock_guard lock(mutex);
            ++finishedParts;
            finished.notify_all();
        });
    });
    {
        std::unique_lock lock(mutex);
        while (!finished.wait_for(lock, kProgressInterval,
                                  [&] { return finishedParts == parts.size(); })) {
            lock.unlock();
            if (options.progress) {
                options.progress(std::min(done.load(std::memory_order_relaxed), records), records);
            }
            lock.lock();
        }
    }
    workers.join();
}

}  // namespace

double FieldToDouble(const char* begin, const char* end) {
    while (begin < end && std::isspace(static_cast<unsigned char>(*begin))) {
        ++begin;
    }
    bool negative = false;
    if (begin < end && (*begin == '+' || *begin == '-')) {
        negative = *begin == '-';
        ++begin;
    }
    if (begin == end || *begin == '+' || *begin == '-') {
        return 0.0;
    }
    auto format = std::chars_format::general;
    if (end - begin > 2 && begin[0] == '0' && (begin[1] == 'x' || begin[1] == 'X')) {
        format = std::chars_format::hex;
        begin += 2;
    }
    double value = 0.0;
    const std::from_chars_result result = std::from_chars(begin, end, value, format);
    if (result.ec == std::errc::result_out_of_range) {
        // Overflow and underflow as strtod rounds them; fields are short.
        const std::string text(begin - (format == std::chars_format::hex ? 2 : 0), end);
        value = std::strtod(text.c_str(), nullptr);
    } else if (result.ec != std::errc()) {
        value = 0.0;
    }
    return negative ? -value : value;
}

DataFileReadResult ReadDataFile(CPlotData& store, const std::string& path,
                                const DataFileReadOptions& options) {
    DataFileReadResult result;
    FileText text;
    if (!ReadWholeFile(path, options, text)) {
        result.status = EDataFileRead::kCannotOpen;
        result.message = "Cannot Open File:\n" + path;
        result.title = "Read Error";
        return result;
    }
    const char* const fileEnd = text.data.get() + text.size;
    if (text.size == 0) {
        result.status = EDataFileRead::kEmpty;
        result.message = "Empty file:  " + path;
        result.title = "Read Error";
        return result;
    }
    const Line header = NextLine(text.data.get(), fileEnd);
    const bool oldFormat = static_cast<std::size_t>(header.end - header.begin) >=
                               kOldFormatMarkOffset + std::strlen(kOldFormatMark) &&
                           std::memcmp(header.begin + kOldFormatMarkOffset, kOldFormatMark,
                                       std::strlen(kOldFormatMark)) == 0;

    result.oldFormat = oldFormat;

    // The first non-blank line after the header chooses the column map.
    result.status = EDataFileRead::kNoRecords;
    Line first = header;
    do {
        if (first.next >= fileEnd) {
            return result;
        }
        first = NextLine(first.next, fileEnd);
    } while (IsBlank(first));

    const FileIdentity identity = IdentifyFile(first, oldFormat, store, options);
    const ColumnMap& map = identity.map;

    // Count the records of each part, then parse the parts into a fresh store.
    std::vector<Part> parts =
        SplitAtLines(first.begin, fileEnd,
                     ThreadCount(options, static_cast<std::size_t>(fileEnd - first.begin)));
    RunOnThreads(parts.size(), [&](std::size_t i) {
        ForEachRecord(parts[i].begin, parts[i].end, map.size(), [&](const Line&) {
            ++parts[i].records;
            return true;
        });
    });
    std::int64_t records = 0;
    for (Part& part : parts) {
        part.first = records;
        records += part.records;
    }
    if (records == 0) {
        return result;
    }

    result.progressText =
        "Filename:\t" + path + "\n" +
        (oldFormat ? "Type:\tCorvane2 Data File\n" : "\tType:  Corvane3 Data File\n") +
        UnitLine(identity.unitType, identity.serial) + "NumPoints = " + std::to_string(records);
    if (options.started) {
        options.started(result.progressText, records);
    }

    CPlotData loaded;
    std::vector<int> channels;
    std::copy_if(map.begin(), map.end(), std::back_inserter(channels),
                 [](int code) { return code >= 0; });
    result.channels = channels;
    loaded.PrepareLoad(records, channels, /*exact=*/oldFormat);
    CRecordParser parser(loaded, map);
    ParseParts(parser, map.size(), records, parts, options);
    for (const Part& part : parts) {
        if (part.fieldTooLong) {
            result.status = EDataFileRead::kFieldTooLong;
            result.message = "File Read Error";
            result.title.clear();
            return result;
        }
        for (const Overflow& value : part.overflow) {
            loaded.MutableColumn(value.slot).Store(value.index, value.value);
        }
    }
    if (options.progress) {
        options.progress(records, records);
    }
    loaded.FinishLoad(records, identity.serial, identity.unitType, identity.factory);
    store = std::move(loaded);
    result.status = EDataFileRead::kRead;
    return result;
}

const char* DataFileModelText(std::int32_t unitType) {
    return unitType == kModelChronoBeam ? "ChronoBeam"
           : unitType == kModel7730B    ? "7730B"
           : unitType == kModelTq9000   ? "Tq9000"
                                        : "VelaX";
}

}  // namespace corvane3
