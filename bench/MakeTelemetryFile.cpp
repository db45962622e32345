// make_telemetry_file: writes a .csd telemetry file of any length for benchmarks and trials.
//
//   make_telemetry_file [--records N] [--decay PCT_PER_DAY] [--interval S] [--model CODE]
//                       [--seed N] [--from K] [--step-back-every M] OUT.csd
//
// With --from K, records K..N-1 of the same recipe are appended to OUT.csd (made before with
// --records K): a file that grew. With --step-back-every M, every M-th record is a second older
// than the one before it, as where the PC's clock was set back.

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "TelemetryFileMaker.h"

namespace {

constexpr char kUsage[] =
    "usage: make_telemetry_file [--records N] [--decay PCT_PER_DAY] [--interval S] "
    "[--model 400..404] [--seed N] [--from K] [--step-back-every M] OUT.csd\n";

template <typename T>
bool Parse(std::string_view text, T& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

}  // namespace

int main(int argc, char** argv) {
    corvane3::bench::TelemetryFileRecipe recipe;
    std::string out;
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        const bool hasValue = i + 1 < argc;
        const std::string_view value = hasValue ? argv[i + 1] : "";
        bool ok = hasValue;
        if (option == "--records") {
            ok = ok && Parse(value, recipe.records) && recipe.records >= 0;
        } else if (option == "--decay") {
            ok = ok && Parse(value, recipe.decayPercentPerDay);
        } else if (option == "--interval") {
            ok = ok && Parse(value, recipe.intervalSeconds) && recipe.intervalSeconds > 0;
        } else if (option == "--model") {
            ok = ok && Parse(value, recipe.model) && corvane3::IsKnownModel(recipe.model);
        } else if (option == "--from") {
            ok = ok && Parse(value, recipe.from) && recipe.from >= 0;
        } else if (option == "--step-back-every") {
            ok = ok && Parse(value, recipe.stepBackEvery) && recipe.stepBackEvery >= 0;
        } else if (option == "--seed") {
            ok = ok && Parse(value, recipe.seed);
        } else if (option == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (!option.starts_with("--") && out.empty()) {
            out = option;
            continue;
        } else {
            ok = false;
        }
        if (!ok) {
            std::fputs(kUsage, stderr);
            return 2;
        }
        ++i;
    }
    if (out.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    // From a later record: appended to the file made of the records before it.
    std::FILE* file = std::fopen(out.c_str(), recipe.from > 0 ? "ab" : "wb");
    if (file == nullptr) {
        std::fprintf(stderr, "make_telemetry_file: %s: %s\n", out.c_str(), std::strerror(errno));
        return 1;
    }
    const bool written = corvane3::bench::WriteTelemetryFile(recipe, file);
    if (std::fclose(file) != 0 || !written) {
        std::fprintf(stderr, "make_telemetry_file: %s: %s\n", out.c_str(), std::strerror(errno));
        return 1;
    }
    return 0;
}
