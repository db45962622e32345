#include "app/CommandLine.h"

#include <algorithm>
#include <cctype>

namespace corvane3 {

namespace {
constexpr std::size_t kTypeLength = 3;
}

CommandLineFile ParseCommandLineFile(const std::string& commandLine) {
    CommandLineFile file;
    if (commandLine.empty()) {
        return file;
    }
    file.fileName = commandLine;
    if (file.fileName.front() == '"') {
        file.fileName = file.fileName.size() >= 2
                            ? file.fileName.substr(1, file.fileName.size() - 2)
                            : std::string();
    }
    file.type = file.fileName.size() > kTypeLength
                    ? file.fileName.substr(file.fileName.size() - kTypeLength)
                    : file.fileName;
    std::string upper = file.type;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (upper == "CSS") {
        file.kind = ECommandLineFileKind::kSpectrumFile;
    } else if (upper == "CSD") {
        file.kind = ECommandLineFileKind::kPlotFile;
    } else {
        file.kind = ECommandLineFileKind::kUnrecognized;
    }
    return file;
}

std::string UnrecognizedFileTypeMessage(const std::string& type) {
    return "Unrecognized file type:  " + type;
}

}  // namespace corvane3
