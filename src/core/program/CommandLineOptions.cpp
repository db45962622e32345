#include "core/program/CommandLineOptions.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string_view>

#include "core/config/ProgramSettings.h"

namespace corvane3 {

namespace {

constexpr int kNoMaximum = std::numeric_limits<int>::max();
// Qt's parser splits "-abc" into UTF-16 units: a character beyond them becomes two halves,
// each shown as the replacement character.
constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

// The options in the order of ProgramOptions, after the three that print text.
enum EOption : std::size_t {
    kHelp,
    kHelpAll,
    kVersion,
    kConfig,
    kHeadless,
    kPort,
    kInterval,
    kPolls,
    kTimeout,
    kRecord,
    kMetrics,
    kVerbose,
    kScreenshot,
    kSummary,
    kExportCsv,
    kTrace,
    kOnEvent,
    kControl,
    kAttach,
    kOptionCount,
};

struct KnownName {
    std::string_view name;
    EOption option;
};

constexpr KnownName kNames[] = {
    {"h", kHelp},
    {"help", kHelp},
    {"help-all", kHelpAll},
    {"v", kVersion},
    {"version", kVersion},
    {"config", kConfig},
    {"headless", kHeadless},
    {"port", kPort},
    {"interval", kInterval},
    {"polls", kPolls},
    {"timeout", kTimeout},
    {"record", kRecord},
    {"metrics", kMetrics},
    {"verbose", kVerbose},
    {"screenshot", kScreenshot},
    {"summary", kSummary},
    {"export-csv", kExportCsv},
    {"trace", kTrace},
    {"on-event", kOnEvent},
    {"control", kControl},
    {"attach", kAttach},
};

std::optional<EOption> FindOption(std::string_view name) {
    for (const KnownName& known : kNames) {
        if (known.name == name) {
            return known.option;
        }
    }
    return std::nullopt;
}

bool TakesValue(EOption option) {
    return option >= kConfig && !ProgramOptions()[option - kConfig].valueName.empty();
}

// --attach alone attaches to the packaged service of the configured port.
bool ValueOptional(EOption option) {
    return option == kAttach;
}

// One character of UTF-8 text at text[at]: its code point and length. A byte that starts no
// valid sequence is a character of its own (code point 0xFFFD).
std::pair<char32_t, std::size_t> CharacterAt(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    char32_t code = 0;
    if (lead < 0x80) {
        return {lead, 1};
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
    } else {
        return {0xFFFD, 1};
    }
    if (at + length > text.size()) {
        return {0xFFFD, 1};
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) {
            return {0xFFFD, 1};
        }
        code = (code << 6) | (byte(at + i) & 0x3F);
    }
    const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
    if (overlong || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        return {0xFFFD, 1};
    }
    return {code, length};
}

// A whole number as Qt reads an option's value: ASCII blanks around, an optional sign, ASCII
// digits, within int.
std::optional<int> WholeNumber(std::string_view text) {
    constexpr std::string_view kBlanks = " \t\n\v\f\r";
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return std::nullopt;
    }
    text = text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
    const bool negative = text.front() == '-';
    if (negative || text.front() == '+') {
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    // The magnitude, stopped just past what int can hold.
    constexpr std::int64_t kBeyond = std::int64_t{std::numeric_limits<int>::max()} + 2;
    std::int64_t magnitude = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        magnitude = std::min(magnitude * 10 + (c - '0'), kBeyond);
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max()) {
        return std::nullopt;
    }
    return static_cast<int>(value);
}

// What Qt's parser found: the names given, the last value of each option, what it did not
// know, and the last complaint about a value.
class CParser {
  public:
    explicit CParser(const std::vector<std::string>& arguments) : arguments_(arguments) {}

    bool Parse();
    std::string ErrorText() const;
    bool IsSet(EOption option) const { return set_[option]; }
    const std::optional<std::string>& Value(EOption option) const { return values_[option]; }
    bool GivenTextOnly() const { return IsSet(kHelp) || IsSet(kHelpAll) || IsSet(kVersion); }
    const std::vector<std::string>& Positional() const { return positional_; }

  private:
    bool Register(const std::string& name);
    bool ParseValue(const std::string& name, const std::string& argument, std::size_t& index);

    const std::vector<std::string>& arguments_;
    bool set_[kOptionCount] = {};
    std::optional<std::string> values_[kOptionCount];
    std::vector<std::string> unknown_;
    std::vector<std::string> positional_;
    std::string errorText_;
};

bool CParser::Register(const std::string& name) {
    const std::optional<EOption> option = FindOption(name);
    if (!option) {
        unknown_.push_back(name);
        return false;
    }
    set_[*option] = true;
    return true;
}

