#include "core/spectrum/DdsWord.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace corvane3 {

std::uint64_t HzToDdsWord(double hz) {
    const double word = std::trunc(hz * kDdsWordsPerHz + 0.5);
    // A double outside the integer's range converts to nonsense; clamp first.
    if (!(word > 0.0)) {
        return 0;
    }
    if (word >= static_cast<double>(kDdsWordMask)) {
        return kDdsWordMask;
    }
    return static_cast<std::uint64_t>(word);
}

double DdsWordToHz(std::uint64_t word) {
    return static_cast<double>(word) * kDdsHzPerWord;
}

std::string FormatDdsWord(std::uint64_t word) {
    char text[24];
    std::snprintf(text, sizeof text, "%012llX",
                  static_cast<unsigned long long>(word & kDdsWordMask));
    return text;
}

std::optional<std::uint64_t> ParseDdsWord(std::string_view text) {
    if (text.size() != kDdsWordDigits) {
        return std::nullopt;
    }
    std::uint64_t word = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), word, 16);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return word;
}

}  // namespace corvane3
