#include "core/spectrum/SpectrumFile.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/base/LineReader.h"
#include "core/base/RegularFile.h"

#include "core/base/CLocale.h"

namespace corvane3 {

namespace {
// A point's line is a few dozen characters; a longer one than this is damage, never held.
constexpr std::size_t kMaxSpectrumLineBytes = std::size_t{64} << 10;

bool IsBlank(const std::string& line) {
    return line.find_first_not_of(" \t\r\f\v") == std::string::npos;
}
}  // namespace

bool WriteSpectrumFile(const std::string& path, const std::vector<double>& detuning,
                       const std::vector<double>& signal, std::size_t count, std::string& message) {
    const CScopedCLocale numbers;  // the file always has decimal points
    // "e": close-on-exec, so that a program started meanwhile does not inherit the file.
    std::FILE* file = std::fopen(path.c_str(), "we");
    if (file == nullptr) {
        message = "Unable to open file:  " + path;
        return false;
    }
    count = std::min({count, detuning.size(), signal.size()});
    bool written = std::fprintf(file, "%s\n", kSpectrumFileHeading) > 0;
    for (std::size_t i = 0; i < count && written; ++i) {
        written = std::fprintf(file, "%g,%g\n", detuning[i], signal[i]) > 0;
    }
    written = std::fclose(file) == 0 && written;
    if (!written) {
        message = "Unable to write file:  " + path;
        return false;
    }
    message.clear();
    return true;
}

SpectrumFileResult ReadSpectrumFile(const std::string& path, SpectrumPoints& points) {
    const CScopedCLocale numbers;
    points = SpectrumPoints{};
    SpectrumFileResult result;
    const int fd = OpenRegularFile(path, result.reason);
    if (fd < 0) {
        result.status = ESpectrumFileRead::kCannotOpen;
        result.message = "Unable to open file:  " + path;
        return result;
    }
    CLineReader reader(fd, kMaxSpectrumLineBytes);
    const auto invalid = [&](int line) {
        result.status = ESpectrumFileRead::kInvalidData;
        result.message = "Invalid data in file";
        result.badLine = line;
    };
    std::string line;
    CLineReader::ENext next = reader.Next(line);  // the heading
    int firstBlank = 0;  // a blank line is only bad when a point follows it
    while (next == CLineReader::ENext::kLine &&
           (next = reader.Next(line)) == CLineReader::ENext::kLine) {
        const int number = reader.LineNumber();
        if (IsBlank(line)) {
            firstBlank = firstBlank == 0 ? number : firstBlank;
            continue;
        }
        double detuning = 0;
        double signal = 0;
        if (firstBlank != 0 || std::sscanf(line.c_str(), "%lg,%lg", &detuning, &signal) != 2) {
            invalid(firstBlank != 0 ? firstBlank : number);
            break;
        }
        points.detuning.push_back(detuning);
        points.signal.push_back(signal);
    }
    if (next == CLineReader::ENext::kTooLong) {
        invalid(reader.LineNumber() + 1);  // a line no point could fill: damage, not data
    } else if (next == CLineReader::ENext::kError) {
        result.status = ESpectrumFileRead::kCannotOpen;
        result.message = "Unable to open file:  " + path;
        result.reason = std::strerror(errno);
    }
    ::close(fd);
    return result;
}

}  // namespace corvane3
