#pragma once
// Numbers on the wire, in files, in the INI and in the logs always use the C locale's form (a
// decimal point), and the fixed date texts use English names, whatever the user's language.
// Qt sets the process locale from the environment when its application object is made, and the
// C library's conversions (printf, scanf, strtod, strftime) follow it from then on.

#include <locale.h>

#include <optional>
#include <string_view>

namespace corvane3 {

// Puts the process's numbers, dates and system messages (LC_NUMERIC, LC_TIME, LC_MESSAGES) back
// to "C": the program's texts are English, and an error from the system in the middle of one
// ("No such file or directory") stays in the same language for the logs that collect it. The
// character set (LC_CTYPE) stays the user's, so file names keep their encoding. Call right after
// the Qt application object exists, on the user-interface thread before any other thread starts.
void UseCLocaleConventions();

// While it lives, the C library's conversions on the calling thread use the "C" locale,
// whatever the process locale says. Cheap (two thread-local switches); used by every parser and
// writer of numbers so that none relies on UseCLocaleConventions having run.
class CScopedCLocale {
  public:
    CScopedCLocale();
    ~CScopedCLocale();
    CScopedCLocale(const CScopedCLocale&) = delete;
    CScopedCLocale& operator=(const CScopedCLocale&) = delete;

  private:
    locale_t previous_;
};

// A decimal number typed or stored in the C form ("-12.5", "1e3"), blanks around it allowed:
// digits with an optional sign, decimal point and exponent, and nothing else. nullopt for
// anything else (a decimal comma, hexadecimal, "inf", "nan", trailing junk) or beyond double.
std::optional<double> ParseDecimal(std::string_view text);

}  // namespace corvane3
