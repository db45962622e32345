#include "core/config/ProfileFile.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "core/base/RegularFile.h"
#include "core/base/Text.h"
#include "core/base/WriteWhole.h"

namespace corvane3 {

namespace {

bool EqualNoCase(const std::string& a, const std::string& b) {
    return EqualAsciiNoCase(a, b);
}

std::string Trim(const std::string& text) {
    return std::string(TrimBlanks(text));
}

std::string Unquote(const std::string& value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

std::string Reason(int error) {
    return std::strerror(error);
}

// A line of the file longer than this is damage (a file that is no profile), not a reason to
// hold ever more of it; real lines are far shorter.
constexpr std::size_t kMaxProfileLineBytes = std::size_t{1} << 20;

// Reads the whole file. False when there is nothing to parse: the file is missing (status
// kMissing) or could not be read (kUnreadable, with the reason): a FIFO, a device or a folder is
// never read, and a file with a line longer than kMaxProfileLineBytes is refused with its
// number.
bool ReadWholeFile(const std::filesystem::path& path, std::string& content,
                   CProfileFile::ELoadStatus& status, std::string& reason) {
    using ELoadStatus = CProfileFile::ELoadStatus;
    const int fd = OpenRegularFile(path.string(), reason);
    if (fd < 0) {
        struct stat info {};
        status = ::stat(path.c_str(), &info) != 0 && errno == ENOENT ? ELoadStatus::kMissing
                                                                     : ELoadStatus::kUnreadable;
        return false;
    }
    status = ELoadStatus::kUnreadable;
    char buffer[8192];
    std::size_t lineLength = 0;
    int lineNumber = 1;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            reason = Reason(errno);
            ::close(fd);
            return false;
        }
        if (n == 0) {
            break;
        }
        for (ssize_t i = 0; i < n; ++i) {
            lineLength = buffer[i] == '\n' ? 0 : lineLength + 1;
            lineNumber += buffer[i] == '\n' ? 1 : 0;
            if (lineLength > kMaxProfileLineBytes) {
                reason = "line " + std::to_string(lineNumber) + " is longer than " +
                         std::to_string(kMaxProfileLineBytes >> 20) + " MiB";
                ::close(fd);
                return false;
            }
        }
        content.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    status = ELoadStatus::kRead;
    return true;
}

bool Fail(std::string* error, std::string text) {
    if (error != nullptr) {
        *error = std::move(text);
    }
    return false;
}

}  // namespace

CProfileFile::CProfileFile(std::filesystem::path path) : path_(std::move(path)) {
    sections_.push_back(Section{});
    std::string content;
    if (!ReadWholeFile(path_, content, status_, loadError_)) {
        return;
    }
    std::istringstream in(content);
    std::string text;
    bool first = true;
    while (std::getline(in, text)) {
        if (!text.empty() && text.back() == '\r') {
            text.pop_back();
            if (first) {
                lineEnd_ = "\r\n";
            }
        }
        first = false;
        const std::string trimmed = Trim(text);
        if (trimmed.size() >= 2 && trimmed.front() == '[') {
            const auto close = trimmed.find(']');
            if (close != std::string::npos) {
                sections_.push_back(
                    Section{Trim(trimmed.substr(1, close - 1)), {Line{text, {}, {}}}});
                continue;
            }
        }
        Line line{text, {}, {}};
        const auto equals = trimmed.find('=');
        if (!trimmed.empty() && trimmed.front() != ';' && equals != std::string::npos &&
            equals > 0) {
            line.key = Trim(trimmed.substr(0, equals));
            line.value = Unquote(Trim(trimmed.substr(equals + 1)));
        }
        sections_.back().lines.push_back(std::move(line));
    }
}

const CProfileFile::Section* CProfileFile::FindSection(const std::string& name) const {
    for (std::size_t i = 1; i < sections_.size(); ++i) {
        if (EqualNoCase(sections_[i].name, name)) {
            return &sections_[i];
        }
    }
    return nullptr;
}

const CProfileFile::Line* CProfileFile::FindKey(const std::string& section,
                                                const std::string& key) const {
    const Section* found = FindSection(section);
    if (found == nullptr) {
        return nullptr;
    }
    for (const Line& line : found->lines) {
        if (line.key && EqualNoCase(*line.key, key)) {
            return &line;
        }
    }
    return nullptr;
}

std::string CProfileFile::GetString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue) const {
    const Line* line = FindKey(section, key);
    return line != nullptr ? line->value : defaultValue;
}

int CProfileFile::GetInt(const std::string& section, const std::string& key,
                         int defaultValue) const {
    const Line* line = FindKey(section, key);
    if (line == nullptr || line->value.empty()) {
        return defaultValue;
    }
    return static_cast<int>(std::strtol(line->value.c_str(), nullptr, 10));
}

