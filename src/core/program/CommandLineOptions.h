#pragma once
// The corvane3 program's command line, read and checked without Qt: what the options hold, or
// the message and exit status that refuse them. The options are read as Qt's command-line
// parser reads them (which still prints --help and --version, from ProgramOptions), and each
// refusal says what that parser said.
//
//   const CommandLineResult line = ParseCommandLineOptions(arguments);   // arguments[0]: program
//   if (!line.Accepted()) { std::fputs(line.message.c_str(), stderr); return line.exitStatus; }

#include <optional>
#include <string>
#include <vector>

#include "core/metrics/MetricsEndpoint.h"
#include "core/program/ExitStatus.h"

namespace corvane3 {

// How long --screenshot waits for the first status record unless --timeout says otherwise. A
// unit at the default 10 s interval shows its first record within a few seconds.
inline constexpr int kDefaultScreenshotTimeout = 30;
// How long an --on-event program may run before it is killed (the alerts' runner keeps it).
inline constexpr int kEventProgramSeconds = 20;

struct ProgramOption {
    std::string name;
    std::string valueName;  // empty: the option takes no value
    std::string description;
};

// The program's own options in the order --help lists them (help and version come first).
const std::vector<ProgramOption>& ProgramOptions();

struct CommandLineOptions {
    // --help, --help-all or --version (-h, -v) was given: Qt's parser prints the text.
    bool textOnly = false;
    bool headless = false;
    bool verbose = false;
    // An option with a value holds it when given (its last value when given more than once).
    std::optional<std::string> config;
    std::optional<std::string> port;
    std::optional<std::string> record;
    std::optional<std::string> screenshot;
    std::optional<std::string> summary;
    std::optional<std::string> exportCsv;
    std::optional<std::string> trace;
    std::optional<std::string> onEvent;  // the program run once per event
    std::optional<std::string> control;  // the headless run's control socket
    // The logging service's socket the window attaches to; "" for the packaged service's of
    // the port.
    std::optional<std::string> attach;
    std::optional<MetricsEndpoint> metrics;
    // 0 when not given; else within the option's range.
    int intervalSeconds = 0;  // kMinPollingInterval .. kMaxPollingInterval
    int polls = 0;            // at least 1
    int timeoutSeconds = 0;   // at least 1
    std::vector<std::string> positional;
};

struct CommandLineResult {
    CommandLineOptions options;
    int exitStatus = kExitDone;
    // What a refused command line prints on standard error, every line ended.
    std::string message;

    bool Accepted() const { return exitStatus == kExitDone; }
};

// arguments as the program got them (UTF-8), the program's name first. Refuses, with
// kExitBadOptions: an unknown option, an option without its value or with one it does not take,
// a number outside its range, --metrics without --headless or with a bad endpoint, --screenshot
// with --headless, --summary or --export-csv with a run, and --export-csv with more than one
// output file.
CommandLineResult ParseCommandLineOptions(const std::vector<std::string>& arguments);

}  // namespace corvane3
