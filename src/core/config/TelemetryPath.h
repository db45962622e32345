#pragma once
// Where a unit's telemetry file lives: DatafileDirectory, cleaned as configuration values are
// and ending in one '/', followed by DataFilenameTemplate formatted with the serial number.
//
//   TelemetryPath where = TelemetryFilePath(settings, serial);
//   if (where.status == TelemetryPathStatus::kReady) { ... open where.path ... }
//   else { ... show where.message ... }

#include <string>

#include "core/config/ProgramSettings.h"

namespace corvane3 {

enum class ETelemetryPathStatus {
    kReady,
    kDirectoryNotSet,       // empty, or nothing left after cleaning
    kDirectoryUnreachable,  // not an existing directory that may be entered
    kTemplateRefused,       // DataFilenameTemplate is not a file name with at most one number
};

struct TelemetryPath {
    ETelemetryPathStatus status = ETelemetryPathStatus::kReady;
    std::string path;     // the file's full path when kReady
    std::string message;  // what to tell the user otherwise
};

// The configured directory cut at its first ';', without trailing blanks and tabs, ending in
// exactly one '/'. Empty when nothing is left.
std::string CleanTelemetryDirectory(const std::string& configured);

// directory with exactly one trailing '/' ("" stays "").
std::string WithOneTrailingSlash(std::string directory);

// Formats a file-name template with the serial number. The template may hold at most one
// integer conversion for it (%ld, %li, or %d, %i, %u as templates from elsewhere have them; with
// flags, a width and a precision of up to three digits each, as in %05ld), always printed as a
// signed long, and any number of %%; any other '%' makes it unusable: the result is then false
// and name is left alone.
bool FormatFilenameTemplate(const std::string& nameTemplate, long serialNumber, std::string& name);

// Why a file-name template cannot be used, in a sentence for the user; empty when it can. Beyond
// the conversions above, the template must name a file inside the data directory: no '/', not
// "." or "..", not empty, not longer than a file name may be.
std::string FilenameTemplateProblem(const std::string& nameTemplate);

// The telemetry file of the unit with this serial number. The directory is tested for existence
// without changing the process's current directory; the file itself is not looked at.
TelemetryPath TelemetryFilePath(const CProgramSettings& settings, long serialNumber);

// The message for a directory (cleaned, as above) that cannot be saved to.
std::string DirectoryUnreachableText(const std::string& directory);

// Creates directory and the folders missing above it. False, with the system's reason in
// English, when that cannot be done.
bool CreateTelemetryDirectory(const std::string& directory, std::string& reason);

}  // namespace corvane3
