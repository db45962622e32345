// Arbitrary files through the spectrum file reader: points it reads come in pairs, and a file it
// reads whole is written back and read again to as many points, which further saves keep.

#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "core/spectrum/SpectrumFile.h"

using namespace corvane3;

namespace {

std::string MemoryFile(const std::uint8_t* data, std::size_t size, int& fd) {
    fd = ::memfd_create("spectrum", MFD_CLOEXEC);
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(::write(fd, data, size) == static_cast<ssize_t>(size));
    return "/proc/self/fd/" + std::to_string(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    int fd = -1;
    SpectrumPoints points;
    const SpectrumFileResult result = ReadSpectrumFile(MemoryFile(data, size, fd), points);
    ::close(fd);
    FUZZ_CHECK(points.detuning.size() == points.signal.size());
    if (result.status != ESpectrumFileRead::kRead || points.detuning.empty()) {
        return 0;
    }
    const int out = ::memfd_create("written", MFD_CLOEXEC);
    FUZZ_CHECK(out >= 0);
    const std::string written = "/proc/self/fd/" + std::to_string(out);
    std::string message;
    FUZZ_CHECK(WriteSpectrumFile(written, points.detuning, points.signal, points.detuning.size(),
                                 message));
    SpectrumPoints again;
    FUZZ_CHECK(ReadSpectrumFile(written, again).status == ESpectrumFileRead::kRead);
    FUZZ_CHECK(again.detuning.size() == points.detuning.size());
    // Once at the file's precision, a value stays as it is through further saves.
    FUZZ_CHECK(
        WriteSpectrumFile(written, again.detuning, again.signal, again.detuning.size(), message));
    SpectrumPoints third;
    FUZZ_CHECK(ReadSpectrumFile(written, third).status == ESpectrumFileRead::kRead);
    const auto same = [](double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); };
    for (std::size_t i = 0; i < again.detuning.size(); ++i) {
        FUZZ_CHECK(same(third.detuning[i], again.detuning[i]));
        FUZZ_CHECK(same(third.signal[i], again.signal[i]));
    }
    ::close(out);
    return 0;
}
