// Arbitrary command lines (arguments split at NUL or line ends) through the program's reading
// and checking of its options:
// - a refused line has a message of whole lines, starting "corvane3: ", and the status of bad
//   options;
// - an accepted line has every number within its option's range (or not given), a metrics
//   endpoint only for a headless run and with a port from 0 to 65535, no screenshot in a
//   headless run and no file command together with a run;
// - every value and file name it holds was given, whole or after an option's '='.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "core/config/ProgramSettings.h"
#include "core/program/CommandLineOptions.h"

using namespace corvane3;

namespace {

// True when value is one of the arguments, or the end of one after its first '='.
bool WasGiven(const std::vector<std::string>& arguments, const std::string& value) {
    return std::any_of(arguments.begin() + 1, arguments.end(), [&](const std::string& argument) {
        const std::size_t assign = argument.find('=');
        return argument == value ||
               (assign != std::string::npos && argument.substr(assign + 1) == value);
    });
}

void CheckAccepted(const std::vector<std::string>& arguments, const CommandLineOptions& options) {
    FUZZ_CHECK(options.intervalSeconds == 0 || (options.intervalSeconds >= kMinPollingInterval &&
                                                options.intervalSeconds <= kMaxPollingInterval));
    FUZZ_CHECK(options.polls >= 0);
    FUZZ_CHECK(options.timeoutSeconds >= 0);
    if (options.metrics) {
        FUZZ_CHECK(options.headless);
        FUZZ_CHECK(options.metrics->port >= 0 && options.metrics->port <= kMaxMetricsPort);
        FUZZ_CHECK(!options.metrics->address.empty());
    }
    FUZZ_CHECK(!(options.headless && options.screenshot));
    if (options.summary || options.exportCsv) {
        FUZZ_CHECK(!options.headless && !options.screenshot && !options.trace);
    }
    for (const auto* value : {&options.config, &options.port, &options.record, &options.screenshot,
                              &options.summary, &options.exportCsv, &options.trace}) {
        FUZZ_CHECK(!*value || WasGiven(arguments, **value));
    }
    for (const std::string& file : options.positional) {
        FUZZ_CHECK(WasGiven(arguments, file));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> arguments{"corvane3"};
    std::size_t start = 0;
    for (std::size_t at = 0; at <= text.size(); ++at) {
        if (at == text.size() || text[at] == '\0' || text[at] == '\n') {
            if (at < text.size() || at > start) {
                arguments.emplace_back(text.substr(start, at - start));
            }
            start = at + 1;
        }
    }
    const CommandLineResult line = ParseCommandLineOptions(arguments);
    if (line.Accepted()) {
        FUZZ_CHECK(line.message.empty());
        CheckAccepted(arguments, line.options);
        return 0;
    }
    FUZZ_CHECK(line.exitStatus == kExitBadOptions);
    FUZZ_CHECK(line.message.starts_with("corvane3: ") && line.message.ends_with('\n'));
    // Reading the same line again gives the same answer.
    FUZZ_CHECK(ParseCommandLineOptions(arguments).message == line.message);
    return 0;
}
