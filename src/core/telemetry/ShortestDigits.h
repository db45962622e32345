#pragma once
// The fewest digits that read back to a value as the plot store keeps it (as double, as float,
// or as a whole number kept as double), written as std::to_chars writes them: fixed or
// scientific, whichever is shorter. The CSV export writes every number this way. Working the
// digits out is slow; when the value came from plain decimal text of few enough significant
// digits, those digits are the answer, and the text's own digits are taken instead.
//
//   std::string line;
//   if (!CopyShortestText(line, field, parsed, stored, storage) &&
//       !AppendDigitsOfText(line, field, parsed, stored, storage)) {
//       AppendNumber(line, stored, storage);
//   }

#include <bit>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/plot/PlotData.h"

namespace corvane3 {

// Appends the fewest digits that read back to value as storage keeps it; nothing for an absent
// (NaN) value, so that its CSV field is empty.
void AppendNumber(std::string& text, double value, EPlotStorage storage);

// The common case of AppendDigitsOfText, in one walk and one copy: blanks, a minus and plain
// decimal text that is written as it is once its trailing zeros (and a point left bare) are
// dropped ("35.540" as "35.54", "2.00" as "2"). parsed is the value the text gave, stored the
// value kept in storage. False (nothing appended) for any other text, zero, or a value its
// digits do not read back to.
bool CopyShortestText(std::string& out, std::string_view field, double parsed, double stored,
                      EPlotStorage storage);

// Appends what AppendNumber would for stored, taken from the field's own text: possible when the
// text is plain decimal ("-15.500", " 7.51", "0.000120") of few enough significant digits; zero
// is always written ("0", "-0"). Fields are at most kMaxTelemetryFieldCharacters long. False
// (nothing appended) when the text is no such text or the value is not the one it reads back to.
bool AppendDigitsOfText(std::string& out, std::string_view field, double parsed, double stored,
                        EPlotStorage storage);

// The same written into a buffer, for a writer of many values (the CSV export), which then
// needs no string operation per value. Each writes at most kMaxNumberCharacters at out and
// returns the end of what it wrote; WriteDigitsOfText returns nullptr where AppendDigitsOfText
// returns false, and ShortestTextOf gives the part of the field CopyShortestText copies (empty
// where it returns false).
inline constexpr std::size_t kMaxNumberCharacters = 32;  // fields and doubles' digits are shorter
char* WriteNumber(char* out, double value, EPlotStorage storage);
char* WriteDigitsOfText(char* out, std::string_view field, double parsed, double stored,
                        EPlotStorage storage);

namespace shortest_digits_detail {

// Plain decimal text of at most this many significant digits reads back to one value only: no
// other such text gives the same float (or double), so its digits are the fewest that do.
inline constexpr int kFloatExactDigits = 6;
inline constexpr int kDoubleExactDigits = 15;

// The float next to value, upwards or downwards, as std::nextafter gives it; a step of the
// bits for a finite value other than zero (the common case: a library call costs more than the
// rest of the check).
inline float NextFloatToward(float value, bool up) {
    if (value == 0.0F || !std::isfinite(value)) {
        return std::nextafter(value, up ? HUGE_VALF : -HUGE_VALF);
    }
    const auto bits = std::bit_cast<std::uint32_t>(value);
    const bool awayFromZero = up == (value > 0.0F);
    return std::bit_cast<float>(awayFromZero ? bits + 1 : bits - 1);
}

// True when text of count significant digits that was parsed to parsed has the fewest digits
// that read back to stored, the value kept in storage.
inline bool TextDigitsReadBack(int count, double parsed, double stored, EPlotStorage storage) {
    const int limit = storage == EPlotStorage::kFloat ? kFloatExactDigits : kDoubleExactDigits;
    if (count > limit) {
        return false;
    }
    if (storage == EPlotStorage::kFloat) {
        // The text went to double and then to float: when the double lay exactly between two
        // floats, the float need not be the one nearest to the text.
        const auto single = static_cast<float>(stored);
        if (static_cast<double>(single) != parsed) {
            const float other = NextFloatToward(single, parsed > stored);
            if ((static_cast<double>(single) + static_cast<double>(other)) / 2.0 == parsed) {
                return false;
            }
        }
        return true;
    }
    return parsed == stored;
}

// Where to_chars turns to scientific notation: "1e+05" is shorter than "100000", "1e-04" than
// "0.0001". A sign, a mantissa point when there are several digits, and "e+NN".
inline constexpr int kScientificExtraCharacters = 4;

}  // namespace shortest_digits_detail

namespace shortest_digits_detail {

// The end of ShortestTextOf, once the text's parts are found: copyBegin after the blanks, digits
// after the sign, first the first significant digit, point the point (nullptr, or not before
// end, when there is none), lastNonZero the last digit other than 0.
inline std::string_view ShortestTextOfParts(const char* copyBegin, const char* digits,
                                            const char* first, const char* point,
                                            const char* lastNonZero, const char* end, double parsed,
                                            double stored, EPlotStorage storage) {
    const char* const copyEnd = point == nullptr || point >= end ? end
                                : lastNonZero < point            ? point
                                                                 : lastNonZero + 1;
    const auto count = static_cast<int>(lastNonZero - first + 1) -
                       (point != nullptr && point > first && point < lastNonZero ? 1 : 0);
    const int scientificLength = count + (count > 1 ? 1 : 0) + kScientificExtraCharacters;
    if (copyEnd - digits > scientificLength ||
        !TextDigitsReadBack(count, parsed, stored, storage)) {
        return {};
    }
    return {copyBegin, static_cast<std::size_t>(copyEnd - copyBegin)};
}

}  // namespace shortest_digits_detail

// Inline: the CSV export asks it for every value.
inline std::string_view ShortestTextOf(std::string_view field, double parsed, double stored,
                                       EPlotStorage storage) {
    const char* s = field.data();
    const char* const e = s + field.size();
    while (s < e && *s == ' ') {
        ++s;
    }
    const char* const copyBegin = s;
    const bool negative = s < e && *s == '-';
    s += negative ? 1 : 0;
    if (s == e || stored == 0.0 || negative != std::signbit(stored)) {
        return {};
    }
    // The first significant digit: the first digit, or the first non-zero one after "0.".
    const char* first = s;
    const char* point = nullptr;
    if (*s < '0' || *s > '9') {
        return {};  // ".5": the digits start with a whole digit
    }
    if (*s == '0') {
        if (e - s < 3 || s[1] != '.') {
            return {};  // a leading zero is never written before other whole digits
        }
        point = s + 1;
        for (first = s + 2; first < e && *first == '0'; ++first) {
        }
    }
    const char* lastNonZero = nullptr;
    for (const char* p = first; p < e; ++p) {
        const auto digit = static_cast<unsigned>(static_cast<unsigned char>(*p) - '0');
        if (digit < 10) {
            lastNonZero = digit != 0 ? p : lastNonZero;
        } else if (*p == '.' && point == nullptr) {
            point = p;
        } else {
            return {};
        }
    }
    if (lastNonZero == nullptr) {
        return {};
    }
    return shortest_digits_detail::ShortestTextOfParts(copyBegin, s, first, point, lastNonZero, e,
                                                       parsed, stored, storage);
}

// ShortestTextOf for a field the parser found to be plain decimal (blanks, an optional minus,
// digits with at least one of them, at most one point), its point at point (the field's end when
// it has none): nothing left to check, the last significant digit is found from the end.
inline std::string_view ShortestTextOfPlain(std::string_view field, const char* point,
                                            double parsed, double stored, EPlotStorage storage) {
    const char* s = field.data();
    const char* const e = s + field.size();
    while (*s == ' ') {  // a digit or the point follows
        ++s;
    }
    const char* const copyBegin = s;
    const bool negative = *s == '-';
    s += negative ? 1 : 0;
    if (stored == 0.0 || negative != std::signbit(stored) || s == point) {
        return {};  // ".5": the digits start with a whole digit
    }
    const char* first = s;
    if (*s == '0') {
        if (e - s < 3 || point != s + 1) {
            return {};  // a leading zero is never written before other whole digits
        }
        for (first = s + 2; first < e && *first == '0'; ++first) {
        }
    }
    const char* lastNonZero = e - 1;
    while (lastNonZero > first && (*lastNonZero == '0' || lastNonZero == point)) {
        --lastNonZero;
    }
    if (lastNonZero < first || *lastNonZero == '0') {
        return {};  // all zeros
    }
    return shortest_digits_detail::ShortestTextOfParts(copyBegin, s, first, point, lastNonZero, e,
                                                       parsed, stored, storage);
}

}  // namespace corvane3
