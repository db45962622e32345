#include "core/telemetry/DataFileReader.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

#include "core/telemetry/TelemetryChunks.h"

namespace corvane3 {

namespace {

// Parsing threads get at least this much text each; smaller files are parsed on one thread.
constexpr std::size_t kMinBytesPerThread = std::size_t{1} << 20;
constexpr unsigned kMaxThreads = 8;
// Workers publish their progress every so many records; the caller reports it this often.
constexpr std::int64_t kProgressRecords = 4096;
constexpr std::chrono::milliseconds kProgressInterval{100};
// Each thread reads its part of the file this much at a time.
constexpr std::size_t kReadWindow = std::size_t{4} << 20;

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
    TelemetryByteRange range;
    std::int64_t records = 0;
    std::int64_t first = 0;     // index of its first record
    std::int64_t parsed = 0;    // records stored so far
    std::int64_t vanished = 0;  // records counted but no longer there when parsed
    bool fieldTooLong = false;
    bool readFailed = false;
    std::vector<Overflow> overflow;  // values the column storage could not hold
    TelemetryDamage damage;          // lines left out
};

class CRecordParser {
  public:
    CRecordParser(CPlotData& store, const std::vector<int>& map) : map_(map) {
        for (int code : map) {
            columns_.push_back(code >= 0             ? &store.MutableColumn(code)
                               : code == kColumnTime ? &store.MutableColumn(CPlotData::kAxis0Slot)
                                                     : nullptr);
        }
        signal_ = &store.MutableColumn(kChannelSignal);
        flopBackground_ = &store.MutableColumn(kChannelFlopBackground);
    }

    // Stores the line as point index; false when a field is too long.
    bool Parse(const TelemetryLine& line, std::int64_t index, Part& part) {
        TelemetryRecordValues values;
        if (!ParseTelemetryRecord(line, map_, values)) {
            return false;
        }
        for (std::size_t k = 0; k < map_.size(); ++k) {
            if (columns_[k] != nullptr) {
                const int code = map_[k];
                Put(*columns_[k], code >= 0 ? code : CPlotData::kAxis0Slot, index,
                    code >= 0 ? values.channels[static_cast<std::size_t>(code)] : values.mjd, part);
            }
        }
        Put(*signal_, kChannelSignal, index, values.channels[kChannelSignal], part);
        Put(*flopBackground_, kChannelFlopBackground, index,
            values.channels[kChannelFlopBackground], part);
        return true;
    }

    // Marks every value of point index absent (a record the file no longer held when parsed).
    void StoreAbsent(std::int64_t index, Part& part) {
        constexpr double kAbsent = std::numeric_limits<double>::quiet_NaN();
        for (std::size_t k = 0; k < map_.size(); ++k) {
            if (columns_[k] != nullptr) {
                Put(*columns_[k], map_[k] >= 0 ? map_[k] : CPlotData::kAxis0Slot, index, kAbsent,
                    part);
            }
        }
        Put(*signal_, kChannelSignal, index, kAbsent, part);
        Put(*flopBackground_, kChannelFlopBackground, index, kAbsent, part);
    }

  private:
    static void Put(CPlotColumn& column, int slot, std::int64_t index, double value, Part& part) {
        if (!column.TryStore(index, value)) {
            part.overflow.push_back({slot, index, value});
        }
    }

