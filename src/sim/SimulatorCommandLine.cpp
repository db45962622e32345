#include "sim/SimulatorCommandLine.h"

#include <algorithm>
#include <cstdlib>

#include "core/base/Escape.h"
#include "core/base/ModelCodes.h"

namespace corvane3::sim {

namespace {

constexpr long kMaxPassword = 99999;
constexpr long kFirstModel = kModel7750;
constexpr long kLastModel = kModel7730A;
// Options followed by a value.
const std::string kValueOptions[] = {
    "--model",      "--serial",           "--password", "--line",   "--warmup",   "--seed",
    "--link",       "--reconnect",        "--override", "--log",    "--truncate", "--garbage",
    "--corrupt-d1", "--disconnect-after", "--alarm",    "--replay",
};

std::optional<long> Number(const std::string& text, long min, long max) {
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < min || value > max) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::chrono::milliseconds> Seconds(const std::string& text) {
    char* end = nullptr;
    const double seconds = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(seconds >= 0 && seconds <= 86400)) {
        return std::nullopt;
    }
    return std::chrono::milliseconds(static_cast<long>(seconds * 1000));
}

}  // namespace

std::string SimulatorUsage() {
    return R"(Usage: corvane3-sim [options]

A simulated cesium-beam frequency standard on a pseudo-terminal. The first line written to
standard output is the path of the terminal to open as the serial port. Serves until SIGINT or
SIGTERM; SIGUSR1 disconnects (and reconnects when --reconnect is given).

Instrument:
  --model N             400, 401, 402, 403 or 404 (default 403)
  --serial N            serial number 0 to 99999 (default 1234)
  --instrument-sweep    the unit sweeps its synthesizer by itself (A05; D*2 reports "US")
  --password N          enable user security with password 1 to 99999
  --line B,D,P,S        line settings: baud, data bits, parity N/O/E/M/S, stop bits
                        (default 9600,7,O,2); the unit answers only while the speed, stop bits
                        and odd/even parity the program set on the terminal match
  --warmup S            seconds of warm-up after power-on (default 20)
  --seed N              seed of the readings' noise (default 1)
  --alarm HEX           an alarm code (01 to FF) pending from the start until alarms are reset

Link:
  --pace                send at the line's character rate instead of at once
  --link PATH           also make PATH a symbolic link to the terminal (removed on exit)
  --reconnect S         after a disconnect, open a new terminal at --link PATH after S seconds
  --override FILE       replies from FILE: lines CODE<TAB>REPLY, escapes \xHH \r \n \t \\,
                        '#' starts a comment line; the replies of a code are given in order,
                        the last one repeating; an empty REPLY sends nothing
  --log FILE            write every frame received (RX) and everything sent (TX), one line each
                        with a time stamp, escaped as in --override
  --replay FILE         answer from a transcript in the --log form (or a corvane3 --trace):
                        each frame gets the reply recorded after the same command, in order,
                        the last one repeating; a command never recorded gets no answer
  --replay-paced        send the replayed replies with the pauses recorded, not at once

Faults:
  --silent              receive but never answer
  --truncate N          cut every reply short by N characters
  --gap                 pause 150 ms in the middle of every reply
  --garbage TEXT        send TEXT (escapes as in --override) before every reply
  --high-bit            set the high bit of every byte of every reply
  --corrupt-d1 WHAT     corrupt every D*1 record: "mode" (mode text R-Z), "status" (status
                        code 99) or COLUMN:TEXT
  --refuse-protected    refuse every password-protected command
  --disconnect-after S  close the terminal S seconds after the start

  --help                show this text
  --version             show the version
)";
}

