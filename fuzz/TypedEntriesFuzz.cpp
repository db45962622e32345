// Arbitrary typed text through the parsers of the settings dialogs and the spectrum window's
// numbers, each against a reference of its own:
// - a whole number is accepted exactly when it is blanks, an optional sign, digits and blanks,
//   and within long;
// - an IPv4 address is accepted exactly when it is four fields of 1 to 3 digits up to 255 (or
//   nothing), and shows and reads back to the same octets;
// - a "mm/dd/yy" date exists exactly when the calendar has that day;
// - a number typed for Delta-F, Delta-T or the diagnostics' slew and found in range becomes an
// argument of its fixed
//   width that reads back to the number;
// - a loop time constant typed in the factory settings ends within the unit's range: as typed
//   when it was in range, else corrected to the nearer limit; its W10 argument reads back to it
//   within the rounding of two decimals;
// - a frequency typed in the spectrum window is accepted only as a finite decimal number in the C
//   form, and written back with 17 digits reads as the same number;
// - a frequency becomes the DDS word nearest to it, within the word's resolution, and a word
//   shows and reads back as itself; a twelve-digit word typed in either case reads back as typed;
// - a sweep planned from the window's lists (and a typed Zeeman spacing) spans its width in the
//   chosen number of points, and its command argument reads back to the plan.

#include <cctype>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "core/base/CLocale.h"
#include "core/settings/SettingsEntries.h"
#include "core/settings/SettingsText.h"
#include "core/spectrum/DdsWord.h"
#include "core/spectrum/SweepParameters.h"

using namespace corvane3;

