#pragma once
// Small text helpers shared by the configuration file, the replies and the simulator.

#include <cctype>
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

}  // namespace corvane3
