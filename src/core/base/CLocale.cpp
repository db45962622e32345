#include "core/base/CLocale.h"

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <string>

#include "core/base/Text.h"

namespace corvane3 {

namespace {
// The "C" locale object, made once and never freed: every thread may switch to it at any time.
locale_t CLocaleObject() {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c;
}
}  // namespace

void UseCLocaleConventions() {
    std::setlocale(LC_NUMERIC, "C");
    std::setlocale(LC_TIME, "C");
    std::setlocale(LC_MESSAGES, "C");
}

CScopedCLocale::CScopedCLocale() : previous_(uselocale(CLocaleObject())) {}

CScopedCLocale::~CScopedCLocale() {
    uselocale(previous_);
}

std::optional<double> ParseDecimal(std::string_view text) {
    const std::string number(TrimBlanks(text));
    if (number.empty() || number.find_first_not_of("0123456789+-.eE") != std::string::npos) {
        return std::nullopt;
    }
    const CScopedCLocale numbers;
    char* end = nullptr;
    const double value = std::strtod(number.c_str(), &end);
    if (end != number.c_str() + number.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

}  // namespace corvane3
