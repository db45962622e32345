// Arbitrary files through the telemetry file reader, read with small windows on one to three
// threads: it never reads past a line or writes past the store, and a file it accepts gives as
// many points as it said.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "core/telemetry/DataFileReader.h"

using namespace corvane3;

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
    ::close(fd);
    return 0;
}
