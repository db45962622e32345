#include "core/telemetry/ShortestDigits.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "core/telemetry/TelemetryChunks.h"

namespace corvane3 {

static_assert(kMaxTelemetryFieldCharacters < kMaxNumberCharacters);

char* WriteNumber(char* out, double value, EPlotStorage storage) {
    if (std::isnan(value)) {
        return out;
    }
    return (storage == EPlotStorage::kFloat
                ? std::to_chars(out, out + kMaxNumberCharacters, static_cast<float>(value))
                : std::to_chars(out, out + kMaxNumberCharacters, value))
        .ptr;
}

void AppendNumber(std::string& text, double value, EPlotStorage storage) {
    char digits[kMaxNumberCharacters];
    text.append(digits, static_cast<std::size_t>(WriteNumber(digits, value, storage) - digits));
}

namespace {

// Plain decimal text of at most this many significant digits reads back to one value only: no
// other such text gives the same float (or double), so its digits are the fewest that do.
constexpr int kFloatExactDigits = 6;
constexpr int kDoubleExactDigits = 15;

// The float next to value, upwards or downwards, as std::nextafter gives it; a step of the
// bits for a finite value other than zero (the common case: a library call costs more than the
// rest of the check).
float NextFloatToward(float value, bool up) {
    if (value == 0.0F || !std::isfinite(value)) {
        return std::nextafter(value, up ? HUGE_VALF : -HUGE_VALF);
    }
    const auto bits = std::bit_cast<std::uint32_t>(value);
    const bool awayFromZero = up == (value > 0.0F);
    return std::bit_cast<float>(awayFromZero ? bits + 1 : bits - 1);
}

// True when text of count significant digits that was parsed to parsed has the fewest digits
// that read back to stored, the value kept in storage.
bool TextDigitsReadBack(int count, double parsed, double stored, EPlotStorage storage) {
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
constexpr int kScientificExtraCharacters = 4;

}  // namespace

std::string_view ShortestTextOf(std::string_view field, double parsed, double stored,
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
    const char* const copyEnd = point == nullptr      ? e
                                : lastNonZero < point ? point
                                                      : lastNonZero + 1;
    const auto count = static_cast<int>(lastNonZero - first + 1) -
                       (point != nullptr && point > first && point < lastNonZero ? 1 : 0);
    const int scientificLength = count + (count > 1 ? 1 : 0) + kScientificExtraCharacters;
    if (copyEnd - s > scientificLength || !TextDigitsReadBack(count, parsed, stored, storage)) {
        return {};
    }
    return {copyBegin, static_cast<std::size_t>(copyEnd - copyBegin)};
}

bool CopyShortestText(std::string& out, std::string_view field, double parsed, double stored,
                      EPlotStorage storage) {
    const std::string_view text = ShortestTextOf(field, parsed, stored, storage);
    out.append(text);
    return !text.empty();
}

char* WriteDigitsOfText(char* out, std::string_view field, double parsed, double stored,
                        EPlotStorage storage) {
    if (stored == 0.0) {
        if (std::signbit(stored)) {
            *out++ = '-';
        }
        *out++ = '0';
        return out;
    }
    std::size_t i = 0;
    // The blanks decimal text-to-double skips.
    const auto blank = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (i < field.size() && blank(field[i])) {
        ++i;
    }
    const bool negative = i < field.size() && field[i] == '-';
    if (i < field.size() && (field[i] == '-' || field[i] == '+')) {
        ++i;
    }
    // The significant digits, and the power of ten of the first one.
    char digits[kDoubleExactDigits];
    int count = 0;
    int exponent = 0;
    bool point = false;
    bool any = false;
    int zerosAfterPoint = 0;  // before the first significant digit
    int integerDigits = 0;    // significant ones before the point
    int pending = 0;          // zeros after the last non-zero digit, not yet counted
    for (; i < field.size(); ++i) {
        const char c = field[i];
        if (c == '.' && !point) {
            point = true;
            continue;
        }
        if (c < '0' || c > '9') {
            return nullptr;
        }
        any = true;
        if (c == '0') {
            if (count == 0) {
                zerosAfterPoint += point ? 1 : 0;
            } else {
                ++pending;
                integerDigits += point ? 0 : 1;
            }
            continue;
        }
        if (count + pending + 1 > kDoubleExactDigits) {
            return nullptr;
        }
        for (; pending > 0; --pending) {
            digits[count++] = '0';
        }
        digits[count++] = c;
        integerDigits += point ? 0 : 1;
    }
    if (!any || count == 0 || (negative != std::signbit(stored))) {
        return nullptr;
    }
    if (!TextDigitsReadBack(count, parsed, stored, storage)) {
        return nullptr;
    }
    exponent = integerDigits > 0 ? integerDigits - 1 : -(zerosAfterPoint + 1);
    // Fixed or scientific, whichever is shorter (fixed on a tie), as to_chars chooses.
    const int fixedLength = exponent >= 0
                                ? std::max(count, exponent + 1) + (count > exponent + 1 ? 1 : 0)
                                : 2 + (-exponent - 1) + count;
    constexpr int kLongExponent = 100;  // three exponent digits from here
    const int exponentDigits = std::abs(exponent) >= kLongExponent ? 3 : 2;
    const int scientificLength = count + (count > 1 ? 1 : 0) + 2 + exponentDigits;
    // At most kDoubleExactDigits digits, a sign, a point and an exponent.
    char* t = out;
    if (negative) {
        *t++ = '-';
    }
    if (fixedLength <= scientificLength) {
        if (exponent >= 0) {
            for (int d = 0; d <= exponent; ++d) {
                *t++ = d < count ? digits[d] : '0';
            }
            if (count > exponent + 1) {
                *t++ = '.';
                t = std::copy(digits + exponent + 1, digits + count, t);
            }
        } else {
            *t++ = '0';
            *t++ = '.';
            t = std::fill_n(t, -exponent - 1, '0');
            t = std::copy(digits, digits + count, t);
        }
    } else {
        *t++ = digits[0];
        if (count > 1) {
            *t++ = '.';
            t = std::copy(digits + 1, digits + count, t);
        }
        *t++ = 'e';
        *t++ = exponent < 0 ? '-' : '+';
        const int magnitude = std::abs(exponent);
        if (magnitude >= kLongExponent) {
            *t++ = static_cast<char>('0' + magnitude / 100);
        }
        *t++ = static_cast<char>('0' + magnitude / 10 % 10);
        *t++ = static_cast<char>('0' + magnitude % 10);
    }
    return t;
}

bool AppendDigitsOfText(std::string& out, std::string_view field, double parsed, double stored,
                        EPlotStorage storage) {
    char text[kMaxNumberCharacters];
    const char* const end = WriteDigitsOfText(text, field, parsed, stored, storage);
    if (end != nullptr) {
        out.append(text, static_cast<std::size_t>(end - text));
    }
    return end != nullptr;
}

}  // namespace corvane3
