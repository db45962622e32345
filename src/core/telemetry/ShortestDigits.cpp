#include "core/telemetry/ShortestDigits.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "core/telemetry/TelemetryChunks.h"

namespace corvane3 {

void AppendNumber(std::string& text, double value, EPlotStorage storage) {
    if (std::isnan(value)) {
        return;
    }
    char digits[64];
    const std::to_chars_result end =
        storage == EPlotStorage::kFloat
            ? std::to_chars(digits, digits + sizeof digits, static_cast<float>(value))
            : std::to_chars(digits, digits + sizeof digits, value);
    text.append(digits, end.ptr);
}

namespace {

// Plain decimal text of at most this many significant digits reads back to one value only: no
// other such text gives the same float (or double), so its digits are the fewest that do.
constexpr int kFloatExactDigits = 6;
constexpr int kDoubleExactDigits = 15;

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
            const float other = std::nextafter(single, parsed > stored ? HUGE_VALF : -HUGE_VALF);
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

bool CopyShortestText(std::string& out, std::string_view field, double parsed, double stored,
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
        return false;
    }
    // The first significant digit: the first digit, or the first non-zero one after "0.".
    const char* first = s;
    const char* point = nullptr;
    if (*s < '0' || *s > '9') {
        return false;  // ".5": the digits start with a whole digit
    }
    if (*s == '0') {
        if (e - s < 3 || s[1] != '.') {
            return false;  // a leading zero is never written before other whole digits
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
            return false;
        }
    }
    if (lastNonZero == nullptr) {
        return false;
    }
    const char* const copyEnd = point == nullptr      ? e
                                : lastNonZero < point ? point
                                                      : lastNonZero + 1;
    const auto count = static_cast<int>(lastNonZero - first + 1) -
                       (point != nullptr && point > first && point < lastNonZero ? 1 : 0);
    const int scientificLength = count + (count > 1 ? 1 : 0) + kScientificExtraCharacters;
    if (copyEnd - s > scientificLength || !TextDigitsReadBack(count, parsed, stored, storage)) {
        return false;
    }
    out.append(copyBegin, static_cast<std::size_t>(copyEnd - copyBegin));
    return true;
}

bool AppendDigitsOfText(std::string& out, std::string_view field, double parsed, double stored,
                        EPlotStorage storage) {
    if (stored == 0.0) {
        out += std::signbit(stored) ? "-0" : "0";
        return true;
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
            return false;
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
            return false;
        }
        for (; pending > 0; --pending) {
            digits[count++] = '0';
        }
        digits[count++] = c;
        integerDigits += point ? 0 : 1;
    }
    if (!any || count == 0 || (negative != std::signbit(stored))) {
        return false;
    }
    if (!TextDigitsReadBack(count, parsed, stored, storage)) {
        return false;
    }
    exponent = integerDigits > 0 ? integerDigits - 1 : -(zerosAfterPoint + 1);
    // Fixed or scientific, whichever is shorter (fixed on a tie), as to_chars chooses.
    const int fixedLength = exponent >= 0
                                ? std::max(count, exponent + 1) + (count > exponent + 1 ? 1 : 0)
                                : 2 + (-exponent - 1) + count;
    constexpr int kLongExponent = 100;  // three exponent digits from here
    const int exponentDigits = std::abs(exponent) >= kLongExponent ? 3 : 2;
    const int scientificLength = count + (count > 1 ? 1 : 0) + 2 + exponentDigits;
    // Fields are at most 31 characters, so the text fits with room to spare.
    char text[2 * kMaxTelemetryFieldCharacters];
    char* t = text;
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
    out.append(text, t);
    return true;
}

}  // namespace corvane3
