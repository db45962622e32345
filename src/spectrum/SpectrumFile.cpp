#include "spectrum/SpectrumFile.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "link/CLocale.h"

namespace corvane3 {

namespace {
bool IsBlank(const std::string& line) {
    return line.find_first_not_of(" \t\r\f\v") == std::string::npos;
}
}  // namespace

bool WriteSpectrumFile(const std::string& path, const std::vector<double>& detuning,
                       const std::vector<double>& signal, std::size_t count, std::string& message) {
    const CScopedCLocale numbers;  // the file always has decimal points
    std::FILE* file = std::fopen(path.c_str(), "w");
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
    std::ifstream file(path);
    if (!file) {
        result.status = ESpectrumFileRead::kCannotOpen;
        result.message = "Unable to open file:  " + path;
        return result;
    }
    std::string line;
    std::getline(file, line);  // the heading
    int number = 1;
    int firstBlank = 0;  // a blank line is only bad when a point follows it
    while (std::getline(file, line)) {
        ++number;
        if (IsBlank(line)) {
            firstBlank = firstBlank == 0 ? number : firstBlank;
            continue;
        }
        double detuning = 0;
        double signal = 0;
        if (firstBlank != 0 || std::sscanf(line.c_str(), "%lg,%lg", &detuning, &signal) != 2) {
            result.status = ESpectrumFileRead::kInvalidData;
            result.message = "Invalid data in file";
            result.badLine = firstBlank != 0 ? firstBlank : number;
            return result;
        }
        points.detuning.push_back(detuning);
        points.signal.push_back(signal);
    }
    return result;
}

}  // namespace corvane3
