#pragma once
// A test that needs a program of another package (Prometheus's): without it the test is skipped
// with the reason, except under CI (CI=true), where every such program must be installed and its
// absence fails the test instead of passing unnoticed.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace corvane3::testing {

inline bool UnderCi() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && std::strcmp(ci, "true") == 0;
}

}  // namespace corvane3::testing

// Ends the test unless path exists: a skip, or a failure under CI. package installs it.
#define CORVANE3_REQUIRE_TOOL(path, package)                                                   \
    if (!std::filesystem::exists(path)) {                                                      \
        if (::corvane3::testing::UnderCi())                                                    \
            FAIL() << (path) << " is missing under CI: scripts/setup-deps installs " package; \
        GTEST_SKIP() << (path) << " is missing: scripts/setup-deps installs " package;         \
    }