SimulatorCommandLine ParseSimulatorCommandLine(const std::vector<std::string>& arguments) {
    SimulatorCommandLine result;
    SimulatorOptions& options = result.options;
    std::optional<std::string> overrideFile;
    std::optional<std::string> replayFile;
    for (std::size_t i = 0; i < arguments.size() && result.error.empty(); ++i) {
        const std::string& option = arguments[i];
        const auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= arguments.size()) {
                result.error = option + " needs a value";
                return std::nullopt;
            }
            return arguments[++i];
        };
        const auto fail = [&](const std::string& text) {
            result.error = "invalid " + option + " value: " + text;
        };
        if (option == "--help" || option == "-h") {
            result.help = true;
        } else if (option == "--version") {
            result.version = true;
        } else if (option == "--instrument-sweep") {
            options.instrument.instrumentSweep = true;
        } else if (option == "--pace") {
            options.pace = true;
        } else if (option == "--silent") {
            options.faults.silent = true;
        } else if (option == "--gap") {
            options.faults.gapInReplies = true;
        } else if (option == "--high-bit") {
            options.faults.highBit = true;
        } else if (option == "--refuse-protected") {
            options.faults.refuseProtected = true;
        } else if (option == "--replay-paced") {
            options.replayPaced = true;
        } else if (std::find(std::begin(kValueOptions), std::end(kValueOptions), option) ==
                   std::end(kValueOptions)) {
            result.error = "unknown option: " + option;
        } else if (const auto text = value(); !text) {
            // value() has said what is missing
        } else if (option == "--model") {
            const auto model = Number(*text, kFirstModel, kLastModel);
            model ? void(options.instrument.model = static_cast<int>(*model)) : fail(*text);
        } else if (option == "--serial") {
            const auto serial = Number(*text, 0, 99999);
            serial ? void(options.instrument.serial = static_cast<unsigned>(*serial)) : fail(*text);
        } else if (option == "--password") {
            const auto password = Number(*text, 1, kMaxPassword);
            password ? void(options.instrument.password = static_cast<unsigned>(*password))
                     : fail(*text);
        } else if (option == "--line") {
            const auto line = ParseLineSettings(*text);
            line ? void(options.instrument.line = *line) : fail(*text);
        } else if (option == "--warmup") {
            const auto warmup = Seconds(*text);
            warmup ? void(options.instrument.warmup = *warmup) : fail(*text);
        } else if (option == "--alarm") {
            char* end = nullptr;
            const unsigned long code = std::strtoul(text->c_str(), &end, 16);
            !text->empty() && *end == '\0' && code >= 1 && code <= 0xFF
                ? void(options.instrument.alarm = static_cast<unsigned>(code))
                : fail(*text);
        } else if (option == "--seed") {
            const auto seed = Number(*text, 0, 2147483647L);
            seed ? void(options.instrument.seed = static_cast<unsigned>(*seed)) : fail(*text);
        } else if (option == "--link") {
            options.link = *text;
        } else if (option == "--reconnect") {
            const auto after = Seconds(*text);
            after ? void(options.reconnectAfter = *after) : fail(*text);
        } else if (option == "--override") {
            overrideFile = *text;
        } else if (option == "--log") {
            options.log = *text;
        } else if (option == "--replay") {
            replayFile = *text;
        } else if (option == "--truncate") {
            const auto count = Number(*text, 0, 1000000);
            count ? void(options.faults.truncateBy = static_cast<std::size_t>(*count))
                  : fail(*text);
        } else if (option == "--garbage") {
            const auto bytes = UnescapeBytes(*text);
            bytes ? void(options.faults.garbageBeforeReplies = *bytes) : fail(*text);
        } else if (option == "--corrupt-d1") {
            const std::size_t colon = text->find(':');
            if (*text == "mode") {
                options.faults.d1Patch = D1ModeTextCorruption();
            } else if (*text == "status") {
                options.faults.d1Patch = D1StatusCodeCorruption();
            } else if (const auto column = colon == std::string::npos
                                               ? std::nullopt
                                               : Number(text->substr(0, colon), 0, 249)) {
                const auto patch = UnescapeBytes(text->substr(colon + 1));
                patch ? void(options.faults.d1Patch =
                                 ColumnPatch{static_cast<std::size_t>(*column), *patch})
                      : fail(*text);
            } else {
                fail(*text);
            }
        } else if (option == "--disconnect-after") {
            const auto after = Seconds(*text);
            after ? void(result.disconnectAfter = *after) : fail(*text);
        }
    }
    if (result.error.empty() && overrideFile && !result.help) {
        std::string error;
        auto overrides = CReplyOverrides::Load(*overrideFile, error);
        if (overrides) {
            options.overrides = std::move(*overrides);
        } else {
            result.error = error;
        }
    }
    if (result.error.empty() && replayFile && !result.help) {
        std::string error;
        auto replay = CReplayScript::Load(*replayFile, error);
        if (replay) {
            options.replay = std::move(*replay);
        } else {
            result.error = error;
        }
    }
    return result;
}

}  // namespace corvane3::sim
