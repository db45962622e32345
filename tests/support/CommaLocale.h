#pragma once
// Part of a test under the process locale of a user whose language writes decimal commas, as Qt
// sets it; threads that set their own locale are not affected.

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace corvane3::testing {

inline constexpr char kCommaLocale[] = "de_DE.UTF-8";

class ScopedCommaLocale {
  public:
    explicit ScopedCommaLocale(const char* name = kCommaLocale)
        : previous_(std::setlocale(LC_ALL, nullptr)) {
        EXPECT_NE(std::setlocale(LC_ALL, name), nullptr)
            << name << " is missing: scripts/setup-deps generates it";
        EXPECT_STREQ(std::localeconv()->decimal_point, ",");
    }
    ~ScopedCommaLocale() { std::setlocale(LC_ALL, previous_.c_str()); }
    ScopedCommaLocale(const ScopedCommaLocale&) = delete;
    ScopedCommaLocale& operator=(const ScopedCommaLocale&) = delete;

  private:
    std::string previous_;
};

}  // namespace corvane3::testing
