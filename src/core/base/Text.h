#pragma once
// Small text helpers shared by the configuration file, the replies and the simulator.

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>

namespace corvane3 {

// The text without white space at either end.
inline std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
        text.remove_prefix(1);
    }
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
        text.remove_suffix(1);
    }
    return text;
}

// The letter in lower case, A to Z only: names in files and on the command line compare the same
// under every locale (a Turkish one has no lower-case form of I in one byte).
constexpr char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline std::string AsciiLower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return AsciiLower(c); });
    return text;
}

// True when the texts differ at most in the case of the letters A to Z.
inline bool EqualAsciiNoCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

}  // namespace corvane3
