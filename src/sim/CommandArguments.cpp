#include "sim/CommandArguments.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>

#include "core/base/Text.h"

namespace corvane3::sim {

std::optional<long> ParseLong(std::string_view text, long min, long max, std::string_view suffix) {
    const std::string trimmed(TrimBlanks(text));
    if (trimmed.empty()) {
        return std::nullopt;
    }
    char* end = nullptr;
    const long value = std::strtol(trimmed.c_str(), &end, 10);
    if (end == trimmed.c_str() || (*end != '\0' && std::string_view(end) != suffix) ||
        value < min || value > max) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> ParseDouble(std::string_view text, double min, double max) {
    const std::string trimmed(TrimBlanks(text));
    char* end = nullptr;
    const double value = std::strtod(trimmed.c_str(), &end);
    if (trimmed.empty() || *end != '\0' || !(value >= min && value <= max)) {
        return std::nullopt;
    }
    return value;
}

std::optional<unsigned long long> ParseDdsWord(std::string_view text) {
    if (text.empty() || text.size() > kDdsWordDigits ||
        !std::all_of(text.begin(), text.end(),
                     [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; })) {
        return std::nullopt;
    }
    return std::strtoull(std::string(text).c_str(), nullptr, 16);
}

std::optional<std::array<int, 3>> ParseTriple(std::string_view text, std::string_view separators) {
    text = TrimBlanks(text);
    if (text.size() != 8 || separators.find(text[2]) == std::string_view::npos ||
        separators.find(text[5]) == std::string_view::npos) {
        return std::nullopt;
    }
    std::array<int, 3> parts{};
    for (std::size_t i = 0; i < 3; ++i) {
        const char high = text[3 * i], low = text[3 * i + 1];
        if (!std::isdigit(static_cast<unsigned char>(high)) ||
            !std::isdigit(static_cast<unsigned char>(low))) {
            return std::nullopt;
        }
        parts[i] = (high - '0') * 10 + (low - '0');
    }
    return parts;
}

}  // namespace corvane3::sim