void CProfileFile::WriteString(const std::string& section, const std::string& key,
                               const std::string& value) {
    auto found = std::find_if(sections_.begin() + 1, sections_.end(),
                              [&](const Section& s) { return EqualNoCase(s.name, section); });
    if (found == sections_.end()) {
        sections_.push_back(Section{section, {Line{"[" + section + "]", {}, {}}}});
        found = sections_.end() - 1;
    }
    Line replacement{key + "=" + value, key, value};
    for (Line& line : found->lines) {
        if (line.key && EqualNoCase(*line.key, key)) {
            replacement.key = line.key;  // keep the spelling the file already uses
            replacement.text = *line.key + "=" + value;
            line = std::move(replacement);
            return;
        }
    }
    // After the section's last key, so trailing blank lines stay between sections.
    auto insertAt = found->lines.end();
    while (insertAt != found->lines.begin() + 1 && Trim((insertAt - 1)->text).empty()) {
        --insertAt;
    }
    found->lines.insert(insertAt, std::move(replacement));
}

std::filesystem::path ResolveLinks(const std::filesystem::path& path) {
    // The kernel's own limit on links followed in one lookup.
    constexpr int kMaxLinks = 40;
    std::filesystem::path current = path;
    for (int i = 0; i < kMaxLinks; ++i) {
        std::error_code error;
        if (!std::filesystem::is_symlink(std::filesystem::symlink_status(current, error))) {
            return current;
        }
        const std::filesystem::path target = std::filesystem::read_symlink(current, error);
        if (error) {
            return current;
        }
        current = target.is_absolute() ? target : current.parent_path() / target;
    }
    return current;
}

void RemoveStaleTemporaryFiles(const std::filesystem::path& file) {
    const std::string prefix = file.filename().string() + ".tmp";
    const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : ".";
    std::error_code error;
    // Stepped with an error code: a folder that cannot be listed just keeps its litter.
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        const std::filesystem::directory_entry& entry = *it;
        const std::string name = entry.path().filename().string();
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) {
            continue;
        }
        const std::string digits = name.substr(prefix.size());
        if (digits.size() > 9 || !std::all_of(digits.begin(), digits.end(),
                                              [](char c) { return c >= '0' && c <= '9'; })) {
            continue;
        }
        const pid_t pid = static_cast<pid_t>(std::stol(digits));
        // A process that still runs may be saving right now; only the dead leave litter.
        if (pid > 0 && pid != ::getpid() && ::kill(pid, 0) != 0 && errno == ESRCH) {
            std::error_code ignored;
            std::filesystem::remove(entry.path(), ignored);
        }
    }
}

bool CProfileFile::Save(std::string* error) const {
    if (status_ == ELoadStatus::kUnreadable) {
        return Fail(error, path_.string() + " could not be read (" + loadError_ +
                               "), so it was left as it is");
    }
    const std::filesystem::path target = ResolveLinks(path_);
    std::error_code noFolder;
    if (target.has_parent_path()) {
        std::filesystem::create_directories(target.parent_path(), noFolder);
    }
    // New files get the usual permissions, narrowed by the umask; an existing file keeps its own.
    mode_t mode = 0666;
    bool keepMode = false;
    struct stat info {};
    if (::stat(target.c_str(), &info) == 0) {
        if (!S_ISREG(info.st_mode)) {
            return Fail(error, target.string() + " is not a regular file");
        }
        // Checked on the mode bits as well: a privileged user may write anything.
        if ((info.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0) {
            return Fail(error, target.string() + " is read-only");
        }
        mode = info.st_mode & 07777;
        keepMode = true;
    }
    RemoveStaleTemporaryFiles(target);

    std::filesystem::path temporary = target;
    temporary += ".tmp" + std::to_string(::getpid());
    ::unlink(temporary.c_str());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) {
        return Fail(error, "cannot write beside " + target.string() + " (" + Reason(errno) + ")");
    }
    std::string text;
    for (const Section& section : sections_) {
        for (const Line& line : section.lines) {
            text += line.text;
            text += lineEnd_;
        }
    }
    if (keepMode) {
        // The owner too, where we may (a privileged user saving someone else's file); a file
        // that cannot keep its owner is still saved.
        [[maybe_unused]] const int ignored = ::fchown(fd, info.st_uid, info.st_gid);
    }
    bool ok = WriteWhole(fd, text) && (!keepMode || ::fchmod(fd, mode) == 0) && ::fsync(fd) == 0;
    const int writeError = errno;
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
        ::unlink(temporary.c_str());
        return Fail(error, "cannot write " + target.string() + " (" + Reason(writeError) + ")");
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        const int renameError = errno;
        ::unlink(temporary.c_str());
        return Fail(error, "cannot replace " + target.string() + " (" + Reason(renameError) + ")");
    }
    return true;
}

}  // namespace corvane3
