#include "app/FileCommandShared.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "core/program/ExitStatus.h"

namespace corvane3 {

std::string WithReason(const std::string& message, const std::string& reason) {
    return reason.empty() ? message : message + " (" + reason + ")";
}

bool IsSpectrumFile(const std::string& path) {
    constexpr std::size_t kExtensionLength = 4;  // ".css"
    if (path.size() < kExtensionLength) {
        return false;
    }
    std::string extension = path.substr(path.size() - kExtensionLength);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".css";
}

bool LoadSpectrum(const std::string& path, SpectrumPoints& points, std::ostream& err) {
    const SpectrumFileResult result = ReadSpectrumFile(path, points);
    if (result.status == ESpectrumFileRead::kCannotOpen) {
        err << "corvane3: " << WithReason(result.message, result.reason) << "\n";
        return false;
    }
    if (result.status == ESpectrumFileRead::kInvalidData) {
        err << "corvane3: " << result.message << ": " << path << ", line " << result.badLine
            << "\n";
        return false;
    }
    return true;
}

int Written(std::ostream& out, std::ostream& err, const char* what) {
    out.flush();
    if (out) {
        return kExitDone;
    }
    err << "corvane3: the " << what << " could not be written to standard output ("
        << std::strerror(errno != 0 ? errno : EIO) << ")\n";
    return kExitRefused;
}

}  // namespace corvane3
