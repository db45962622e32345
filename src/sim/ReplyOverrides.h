#pragma once
// Replies read from a file instead of simulated. Each line is CODE, TAB, REPLY with the reply
// escaped as in EscapeBytes; a line starting with '#' is a comment, an empty line is skipped.
// The replies listed for a code are given in order, the last one repeating; an empty REPLY
// means the unit sends nothing.

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane3::sim {

class CReplyOverrides {
  public:
    // Parses file text. On a malformed line: nullopt and error names the line.
    static std::optional<CReplyOverrides> Parse(std::string_view text, std::string& error);
    static std::optional<CReplyOverrides> Load(const std::filesystem::path& file,
                                               std::string& error);

    void Add(const std::string& code, std::string reply);
    // Replaces the replies for code; an empty list removes the code.
    void Set(const std::string& code, const std::vector<std::string>& replies);
    void Clear() { replies_.clear(); }
    bool Covers(const std::string& code) const { return replies_.count(code) != 0; }
    // The next reply for code; nullopt when the code is not listed.
    std::optional<std::string> Next(const std::string& code);

  private:
    struct Script {
        std::vector<std::string> replies;
        std::size_t next = 0;
    };
    std::map<std::string, Script> replies_;
};

}  // namespace corvane3::sim
