#pragma once
// An INI file read and written the way the classic profile services do it: sections and keys
// match without regard to case, a value is the text after '=' with surrounding blanks and one
// pair of matching quotes removed, lines that are not keys (comments, blank lines) are kept,
// a key written again is updated in place, a new key goes to the end of its section and a new
// section to the end of the file.
//
// Saving never destroys what it could not read: a file that exists but could not be read, or
// that is read-only, is left alone. A symbolic link is written through to its target, and the
// file keeps its line ends (LF or CR LF) and its permissions.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace corvane3 {

class CProfileFile {
  public:
    enum class ELoadStatus {
        kMissing,     // no file yet: an empty profile
        kRead,        // read whole
        kUnreadable,  // exists but could not be read (permissions, a folder, an I/O error)
    };

    // Reads path if it exists; a missing file is an empty profile.
    explicit CProfileFile(std::filesystem::path path);

    const std::filesystem::path& Path() const { return path_; }
    ELoadStatus Status() const { return status_; }
    // Why the file could not be read (kUnreadable only).
    const std::string& LoadError() const { return loadError_; }

    // The value of key in section, or defaultValue when the key is absent.
    std::string GetString(const std::string& section, const std::string& key,
                          const std::string& defaultValue) const;
    // The value read as a decimal integer (leading blanks, an optional sign, digits; text that
    // is not a number gives 0), or defaultValue when the key is absent or empty.
    int GetInt(const std::string& section, const std::string& key, int defaultValue) const;
    // Sets key in section, in memory. Save() writes the file.
    void WriteString(const std::string& section, const std::string& key, const std::string& value);

    // Writes the whole profile: to a temporary file beside the real file (the link's target for
    // a symbolic link), then renamed over it, so a failed save never leaves a half-written
    // file. Temporary files that earlier, killed saves left there are removed. The folder is
    // created if missing. False, with the reason in error when given, when nothing was written:
    // the file could not be read, it is read-only, or writing failed.
    bool Save(std::string* error = nullptr) const;

  private:
    struct Line {
        std::string text;                // the line as it is written
        std::optional<std::string> key;  // set for key lines
        std::string value;               // for key lines
    };
    struct Section {
        std::string name;  // empty for lines before the first section header
        std::vector<Line> lines;
    };

    const Section* FindSection(const std::string& name) const;
    const Line* FindKey(const std::string& section, const std::string& key) const;

    std::filesystem::path path_;
    std::vector<Section> sections_;
    ELoadStatus status_ = ELoadStatus::kMissing;
    std::string loadError_;
    std::string lineEnd_ = "\n";
};

// The file a path names once symbolic links are followed (at most 40 of them, as the kernel
// does); a link to a file that does not exist yet gives that file's path. The path itself when
// it is not a link.
std::filesystem::path ResolveLinks(const std::filesystem::path& path);

// Removes temporary files "<name>.tmp<pid>" beside file whose process no longer runs: what a
// save that was killed half-way leaves behind.
void RemoveStaleTemporaryFiles(const std::filesystem::path& file);

}  // namespace corvane3