// The value of a known option: after '=' in the argument or, without one, the next argument.
bool CParser::ParseValue(const std::string& name, const std::string& argument, std::size_t& index) {
    const std::optional<EOption> option = FindOption(name);
    if (!option) {
        return true;
    }
    const std::size_t assign = argument.find('=');
    if (TakesValue(*option)) {
        if (assign == std::string::npos && ValueOptional(*option) &&
            (index + 1 == arguments_.size() || arguments_[index + 1].starts_with('-'))) {
            return true;  // given without its value
        }
        if (assign == std::string::npos) {
            ++index;
            if (index == arguments_.size()) {
                errorText_ = "Missing value after '" + argument + "'.";
                return false;
            }
            values_[*option] = arguments_[index];
        } else {
            values_[*option] = argument.substr(assign + 1);
        }
    } else if (assign != std::string::npos) {
        errorText_ = "Unexpected value after '" + argument.substr(0, assign) + "'.";
        return false;
    }
    return true;
}

bool CParser::Parse() {
    bool error = false;
    bool forcePositional = false;
    for (std::size_t index = 1; index < arguments_.size(); ++index) {
        const std::string& argument = arguments_[index];
        if (forcePositional) {
            positional_.push_back(argument);
        } else if (argument.starts_with("--")) {
            if (argument.size() == 2) {
                forcePositional = true;  // "--": the rest are no options
                continue;
            }
            const std::string name = argument.substr(2, argument.find('=') - 2);
            if (!Register(name) || !ParseValue(name, argument, index)) {
                error = true;
            }
        } else if (argument.starts_with('-')) {
            if (argument.size() == 1) {
                positional_.push_back(argument);  // "-": standard input
                continue;
            }
            // "-hv" is -h and -v; a short option with a value takes the rest.
            std::string name;
            bool valueFound = false;
            for (std::size_t at = 1; at < argument.size();) {
                const auto [code, length] = CharacterAt(argument, at);
                if (code > 0xFFFF) {
                    for (int half = 0; half < 2; ++half) {
                        name = kReplacementCharacter;
                        unknown_.push_back(name);
                    }
                    error = true;
                    at += length;
                    continue;
                }
                name = argument.substr(at, length);
                const std::size_t next = at + length;
                at = next;
                if (!Register(name)) {
                    error = true;
                    continue;
                }
                if (TakesValue(*FindOption(name))) {
                    if (next < argument.size()) {
                        values_[*FindOption(name)] =
                            argument.substr(argument[next] == '=' ? next + 1 : next);
                        valueFound = true;
                    }
                    break;
                }
                if (next < argument.size() && argument[next] == '=') {
                    break;
                }
            }
            if (!valueFound && !ParseValue(name, argument, index)) {
                error = true;
            }
        } else {
            positional_.push_back(argument);
        }
    }
    return !error;
}

std::string CParser::ErrorText() const {
    if (!errorText_.empty()) {
        return errorText_;
    }
    if (unknown_.size() == 1) {
        return "Unknown option '" + unknown_.front() + "'.";
    }
    std::string text = "Unknown options: ";
    for (std::size_t i = 0; i < unknown_.size(); ++i) {
        text += (i > 0 ? ", " : "") + unknown_[i];
    }
    return text + ".";
}

// The number an option holds, or the message that refuses it.
bool OptionNumber(const CParser& parser, EOption option, int minimum, int maximum, int& value,
                  std::string& message) {
    if (!parser.IsSet(option)) {
        return true;
    }
    const std::string& given = parser.Value(option).value_or("");
    const std::optional<int> number = WholeNumber(given);
    if (number && *number >= minimum && *number <= maximum) {
        value = *number;
        return true;
    }
    const std::string name = ProgramOptions()[option - kConfig].name;
    if (maximum == kNoMaximum) {
        message = "corvane3: --" + name + " needs a whole number of at least " +
                  std::to_string(minimum) + ", not \"" + given + "\"\n";
    } else {
        message = "corvane3: --" + name + " needs a whole number from " + std::to_string(minimum) +
                  " to " + std::to_string(maximum) + ", not \"" + given + "\"\n";
    }
    return false;
}

CommandLineResult Refused(std::string message) {
    CommandLineResult result;
    result.exitStatus = kExitBadOptions;
    result.message = std::move(message);
    return result;
}

}  // namespace

