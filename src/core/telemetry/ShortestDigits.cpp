#include "core/telemetry/ShortestDigits.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "core/telemetry/TelemetryChunks.h"

namespace corvane3 {

using shortest_digits_detail::kDoubleExactDigits;
using shortest_digits_detail::TextDigitsReadBack;

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
