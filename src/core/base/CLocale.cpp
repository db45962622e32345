#include "core/base/CLocale.h"

#include <clocale>

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

}  // namespace corvane3
