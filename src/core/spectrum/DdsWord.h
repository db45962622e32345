#pragma once
// Frequency words of the instrument's microwave synthesizer: a DDS with a 45 MHz clock and a
// 48-bit phase accumulator. On the wire a word is exactly twelve upper-case hexadecimal digits.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvane3 {

// 2^48 / 45 MHz and 45 MHz / 2^48, with the digits the instrument's firmware uses.
inline constexpr double kDdsWordsPerHz = 6254999.48246;
inline constexpr double kDdsHzPerWord = 1.59872115546e-07;
inline constexpr std::uint64_t kDdsWordMask = 0xFFFFFFFFFFFFULL;
inline constexpr std::size_t kDdsWordDigits = 12;

// DDS frequency of the clock transition's Ramsey peak (zero detuning),
// 9192631770.872 Hz at the cesium end.
inline constexpr double kClockRamseyPeakHz = 12631771.872;

// The word for f Hz, rounded to the nearest; frequencies outside the accumulator's range give
// 0 or the largest word.
std::uint64_t HzToDdsWord(double hz);
// The frequency of a word, Hz.
double DdsWordToHz(std::uint64_t word);

// Twelve upper-case hexadecimal digits.
std::string FormatDdsWord(std::uint64_t word);
// The word of exactly twelve hexadecimal digits (either case); nullopt for anything else.
std::optional<std::uint64_t> ParseDdsWord(std::string_view text);

}  // namespace corvane3