const std::vector<ProgramOption>& ProgramOptions() {
    static const std::vector<ProgramOption> options{
        {"config", "path", "Use the configuration file <path>."},
        {"headless", "", "No window: poll the instrument and print status lines."},
        {"port", "path", "Headless: the serial port <path>."},
        {"interval", "seconds",
         "Headless: poll every <seconds> (" + std::to_string(kMinPollingInterval) + " to " +
             std::to_string(kMaxPollingInterval) + ")."},
        {"polls", "n", "Headless: stop after <n> status records."},
        {"timeout", "seconds",
         "Give up with exit status " + std::to_string(kExitTimedOut) +
             " when no status record came for <seconds>: headless (default: never) or with "
             "--screenshot (default: " +
             std::to_string(kDefaultScreenshotTimeout) + ")."},
        {"record", "dir",
         "Headless: record every status record in <dir>, whatever the configuration says."},
        {"metrics", "[addr:]port",
         "Headless: serve Prometheus metrics at http://<[addr:]port>/metrics (address "
         "127.0.0.1 unless given, [::1]:port for IPv6; 0: a free port)."},
        {"verbose", "", "Headless: also print the progress of every polling step."},
        {"screenshot", "file",
         "Save a picture of the window to <file> once it shows a record (a .csd file: once it is "
         "drawn), then exit as Exit does."},
        {"summary", "file",
         "Print a summary of the telemetry file <file>: its unit, records, time span, signal "
         "decay and each channel's min, mean, max and sigma."},
        {"export-csv", "file",
         "Write the telemetry file <file> as CSV to the file given after it (default: <file> "
         "with the extension .csv; - for standard output)."},
        {"trace", "file",
         "Write every frame sent to the instrument and everything it sent back to <file>, "
         "passwords masked, in the form corvane3-sim --replay reads."},
        {"on-event", "program",
         "Run <program> per new event (no shell; CORVANE3_* variables); killed after " +
             std::to_string(kEventProgramSeconds) + " s."},
        {"control", "socket", "Headless: serve the unit to clients on the socket <socket>."},
        {"attach", "socket",
         "Watch and command the unit through the logging service's <socket> (default: the "
         "port's service)."},
    };
    return options;
}

CommandLineResult ParseCommandLineOptions(const std::vector<std::string>& arguments) {
    CParser parser(arguments);
    if (!parser.Parse()) {
        return Refused("corvane3: " + parser.ErrorText() +
                       "\nTry 'corvane3 --help' for the options.\n");
    }
    CommandLineResult result;
    CommandLineOptions& options = result.options;
    std::string message;
    if (!OptionNumber(parser, kInterval, kMinPollingInterval, kMaxPollingInterval,
                      options.intervalSeconds, message) ||
        !OptionNumber(parser, kPolls, 1, kNoMaximum, options.polls, message) ||
        !OptionNumber(parser, kTimeout, 1, kNoMaximum, options.timeoutSeconds, message)) {
        return Refused(message);
    }
    options.headless = parser.IsSet(kHeadless);
    if (parser.IsSet(kMetrics)) {
        if (!options.headless) {
            return Refused("corvane3: --metrics serves a headless run: add --headless\n");
        }
        const std::string given = parser.Value(kMetrics).value_or("");
        MetricsEndpoint endpoint;
        std::string problem;
        if (!ParseMetricsEndpoint(given, endpoint, problem)) {
            return Refused("corvane3: --metrics needs [ADDRESS:]PORT, not \"" + given +
                           "\": " + problem + "\n");
        }
        options.metrics = endpoint;
    }
    if (parser.IsSet(kControl) && !options.headless) {
        return Refused("corvane3: --control serves a headless run: add --headless\n");
    }
    if (options.headless && parser.IsSet(kAttach)) {
        return Refused("corvane3: --attach is for the window, not --headless\n");
    }
    if (options.headless && parser.IsSet(kScreenshot)) {
        return Refused("corvane3: --screenshot needs the window, not --headless\n");
    }
    const bool fileCommand = parser.IsSet(kSummary) || parser.IsSet(kExportCsv);
    if (fileCommand && (options.headless || parser.IsSet(kScreenshot) || parser.IsSet(kTrace) ||
                        parser.IsSet(kOnEvent))) {
        return Refused("corvane3: --summary and --export-csv run on their own\n");
    }
    options.textOnly = parser.GivenTextOnly();
    options.verbose = parser.IsSet(kVerbose);
    options.config = parser.Value(kConfig);
    options.port = parser.Value(kPort);
    options.record = parser.Value(kRecord);
    options.screenshot = parser.Value(kScreenshot);
    options.summary = parser.Value(kSummary);
    options.exportCsv = parser.Value(kExportCsv);
    options.trace = parser.Value(kTrace);
    options.onEvent = parser.Value(kOnEvent);
    options.control = parser.Value(kControl);
    if (parser.IsSet(kAttach)) {
        options.attach = parser.Value(kAttach).value_or("");
    }
    options.positional = parser.Positional();
    // --summary goes first; the text options print before either runs.
    if (!options.textOnly && !options.summary && options.exportCsv &&
        options.positional.size() > 1) {
        return Refused("corvane3: --export-csv takes one output file\n");
    }
    return result;
}

}  // namespace corvane3
