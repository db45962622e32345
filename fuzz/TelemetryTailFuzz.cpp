// Arbitrary file ends through the recorder's check and repair of a telemetry file before it
// appends: the file afterwards is the original cut somewhere, plus an LF when what was kept ends
// in CR; every whole line stays as it was; a record whose CR survived (NULs at most after it)
// is kept; anything else after the last whole line is cut; the result is empty or ends with LF;
// bytesCut and sizeAfter say what the file shows, and a file that needed nothing is untouched.
//
// Whole lines and NUL runs of the sizes the first bytes choose go before and after the fuzzer's
// bytes, so that the backward reading crosses its block boundaries.

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "core/telemetry/TelemetryTail.h"

using namespace corvane3;

namespace {

// The reader's block is 64 KiB; sizes up to a few blocks reach every boundary case.
constexpr std::size_t kSizeUnit = 997;

std::string ReadAll(int fd) {
    struct stat info {};
    FUZZ_CHECK(::fstat(fd, &info) == 0);
    std::string bytes(static_cast<std::size_t>(info.st_size), '\0');
    FUZZ_CHECK(::pread(fd, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size()));
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    std::string original;
    const std::size_t lines = (data[0] & 0x0f) * kSizeUnit * 8;
    const std::size_t nuls = (data[0] >> 4) * kSizeUnit * 16 + data[1];
    const std::string record = "61234.5,1,2,3\r\n";
    while (original.size() < lines) {
        original += record;
    }
    original.append(reinterpret_cast<const char*>(data) + 2, size - 2);
    original.append(nuls, '\0');

    const int fd = ::memfd_create("telemetry", MFD_CLOEXEC);
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(::write(fd, original.data(), original.size()) ==
               static_cast<ssize_t>(original.size()));
    const TailRepair repair = RepairTelemetryTail("/proc/self/fd/" + std::to_string(fd));
    const std::string after = ReadAll(fd);
    ::close(fd);

    FUZZ_CHECK(repair.kind != ETailRepair::kFailed);
    FUZZ_CHECK(repair.sizeAfter == after.size());
    FUZZ_CHECK(after.empty() || after.back() == '\n');

    const bool lineEnded = repair.kind == ETailRepair::kLineEnded;
    const std::size_t kept = after.size() - (lineEnded ? 1 : 0);
    FUZZ_CHECK(kept <= original.size());
    FUZZ_CHECK(std::string_view(after).substr(0, kept) ==
               std::string_view(original).substr(0, kept));
    FUZZ_CHECK(repair.bytesCut == original.size() - kept);
    if (lineEnded) {
        FUZZ_CHECK(kept > 0 && after[kept - 1] == '\r');
    }
    FUZZ_CHECK((repair.kind == ETailRepair::kWhole) == (after == original));

    // The part after the last whole line, without the NULs at its end.
    const std::size_t lastLf = original.rfind('\n');
    const std::size_t lineStart = lastLf == std::string::npos ? 0 : lastLf + 1;
    std::size_t contentEnd = original.size();
    while (contentEnd > lineStart && original[contentEnd - 1] == '\0') {
        --contentEnd;
    }
    if (contentEnd > lineStart && original[contentEnd - 1] == '\r') {
        FUZZ_CHECK(kept == contentEnd);
    } else {
        FUZZ_CHECK(kept == lineStart);
    }
    return 0;
}