    const std::vector<int>& map_;
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

// The first line start at or after offset in [lower, end).

void CountParts(const CTelemetryFile& file, std::size_t window, std::vector<Part>& parts) {
    RunOnThreads(parts.size(), [&](std::size_t i) {
        Part& part = parts[i];
        part.readFailed = !file.ForEachRecord(
            part.range, window,
            [&](const TelemetryLine&) {
                ++part.records;
                return true;
            },
            nullptr, nullptr, &part.damage);
    });
}

// Parses every part on its own thread while this thread reports progress. A part never stores
// more records than it counted; records it no longer finds are left absent.
void ParseParts(const CTelemetryFile& file, std::size_t window, CRecordParser& parser,
                std::int64_t records, std::vector<Part>& parts,
                const DataFileReadOptions& options) {
    std::atomic<std::int64_t> done{0};
    std::mutex mutex;
    std::condition_variable finished;
    std::size_t finishedParts = 0;
    std::thread workers([&] {
        RunOnThreads(parts.size(), [&](std::size_t i) {
            Part& part = parts[i];
            part.readFailed =
                !file.ForEachRecord(part.range, window, [&](const TelemetryLine& line) {
                    if (part.parsed == part.records) {
                        return false;
                    }
                    if (!parser.Parse(line, part.first + part.parsed, part)) {
                        part.fieldTooLong = true;
                        return false;
                    }
                    if (++part.parsed % kProgressRecords == 0) {
                        done.fetch_add(kProgressRecords, std::memory_order_relaxed);
                    }
                    return true;
                });
            for (; part.parsed < part.records && !part.fieldTooLong; ++part.parsed) {
                parser.StoreAbsent(part.first + part.parsed, part);
                ++part.vanished;
            }
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

// Closes a file descriptor when it goes out of scope.

}  // namespace

double FieldToDouble(const char* begin, const char* end) {
    const char* stop = nullptr;
    return ParseTelemetryNumber(begin, end, stop);
}

DataFileReadResult ReadDataFile(CPlotData& store, const std::string& path,
                                const DataFileReadOptions& options) {
    DataFileReadResult result;
    const auto cannotOpen = [&] {
        SetCannotOpen(path, result);
        return result;
    };
    CTelemetryFile file;
    file.SetCancel(options.cancel);
    const TelemetryIdentity defaults{store.SerialNumber(), store.UnitType(), store.FactoryFlag()};
    if (!OpenDataFile(file, path, defaults, result)) {
        return result;
    }
    const TelemetryFileLayout& layout = file.Layout();
    const std::size_t window = options.readWindow > 0 ? options.readWindow : kReadWindow;
    const auto cancelled = [&] {
        return options.cancel != nullptr && options.cancel->load(std::memory_order_relaxed);
    };
    if (!layout.HasData()) {
        return result;
    }
    const TelemetryIdentity& identity = layout.identity;
    if (layout.modelKnown && options.instrumentModel != nullptr) {
        options.instrumentModel->store(identity.unitType);
    }
    const std::vector<int>& map = layout.map;

    // Count the records of each part, then parse the parts into a fresh store.
    std::vector<Part> parts;
    for (const TelemetryByteRange& range : file.SplitAtLines(
             ThreadCount(options, static_cast<std::size_t>(layout.size - layout.dataBegin)))) {
        parts.push_back(Part{.range = range, .overflow = {}, .damage = {}});
    }
    CountParts(file, window, parts);
    if (cancelled()) {
        return result;
    }
    std::int64_t records = 0;
    TelemetryDamage damage;
    for (Part& part : parts) {
        if (part.readFailed) {
            return cannotOpen();
        }
        part.first = records;
        records += part.records;
        damage.Merge(part.damage);
    }
    if (records == 0) {
        NoteDamagedLines(file, path, damage, result);
        return result;
    }

    result.progressText = DataFileProgressText(path, layout.oldFormat, identity, records);
    if (options.started) {
        options.started(result.progressText, records);
    }

    CPlotData loaded;
    result.channels = layout.channels;
    loaded.PrepareLoad(records, layout.channels, /*exact=*/layout.oldFormat);
    CRecordParser parser(loaded, map);
    ParseParts(file, window, parser, records, parts, options);
    if (cancelled()) {
        return result;
    }
    for (const Part& part : parts) {
        if (part.fieldTooLong) {
            result.status = EDataFileRead::kFieldTooLong;
            result.message = "File Read Error";
            result.title.clear();
            return result;
        }
        if (part.readFailed) {
            return cannotOpen();
        }
        result.vanishedRecords += part.vanished;
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
    NoteDamagedLines(file, path, damage, result);
    return result;
}

void NoteDamagedLines(const CTelemetryFile& file, const std::string& path,
                      const TelemetryDamage& damage, DataFileReadResult& result) {
    if (damage.lines == 0) {
        return;
    }
    result.damagedLines = damage.lines;
    result.firstDamagedLine = file.LineNumberAt(damage.firstOffset);
    result.message = DamagedLinesText(path, damage.lines, result.firstDamagedLine);
    result.title = "Read Error";
}

void SetCannotOpen(const std::string& path, DataFileReadResult& result) {
    result.status = EDataFileRead::kCannotOpen;
    result.message = "Cannot Open File:\n" + path;
    result.title = "Read Error";
}

bool OpenDataFile(CTelemetryFile& file, const std::string& path, const TelemetryIdentity& defaults,
                  DataFileReadResult& result) {
    std::string reason;
    switch (file.Open(path, defaults, reason)) {
        case ETelemetryOpen::kCannotOpen:
            result.reason = reason;
            SetCannotOpen(path, result);
            return false;
        case ETelemetryOpen::kEmpty:
            result.status = EDataFileRead::kEmpty;
            result.message = "Empty file:  " + path;
            result.title = "Read Error";
            return false;
        case ETelemetryOpen::kOpened:
            break;
    }
    result.oldFormat = file.Layout().oldFormat;
    result.status = EDataFileRead::kNoRecords;
    return true;
}

std::string DataFileProgressText(const std::string& path, bool oldFormat,
                                 const TelemetryIdentity& identity, std::int64_t records) {
    return "Filename:\t" + path + "\n" +
           (oldFormat ? "Type:\tCorvane2 Data File\n" : "\tType:  Corvane3 Data File\n") +
           "Unit:\t" + DataFileModelText(identity.unitType) + " S/N " +
           std::to_string(identity.serial) + "\n" + "NumPoints = " + std::to_string(records);
}

const char* DataFileModelText(std::int32_t unitType) {
    return unitType == kModelChronoBeam ? "ChronoBeam"
           : unitType == kModel7730B    ? "7730B"
           : unitType == kModelTq9000   ? "Tq9000"
                                        : "VelaX";
}

}  // namespace corvane3