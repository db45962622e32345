// Arbitrary files through the telemetry file reader, read with small windows on one to three
// threads: it never reads past a line or writes past the store, and a file it accepts gives as
// many points as it said. Each record's chosen columns parse as the whole record does.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "core/telemetry/ChosenColumns.h"
#include "core/telemetry/DataFileReader.h"

using namespace corvane3;

namespace {

bool Same(double a, double b) {
    return a == b || (a != a && b != b);
}

// The channels chosen by the bits of choose (and the time), parsed alone, agree with the whole
// parse of every record, refusals included.
void CheckChosenColumns(const std::string& path, std::uint8_t choose) {
    CTelemetryFile file;
    std::string reason;
    if (file.Open(path, {}, reason) != ETelemetryOpen::kOpened) {
        return;
    }
    const TelemetryFileLayout& layout = file.Layout();
    std::vector<int> channels;
    for (int c = 0; c < 8; ++c) {
        if ((choose >> c) & 1) {
            channels.push_back(c == 7 ? kChannelSignal : 3 * c + 1);
        }
    }
    const TelemetryColumnChoice choice = ChooseTelemetryColumns(layout.map, channels, true);
    file.ForEachRecord({layout.dataBegin, layout.size}, 64, [&](const TelemetryLine& line) {
        TelemetryRecordValues whole;
        TelemetryRecordValues chosen;
        const bool parsed = ParseTelemetryRecord(line, layout.map, whole);
        FUZZ_CHECK(ParseChosenColumns(line, choice, chosen) == parsed);
        FUZZ_CHECK(!parsed || Same(chosen.mjd, whole.mjd));
        for (const int c : channels) {
            const auto i = static_cast<std::size_t>(c);
            FUZZ_CHECK(!parsed || Same(chosen.channels[i], whole.channels[i]));
        }
        return true;
    });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    // The first byte chooses the threads and the read window; the rest is the file.
    const int threads = 1 + data[0] % 3;
    const std::size_t window = std::size_t{1} << (3 + (data[0] >> 2) % 10);
    const int fd = ::memfd_create("telemetry", MFD_CLOEXEC);
    FUZZ_CHECK(fd >= 0);
    const auto bytes = static_cast<ssize_t>(size - 1);
    FUZZ_CHECK(::write(fd, data + 1, size - 1) == bytes);
    CPlotData store;
    std::int64_t counted = -1;
    DataFileReadOptions options;
    options.threads = threads;
    options.readWindow = window;
    options.started = [&](const std::string&, std::int64_t total) { counted = total; };
    const DataFileReadResult result =
        ReadDataFile(store, "/proc/self/fd/" + std::to_string(fd), options);
    if (result.status == EDataFileRead::kRead) {
        FUZZ_CHECK(store.PointCount() == counted);
        for (int slot = 0; slot < kPlotChannelSlots; ++slot) {
            (void)store.Channel(slot)[store.PointCount() - 1];
        }
    }
    CheckChosenColumns("/proc/self/fd/" + std::to_string(fd), data[0]);
    ::close(fd);
    return 0;
}
