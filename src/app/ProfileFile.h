#pragma once
// An INI file read and written the way the classic profile services do it: sections and keys
// match without regard to case, a value is the text after '=' with surrounding blanks and one
// pair of matching quotes removed, lines that are not keys (comments, blank lines) are kept,
// a key written again is updated in place, a new key goes to the end of its section and a new
// section to the end of the file.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace corvane3 {

class CProfileFile {
  public:
    // Reads path if it exists; a missing file is an empty profile.
    explicit CProfileFile(std::filesystem::path path);

    const std::filesystem::path& Path() const { return path_; }

    // The value of key in section, or defaultValue when the key is absent.
    std::string GetString(const std::string& section, const std::string& key,
                          const std::string& defaultValue) const;
    // The value read as a decimal integer (leading blanks, an optional sign, digits; text that
    // is not a number gives 0), or defaultValue when the key is absent or empty.
    int GetInt(const std::string& section, const std::string& key, int defaultValue) const;
    // Sets key in section, in memory. Save() writes the file.
    void WriteString(const std::string& section, const std::string& key, const std::string& value);

    // Writes the whole profile: to a temporary file beside it, then renamed over it, so a failed
    // save never leaves a half-written file. The folder is created if missing. False on failure.
    bool Save() const;

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
};

}  // namespace corvane3
