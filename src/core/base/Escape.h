#pragma once
// The text form of raw bytes used by the simulator's override files and by traffic transcripts:
// printable ASCII stands for itself, "\\" for a backslash, "\r", "\n", "\t" for CR, LF and TAB,
// and "\xHH" for every other byte (STX is "\x02").

#include <optional>
#include <string>
#include <string_view>

namespace corvane3 {

// Always succeeds; the result holds only printable ASCII.
std::string EscapeBytes(std::string_view bytes);

// The bytes an escaped text stands for; nullopt for a backslash that starts no known escape
// (including a "\x" without two hexadecimal digits).
std::optional<std::string> UnescapeBytes(std::string_view text);

}  // namespace corvane3
