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
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/plot/PlotData.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

namespace shortest_digits_detail {

// Bytes of a field that ShortestTextOfField reads at once; longer fields take the general way.
inline constexpr std::size_t kFieldBytes = 16;

// For the kFieldBytes bytes at p: bit i set where p[i] is a blank, a digit, a digit other than
// 0, a point, a minus.
struct FieldByteMasks {
    std::uint32_t blank = 0;
    std::uint32_t digit = 0;
    std::uint32_t nonZero = 0;
    std::uint32_t point = 0;
    std::uint32_t minus = 0;
};

inline FieldByteMasks MasksOfField(const char* p) {
    FieldByteMasks masks;
#if defined(__SSE2__)
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const auto mask = [](__m128i set) {
        return static_cast<std::uint32_t>(_mm_movemask_epi8(set));
    };
    // Bytes below '0' or above '9' are below 0 or above 9 here (those past 0x7f below 0).
    const __m128i offset = _mm_sub_epi8(bytes, _mm_set1_epi8('0'));
    const __m128i digit = _mm_and_si128(_mm_cmpgt_epi8(offset, _mm_set1_epi8(-1)),
                                        _mm_cmplt_epi8(offset, _mm_set1_epi8(10)));
    masks.blank = mask(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(' ')));
    masks.digit = mask(digit);
    masks.nonZero = mask(_mm_andnot_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('0')), digit));
    masks.point = mask(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('.')));
    masks.minus = mask(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('-')));
#else
    for (std::size_t i = 0; i < kFieldBytes; ++i) {
        const bool digit = p[i] >= '0' && p[i] <= '9';
        masks.blank |= std::uint32_t{p[i] == ' '} << i;
        masks.digit |= std::uint32_t{digit} << i;
        masks.nonZero |= std::uint32_t{digit && p[i] != '0'} << i;
        masks.point |= std::uint32_t{p[i] == '.'} << i;
        masks.minus |= std::uint32_t{p[i] == '-'} << i;
    }
#endif
    return masks;
}

// "-0" where ShortestTextOfField gives a zero, padded as a line is (TelemetryLine), so that its
// callers may read as many bytes from it as from a field.
inline constexpr char kSignedZeroText[32] = "-0";

// A float channel's value of at most this many whole digits keeps the digits of its text: below
// 2^24 no text of kFloatExactDigits digits, nor the double it was rounded to, lies halfway between
// two floats (a search of every such text of up to kFieldBytes bytes finds none), so the float is
// the one nearest to the text.
inline constexpr int kFloatWholeDigitsFromText = 7;

}  // namespace shortest_digits_detail

// What the CSV export writes for a field of a record line, found from its text alone where the
// text decides it: for plain decimal text (blanks, an optional minus, digits with at most one
// point) of at most 16 bytes, what ShortestTextOf gives for any value read from it ("0" or "-0"
// for a zero, as the value is kept). Empty where the value must be known: other text, too many
// digits, a leading zero before other whole digits, or a float channel's value of 10^7 or more.
// The 32 bytes from field can be read (see TelemetryLine); the bytes past length do not matter,
// and 32 can be read from what is given.
inline std::string_view ShortestTextOfField(const char* field, std::size_t length,
                                            EPlotStorage storage) {
    using namespace shortest_digits_detail;
    if (length == 0 || length > kFieldBytes) {
        return {};
    }
    const FieldByteMasks masks = MasksOfField(field);
    const auto end = static_cast<int>(length);
    const std::uint32_t inField = (std::uint32_t{1} << end) - 1;
    const int lead = std::countr_one(masks.blank & inField);
    if (lead == end) {
        return {};
    }
    const bool negative = ((masks.minus >> lead) & 1) != 0;
    const int digitsAt = lead + (negative ? 1 : 0);
    const std::uint32_t body = inField & ~((std::uint32_t{1} << digitsAt) - 1);
    const std::uint32_t points = masks.point & body;
    const std::uint32_t nonZero = masks.nonZero & body;
    if ((body & ~(masks.digit | points)) != 0 || (points & (points - 1)) != 0 ||
        (masks.digit & body) == 0) {
        return {};  // no plain decimal
    }
    if (nonZero == 0) {
        // A zero: a whole-number channel keeps no sign.
        const std::string_view zero(kSignedZeroText, 2);
        return negative && storage != EPlotStorage::kInt32 ? zero : zero.substr(1);
    }
    const int point = points != 0 ? std::countr_zero(points) : end;
    if (point == digitsAt) {
        return {};  // ".5": the digits start with a whole digit
    }
    int first = digitsAt;
    if (field[digitsAt] == '0') {
        if (point != digitsAt + 1) {
            return {};  // a leading zero is never written before other whole digits
        }
        first = std::countr_zero(nonZero);
    }
    const int lastNonZero = std::bit_width(nonZero) - 1;
    const int count = lastNonZero - first + 1 - (point > first && point < lastNonZero ? 1 : 0);
    const int copyEnd = point >= end ? end : lastNonZero < point ? point : lastNonZero + 1;
    const int scientificLength = count + (count > 1 ? 1 : 0) + kScientificExtraCharacters;
    const bool single = storage == EPlotStorage::kFloat;
    if (copyEnd - digitsAt > scientificLength ||
        count > (single ? kFloatExactDigits : kDoubleExactDigits) ||
        (single && point - digitsAt > kFloatWholeDigitsFromText)) {
        return {};
    }
    return {field + lead, static_cast<std::size_t>(copyEnd - lead)};
}

}  // namespace corvane3
