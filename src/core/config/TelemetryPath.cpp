#include "core/config/TelemetryPath.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "core/base/CLocale.h"
#include "core/config/Configuration.h"

namespace corvane3 {

namespace {

constexpr char kDirectoryNotSetText[] = "Output data directory not set.";
constexpr char kDirectoryUnreachableText[] = "Unable to save to directory:\n";
// A width or precision longer than this makes a name no file system accepts (NAME_MAX is
// 255); refusing it also keeps a silly template from formatting megabytes.
constexpr std::size_t kMaxConversionDigits = 3;
// Holds the widest number those digits allow (999 characters) and its terminator.
constexpr std::size_t kConversionBufferSize = 1024;

bool IsFlag(char c) {
    return c == '-' || c == '+' || c == ' ' || c == '#' || c == '0';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Skips up to kMaxConversionDigits digits at position; false when there are more.
bool SkipDigits(const std::string& text, std::size_t& position) {
    const std::size_t start = position;
    while (position < text.size() && IsDigit(text[position])) {
        ++position;
    }
    return position - start <= kMaxConversionDigits;
}

std::string RefusedTemplateText(const std::string& nameTemplate) {
    return "The data filename template \"" + nameTemplate + "\" cannot be used.\n";
}

bool IsEnterableDirectory(const std::string& directory) {
    struct stat status {};
    return ::stat(directory.c_str(), &status) == 0 && S_ISDIR(status.st_mode) &&
           ::access(directory.c_str(), X_OK) == 0;
}

}  // namespace

std::string WithOneTrailingSlash(std::string directory) {
    if (directory.empty()) {
        return directory;
    }
    while (directory.size() > 1 && directory.back() == '/') {
        directory.pop_back();
    }
    if (directory.back() != '/') {
        directory += '/';
    }
    return directory;
}

std::string CleanTelemetryDirectory(const std::string& configured) {
    return WithOneTrailingSlash(CleanIniValue(configured));
}

bool FormatFilenameTemplate(const std::string& nameTemplate, long serialNumber, std::string& name) {
    std::string result;
    bool converted = false;
    for (std::size_t i = 0; i < nameTemplate.size(); ++i) {
        if (nameTemplate[i] != '%') {
            result += nameTemplate[i];
            continue;
        }
        if (i + 1 < nameTemplate.size() && nameTemplate[i + 1] == '%') {
            result += '%';
            ++i;
            continue;
        }
        // Only the conversion itself goes through printf; the literal text never does.
        std::size_t end = i + 1;
        while (end < nameTemplate.size() && IsFlag(nameTemplate[end])) {
            ++end;
        }
        if (!SkipDigits(nameTemplate, end)) {
            return false;
        }
        if (end < nameTemplate.size() && nameTemplate[end] == '.') {
            ++end;
            if (!SkipDigits(nameTemplate, end)) {
                return false;
            }
        }
        const std::size_t flagsAndWidth = end - i;
        if (end < nameTemplate.size() && nameTemplate[end] == 'l') {
            ++end;
        }
        const bool isInteger =
            end < nameTemplate.size() &&
            (nameTemplate[end] == 'd' || nameTemplate[end] == 'i' || nameTemplate[end] == 'u');
        if (!isInteger || converted) {
            return false;
        }
        // Whatever the template's letter, the serial number is printed as %ld would print it.
        const std::string conversion = nameTemplate.substr(i, flagsAndWidth) + "ld";
        char number[kConversionBufferSize];
        const int length = std::snprintf(number, sizeof number, conversion.c_str(), serialNumber);
        if (length < 0 || static_cast<std::size_t>(length) >= sizeof number) {
            return false;
        }
        result.append(number, static_cast<std::size_t>(length));
        converted = true;
        i = end;
    }
    name = std::move(result);
    return true;
}

std::string FilenameTemplateProblem(const std::string& nameTemplate) {
    std::string name;
    if (!FormatFilenameTemplate(nameTemplate, 0, name)) {
        return RefusedTemplateText(nameTemplate) +
               "It may contain one %ld for the unit's serial number (flags and a width are "
               "allowed, as in %05ld) and %% for a percent sign, but no other % conversion.";
    }
    // A NUL would end the name early: the file would be another one than the template says.
    if (nameTemplate.find_first_of(std::string_view("/\0", 2)) != std::string::npos ||
        name.empty() || name == "." || name == "..") {
        return RefusedTemplateText(nameTemplate) +
               "It must be a file name in the data directory, without '/' and not \".\" or "
               "\"..\".";
    }
    // The widest serial number a long holds, in the widest way the template prints it.
    if (!FormatFilenameTemplate(nameTemplate, LONG_MIN, name) || name.size() > NAME_MAX) {
        return RefusedTemplateText(nameTemplate) + "The file name it makes is too long.";
    }
    return "";
}

TelemetryPath TelemetryFilePath(const CProgramSettings& settings, long serialNumber) {
    TelemetryPath where;
    const std::string directory = CleanTelemetryDirectory(settings.DatafileDirectory);
    if (directory.empty()) {
        where.status = ETelemetryPathStatus::kDirectoryNotSet;
        where.message = kDirectoryNotSetText;
        return where;
    }
    if (!IsEnterableDirectory(directory)) {
        where.status = ETelemetryPathStatus::kDirectoryUnreachable;
        where.message = DirectoryUnreachableText(directory);
        return where;
    }
    std::string name;
    std::string problem = FilenameTemplateProblem(settings.DataFilenameTemplate);
    if (!problem.empty() ||
        !FormatFilenameTemplate(settings.DataFilenameTemplate, serialNumber, name)) {
        where.status = ETelemetryPathStatus::kTemplateRefused;
        where.message = std::move(problem);
        return where;
    }
    where.path = directory + name;
    return where;
}

std::string DirectoryUnreachableText(const std::string& directory) {
    return kDirectoryUnreachableText + directory;
}

bool CreateTelemetryDirectory(const std::string& directory, std::string& reason) {
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error) {
        const CScopedCLocale englishMessages;
        reason = error.message();
        return false;
    }
    return true;
}

}  // namespace corvane3
