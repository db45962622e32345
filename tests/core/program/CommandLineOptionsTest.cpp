// The program's command line as it is read and refused before any window or run starts.

#include "core/program/CommandLineOptions.h"

#include <gtest/gtest.h>

#include <tuple>

namespace corvane3 {
namespace {

CommandLineResult Parse(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "corvane3");
    return ParseCommandLineOptions(arguments);
}

TEST(CommandLineOptionsTest, ValuesAreReadAsQtsParserReadsThem) {
    const CommandLineResult line =
        Parse({"--config=a.ini", "--config", "b=c.ini", "--headless", "--port=/dev/ttyS1",
               "--interval", " 7\t", "--polls=+3", "--timeout=0000000009", "--verbose", "--metrics",
               "[::1]:9123", "--record=", "x.csd", "--", "--trace", "-"});
    ASSERT_TRUE(line.Accepted()) << line.message;
    const CommandLineOptions& options = line.options;
    // The last --config given; --record given, though empty.
    EXPECT_EQ(std::tie(options.config, options.port, options.record),
              std::tuple("b=c.ini", "/dev/ttyS1", ""));
    EXPECT_EQ(std::tie(options.headless, options.verbose, options.textOnly),
              std::tuple(true, true, false));
    EXPECT_EQ(std::tie(options.intervalSeconds, options.polls, options.timeoutSeconds),
              std::tuple(7, 3, 9));
    EXPECT_FALSE(options.screenshot || options.trace || options.attach);
    ASSERT_TRUE(options.metrics);
    EXPECT_EQ(std::tie(options.metrics->address, options.metrics->port), std::tuple("::1", 9123));
    EXPECT_EQ(options.positional, (std::vector<std::string>{"x.csd", "--trace", "-"}));
    EXPECT_EQ(Parse({"--attach", "/run/corvane3/u.sock"}).options.attach, "/run/corvane3/u.sock");
    // Without a value (alone, or before another option): the packaged service's socket.
    EXPECT_EQ(Parse({"--attach"}).options.attach, "");
    const CommandLineOptions before = Parse({"--attach", "--port", "/dev/ttyS1"}).options;
    EXPECT_EQ(before.attach, "");
    EXPECT_EQ(before.port, "/dev/ttyS1");

    // The text options, alone or packed, end the checks that come after reading.
    for (const char* text : {"-h", "--help", "--help-all", "-v", "--version", "-vh"}) {
        const CommandLineResult help = Parse({text, "--export-csv", "a.csd", "b", "c"});
        EXPECT_TRUE(help.Accepted() && help.options.textOnly) << text;
    }
    // --summary runs first, so the export's extra files are no fault.
    EXPECT_TRUE(Parse({"--summary", "a.csd", "--export-csv", "b.csd", "c", "d"}).Accepted());
}

TEST(CommandLineOptionsTest, RefusalsSayWhatQtsParserAndTheChecksSaid) {
    const std::string tryHelp = "\nTry 'corvane3 --help' for the options.\n";
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--bogus"}, "corvane3: Unknown option 'bogus'." + tryHelp},
        {{"-config", "--x=1"}, "corvane3: Unknown options: c, o, n, f, i, g, x." + tryHelp},
        {{"-\xF0\x9F\x98\x80"}, "corvane3: Unknown options: \xEF\xBF\xBD, \xEF\xBF\xBD." + tryHelp},
        {{"--bogus", "--port"}, "corvane3: Missing value after '--port'." + tryHelp},
        {{"--headless=yes"}, "corvane3: Unexpected value after '--headless'." + tryHelp},
        {{"--interval=1"},
         "corvane3: --interval needs a whole number from 2 to 100000, not \"1\"\n"},
        {{"--interval", "100001"},
         "corvane3: --interval needs a whole number from 2 to 100000, not \"100001\"\n"},
        {{"--polls=0"}, "corvane3: --polls needs a whole number of at least 1, not \"0\"\n"},
        {{"--timeout=1e3"},
         "corvane3: --timeout needs a whole number of at least 1, not \"1e3\"\n"},
        {{"--timeout=2147483648"},
         "corvane3: --timeout needs a whole number of at least 1, not \"2147483648\"\n"},
        {{"--polls=\xC2\xA0"
          "5"},
         "corvane3: --polls needs a whole number of at least 1, not \"\xC2\xA0"
         "5\"\n"},
        {{"--metrics=9123"}, "corvane3: --metrics serves a headless run: add --headless\n"},
        {{"--control", "/run/c.sock"},
         "corvane3: --control serves a headless run: add --headless\n"},
        {{"--headless", "--attach", "/run/c.sock"},
         "corvane3: --attach is for the window, not --headless\n"},
        {{"--headless", "--metrics=host:80"},
         "corvane3: --metrics needs [ADDRESS:]PORT, not \"host:80\": the address must be a "
         "numeric IPv4 or IPv6 address, not \"host\"\n"},
        {{"--headless", "--screenshot=a.png"},
         "corvane3: --screenshot needs the window, not --headless\n"},
        {{"--summary=a.csd", "--trace=t"},
         "corvane3: --summary and --export-csv run on their own\n"},
        {{"--export-csv", "a.csd", "b", "c"}, "corvane3: --export-csv takes one output file\n"},
    };
    for (const auto& [arguments, message] : cases) {
        const CommandLineResult line = Parse(arguments);
        EXPECT_EQ(line.exitStatus, kExitBadOptions) << arguments.front();
        EXPECT_EQ(line.message, message);
    }
    // The first refused number is the one told.
    EXPECT_EQ(Parse({"--timeout=x", "--interval=x"}).message,
              "corvane3: --interval needs a whole number from 2 to 100000, not \"x\"\n");
}

}  // namespace
}  // namespace corvane3
