#pragma once
// Reading the data of a command frame as the simulated unit accepts it; nullopt for data the
// unit would not understand.

#include <array>
#include <optional>
#include <string_view>

namespace corvane3::sim {

inline constexpr std::size_t kDdsWordDigits = 12;

// A decimal number in [min, max], optionally followed by suffix (W03 sends "+00020f").
std::optional<long> ParseLong(std::string_view text, long min, long max,
                              std::string_view suffix = {});
std::optional<double> ParseDouble(std::string_view text, double min, double max);
// Up to twelve hexadecimal digits.
std::optional<unsigned long long> ParseDdsWord(std::string_view text);
// Three two-digit numbers separated by one of the given characters: "mm/dd/yy", "hh:mm:ss".
std::optional<std::array<int, 3>> ParseTriple(std::string_view text, std::string_view separators);

}  // namespace corvane3::sim