namespace {

// The dialogs' ranges: Delta-F offset (1e-15) and Delta-T slew (ns).
constexpr long kMaxFrequencyOffset = 999999;
constexpr long kMaxSlew = 9999;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

std::string_view Trimmed(std::string_view text) {
    constexpr std::string_view kBlanks = " \t\n\v\f\r";
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

void CheckWholeNumber(std::string_view text) {
    const std::optional<long> parsed = ParseWholeNumber(text);
    std::string_view digits = Trimmed(text);
    const bool negative = !digits.empty() && digits.front() == '-';
    if (!digits.empty() && (digits.front() == '+' || negative)) {
        digits.remove_prefix(1);
    }
    bool shaped = !digits.empty();
    for (const char c : digits) {
        shaped = shaped && IsDigit(c);
    }
    if (!shaped) {
        FUZZ_CHECK(!parsed);
        return;
    }
    // The magnitude as an unsigned number, so that the most negative long is told apart.
    unsigned long long magnitude = 0;
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
    const unsigned long long limit =
        static_cast<unsigned long long>(std::numeric_limits<long>::max()) + (negative ? 1 : 0);
    if (error != std::errc() || magnitude > limit) {
        FUZZ_CHECK(!parsed);
        return;
    }
    FUZZ_CHECK(parsed);
    const long expected =
        negative ? static_cast<long>(0ULL - magnitude) : static_cast<long>(magnitude);
    FUZZ_CHECK(*parsed == expected);
}

void CheckIpv4(std::string_view text) {
    const std::optional<Ipv4Octets> parsed = ParseIpv4Address(text);
    const std::string_view trimmed = Trimmed(text);
    bool shaped = true;
    Ipv4Octets octets{};
    if (!trimmed.empty()) {
        std::size_t field = 0, digits = 0;
        for (const char c : trimmed) {
            if (c == '.' && digits > 0 && field < 3) {
                ++field;
                digits = 0;
            } else if (IsDigit(c) && digits < 3) {
                octets[field] = octets[field] * 10 + (c - '0');
                ++digits;
            } else {
                shaped = false;
                break;
            }
        }
        shaped = shaped && field == 3 && digits > 0;
        for (int octet : octets) {
            shaped = shaped && octet <= 255;
        }
    }
    FUZZ_CHECK(parsed.has_value() == shaped);
    if (!parsed) {
        return;
    }
    FUZZ_CHECK(*parsed == octets);
    const std::string shown = ShowIpv4Address(*parsed);
    FUZZ_CHECK(shown.empty() == (*parsed == Ipv4Octets{}));
    const std::optional<Ipv4Octets> again = ParseIpv4Address(shown);
    FUZZ_CHECK(again && *again == *parsed);
}

void CheckDate(std::string_view text) {
    const bool layout = HasDateLayout(text);
    const bool exists = IsExistingDate(text);
    FUZZ_CHECK(!exists || layout);
    if (!layout) {
        return;
    }
    bool digits = true;
    for (std::size_t at : {0u, 1u, 3u, 4u, 6u, 7u}) {
        digits = digits && IsDigit(text[at]);
    }
    if (!digits) {
        FUZZ_CHECK(!exists);
        return;
    }
    const auto number = [&](std::size_t at) {
        return (text[at] - '0') * 10 + (text[at + 1] - '0');
    };
    using namespace std::chrono;
    const year_month_day date{year(2000 + number(6)), month(static_cast<unsigned>(number(0))),
                              day(static_cast<unsigned>(number(3)))};
    FUZZ_CHECK(exists == date.ok());
}

void CheckOffsetArguments(std::string_view text) {
    const long typed = LeadingInteger(text);
    if (typed >= -kMaxFrequencyOffset && typed <= kMaxFrequencyOffset) {
        const std::string argument = DeltaFArgument(typed);
        FUZZ_CHECK(argument.size() == 9 && argument.ends_with("  "));
        FUZZ_CHECK(argument[0] == (typed < 0 ? '-' : '+'));
        FUZZ_CHECK(LeadingInteger(argument) == typed);
    }
    if (typed >= -kMaxSlew && typed <= kMaxSlew) {
        const std::string argument = DeltaTArgument(typed);
        FUZZ_CHECK(argument.size() == 7 && argument.ends_with("  "));
        FUZZ_CHECK(LeadingInteger(argument) == typed);
    }
    if (typed >= -kMaxTimeUpdatingSlew && typed <= kMaxTimeUpdatingSlew) {
        const std::string argument = TimeUpdatingArgument(typed);
        FUZZ_CHECK(argument.size() == 7 && argument.ends_with('f'));
        FUZZ_CHECK(LeadingInteger(argument) == typed);
    }
}

void CheckLoopTimeConstant(std::string_view text) {
    const LoopTimeConstant tau = ReadLoopTimeConstant(text);
    FUZZ_CHECK(tau.seconds >= kMinLoopTimeConstant && tau.seconds <= kMaxLoopTimeConstant);
    const double typed = LeadingNumber(text);
    using ECorrection = LoopTimeConstant::ECorrection;
    if (typed >= kMinLoopTimeConstant && typed <= kMaxLoopTimeConstant) {
        FUZZ_CHECK(tau.correction == ECorrection::kNone && tau.seconds == typed);
    } else if (typed > kMaxLoopTimeConstant) {
        FUZZ_CHECK(tau.correction == ECorrection::kLowered && tau.seconds == kMaxLoopTimeConstant);
    } else {
        FUZZ_CHECK(tau.correction == ECorrection::kRaised && tau.seconds == kMinLoopTimeConstant);
    }
    const std::string argument = LoopTimeConstantArgument(tau.seconds);
    FUZZ_CHECK(argument.size() >= 6 && argument.size() <= 7 && argument.starts_with("1 "));
    FUZZ_CHECK(std::fabs(LeadingNumber(argument.substr(2)) - tau.seconds) <= 0.005 + 1e-9);
}

void CheckDecimal(std::string_view text) {
    const std::optional<double> parsed = ParseDecimal(text);
    if (!parsed) {
        return;
    }
    FUZZ_CHECK(std::isfinite(*parsed));
    for (const char c : Trimmed(text)) {
        FUZZ_CHECK(IsDigit(c) || std::string_view("+-.eE").find(c) != std::string_view::npos);
    }
    char written[64];
    {
        const CScopedCLocale numbers;
        std::snprintf(written, sizeof written, "%.17g", *parsed);
    }
    FUZZ_CHECK(ParseDecimal(written) == parsed);
}

void CheckDdsWord(double hz) {
    const std::uint64_t word = HzToDdsWord(hz);
    FUZZ_CHECK(word <= kDdsWordMask);
    const std::string shown = FormatDdsWord(word);
    FUZZ_CHECK(shown.size() == kDdsWordDigits);
    for (const char c : shown) {
        FUZZ_CHECK(IsDigit(c) || (c >= 'A' && c <= 'F'));
    }
    FUZZ_CHECK(ParseDdsWord(shown) == word);
    if (hz >= 0 && hz <= DdsWordToHz(kDdsWordMask)) {
        // The two constants of the firmware agree to about 1.5e-14 of a frequency.
        FUZZ_CHECK(std::fabs(DdsWordToHz(word) - hz) <= kDdsHzPerWord + hz * 1e-13);
    }
    // Nearby frequencies keep their order.
    if (std::isfinite(hz)) {
        FUZZ_CHECK(HzToDdsWord(std::nextafter(hz, HUGE_VAL)) >= word);
    }
}

void CheckTypedDdsWord(std::string_view text) {
    if (text.size() != kDdsWordDigits) {
        return;
    }
    const std::optional<std::uint64_t> word = ParseDdsWord(text);
    bool hex = true;
    std::string upper;
    for (const char c : text) {
        hex = hex && std::isxdigit(static_cast<unsigned char>(c));
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    FUZZ_CHECK(word.has_value() == hex);
    if (word) {
        FUZZ_CHECK(FormatDdsWord(*word) == upper);
    }
}

void CheckSweepPlan(std::size_t center, std::size_t width, std::size_t steps, double zeemanHz) {
    SweepParameters parameters;
    parameters.centerMf = kCenterChoices[center % kCenterChoices.size()].value;
    parameters.widthHz = kWidthChoices[width % kWidthChoices.size()].value;
    parameters.pointCount = kStepsChoices[steps % kStepsChoices.size()].value + 1;
    const SweepPlan plan = PlanSweep(parameters, zeemanHz);
    FUZZ_CHECK(plan.pointCount == parameters.pointCount);
    if (!std::isfinite(plan.centre) || std::fabs(plan.centre) > 1e12) {
        return;
    }
    // Rounding of the step across the points stays within a few units of the last place.
    const double tolerance =
        64 * std::numeric_limits<double>::epsilon() * (std::fabs(plan.centre) + parameters.widthHz);
    FUZZ_CHECK(std::fabs(plan.PointHz(0) - (plan.centre - parameters.widthHz / 2.0)) <= tolerance);
    FUZZ_CHECK(std::fabs(plan.PointHz(plan.pointCount - 1) -
                         (plan.centre + parameters.widthHz / 2.0)) <= tolerance);
    FUZZ_CHECK(plan.step > 0);

    const std::string argument = InstrumentSweepArgument(plan);
    FUZZ_CHECK(argument.size() >= 2 * kDdsWordDigits + 2 + 5);
    FUZZ_CHECK(argument[kDdsWordDigits] == ',' && argument[2 * kDdsWordDigits + 1] == ',');
    FUZZ_CHECK(ParseDdsWord(argument.substr(0, kDdsWordDigits)) == HzToDdsWord(plan.start));
    FUZZ_CHECK(ParseDdsWord(argument.substr(kDdsWordDigits + 1, kDdsWordDigits)) ==
               HzToDdsWord(plan.step));
    int count = 0;
    const char* countText = argument.data() + 2 * kDdsWordDigits + 2;
    const auto [end, error] = std::from_chars(countText, argument.data() + argument.size(), count);
    FUZZ_CHECK(error == std::errc() && end == argument.data() + argument.size());
    FUZZ_CHECK(count == plan.pointCount);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CheckWholeNumber(text);
    CheckIpv4(text);
    CheckDate(text);
    CheckOffsetArguments(text);
    CheckTypedDdsWord(text);
    CheckLoopTimeConstant(text);
    CheckDecimal(text);

    // A frequency typed in the spectrum window's dialogs, and any double at all.
    const double typed = LeadingNumber(text);
    CheckDdsWord(typed);
    CheckDdsWord(DdsSettingHz(EDdsSetting::kArbitrary, kDefaultZeemanFrequencyHz, typed));
    if (size >= sizeof(double)) {
        double raw = 0;
        std::memcpy(&raw, data, sizeof raw);
        CheckDdsWord(raw);
    }
    if (size >= 3) {
        CheckSweepPlan(data[0], data[1], data[2], typed);
        CheckSweepPlan(data[0], data[1], data[2], kDefaultZeemanFrequencyHz);
    }
    return 0;
}
