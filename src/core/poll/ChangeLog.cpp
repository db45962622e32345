#include "core/poll/ChangeLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "core/base/WriteWhole.h"
#include "core/config/Configuration.h"
#include "core/config/TelemetryPath.h"
#include "core/link/CommandCodes.h"
#include "core/link/CommandFrame.h"
#include "core/link/MainStatusText.h"
#include "core/poll/CommandCatalogue.h"

namespace corvane3 {

namespace {

constexpr char kMask[] = "*****";
// Reads whose catalogue name does not say so.
constexpr ECommand kOtherReads[] = {ECommand::kReportVersion, ECommand::kGetLeapSecondStatus};
constexpr std::string_view kReadPrefixes[] = {"Get ", "Report ", "Retrieve "};
// Permissions of a new log file: the user writes, everyone reads.
constexpr mode_t kLogFileMode = 0644;

std::string Authorisation(std::uint32_t parameter) {
    if (parameter == kFactoryAccessOption) {
        return "factory";
    }
    return parameter == 0 ? "none" : "password";
}

const char* OutcomeText(ChangeOutcome outcome) {
    if (!outcome) {
        return "sent";
    }
    switch (*outcome) {
        case EReplyVerdict::kAccepted:
            return "accepted";
        case EReplyVerdict::kRefused:
            return "refused";
        case EReplyVerdict::kNotUnderstood:
            return "not understood";
        case EReplyVerdict::kUnanswered:
            break;
    }
    return "no reply";
}

}  // namespace

bool IsReadCommand(std::string_view code) {
    for (const ECommand other : kOtherReads) {
        if (code == CommandCode(other)) {
            return true;
        }
    }
    for (const CatalogueRow& row : CommandCatalogue()) {
        if (row.code != code) {
            continue;
        }
        for (std::string_view prefix : kReadPrefixes) {
            if (row.name.starts_with(prefix)) {
                return true;
            }
        }
        return false;
    }
    return false;
}

std::string ChangeLogData(std::string_view code, std::string_view data) {
    if (CarriesPasswordData(code) && !data.empty()) {
        return kMask;
    }
    std::string shown;
    for (const char c : data) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f || c == '\\') {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            shown += escaped;
        } else {
            shown += c;
        }
    }
    return shown;
}

std::string ChangeLogLine(std::time_t utc, std::uint32_t serial, std::int32_t model,
                          const MailboxCommand& command, ChangeOutcome outcome,
                          std::string_view origin) {
    std::tm parts{};
    gmtime_r(&utc, &parts);
    char time[32];
    std::strftime(time, sizeof time, "%Y-%m-%d %H:%M:%S UTC", &parts);
    std::string line = time;
    line += '\t' + std::to_string(serial);
    line += '\t' + std::to_string(model) + ' ' + ModelText(model);
    line += '\t' + ChangeLogData("", command.code);
    line += '\t' + ChangeLogData(command.code, command.data);
    line += '\t' + Authorisation(command.parameter);
    line += '\t';
    line += OutcomeText(outcome);
    if (!origin.empty()) {
        line += '\t' + ChangeLogData("", origin);
    }
    line += '\n';
    return line;
}

std::string ChangeLogDirectory(const std::string& configuredDirectory) {
    const std::string cleaned = CleanIniValue(configuredDirectory);
    if (!cleaned.empty()) {
        return cleaned;
    }
    std::filesystem::path base;
    if (const char* dataHome = std::getenv("XDG_DATA_HOME"); dataHome != nullptr && *dataHome) {
        base = dataHome;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && *home) {
        base = std::filesystem::path(home) / ".local" / "share";
    } else {
        base = ".";
    }
    const std::filesystem::path folder = base / "corvane3";
    std::error_code ignored;  // a folder that cannot be made fails at the write, with its reason
    std::filesystem::create_directories(folder, ignored);
    return folder.string();
}

void CChangeLog::SetDirectory(std::string directory) {
    std::lock_guard lock(mutex_);
    directory_ = std::move(directory);
}

std::string CChangeLog::Path() const {
    std::string directory;
    {
        std::lock_guard lock(mutex_);
        directory = directory_;
    }
    return WithOneTrailingSlash(ChangeLogDirectory(directory)) + kChangeLogFileName;
}

bool CChangeLog::Record(const MailboxCommand& command, ChangeOutcome outcome, std::uint32_t serial,
                        std::int32_t model, std::string_view origin) {
    if (IsReadCommand(command.code)) {
        return true;
    }
    const std::string line =
        ChangeLogLine(std::time(nullptr), serial, model, command, outcome, origin);
    const std::string path = Path();
    // O_APPEND puts each write at the end, even with several programs appending at once.
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, kLogFileMode);
    // A line a full disk cuts short is taken back, so the next one does not join it.
    bool written = false;
    int reason = errno;
    if (fd >= 0) {
        written = AppendWhole(fd, line);
        reason = written ? 0 : errno;
        if (::close(fd) != 0 && written) {
            reason = errno;
            written = false;
        }
    }
    if (written) {
        return true;
    }
    const std::string error =
        "The change log " + path + " could not be written (" +
        (reason == 0 ? std::string("the disk is full") : std::strerror(reason)) +
        "). Commands are still sent, but are not logged.";
    std::fprintf(stderr, "corvane3: %s\n", error.c_str());
    std::lock_guard lock(mutex_);
    if (firstFailure_.empty()) {
        firstFailure_ = error;
    }
    return false;
}

std::string CChangeLog::TakeFirstFailure() {
    std::lock_guard lock(mutex_);
    if (firstFailure_.empty() || failureTaken_) {
        return "";
    }
    failureTaken_ = true;
    return firstFailure_;
}

}  // namespace corvane3
