#include "sim/SimulatedInstrument.h"

#include <algorithm>
#include <cstdio>

#include "core/base/Text.h"
#include "core/link/CommandFrame.h"
#include "sim/CommandArguments.h"

// The simulated unit's built-in tests, its synthesizer (one point, or a sweep it runs by itself)
// and the lines these send unasked.

namespace corvane3::sim {

namespace {

// Largest point count an A05 sweep accepts (the program offers up to 100001 points).
constexpr long kMaxSweepPoints = 100001;
constexpr double kMaxVoltsInFiveCharacters = 9.999;

}  // namespace

std::optional<std::string> CSimulatedInstrument::TestMode1(const ReceivedFrame& frame,
                                                           SimClock::time_point now) {
    return RunTest(0, frame, now);
}

std::optional<std::string> CSimulatedInstrument::TestMode2(const ReceivedFrame& frame,
                                                           SimClock::time_point now) {
    return RunTest(1, frame, now);
}

std::optional<std::string> CSimulatedInstrument::TestMode3(const ReceivedFrame& frame,
                                                           SimClock::time_point now) {
    return RunTest(2, frame, now);
}

// test: 0, 1, 2 for the DAC loopback, the DDS test and the gain DAC test.
std::optional<std::string> CSimulatedInstrument::RunTest(int test, const ReceivedFrame& frame,
                                                         SimClock::time_point now) {
    const long highest[] = {1, 9, 255};
    const auto argument = ParseLong(frame.data, 0, highest[test]);
    if (!argument) {
        return NotUnderstood(frame);
    }
    if (test == 1 && *argument == 0) {
        // Leaving the DDS test restarts the unit: it answers, goes silent, then warms up.
        rebooting_ = true;
        rebootUntil_ = now + config_.rebootSilence;
        sweep_ = Sweep{};
        std::fill(std::begin(testArgument_), std::end(testArgument_), 0);
        return EchoReply(frame, "Rebooting");
    }
    const bool anyRunning = std::any_of(std::begin(testArgument_), std::end(testArgument_),
                                        [](int a) { return a != 0; });
    testArgument_[test] = static_cast<int>(*argument);
    if (*argument != 0 && !anyRunning) {
        nextTestLine_ = now + config_.testLineInterval;
    }
    return EchoReply(frame,
                     "Test " + std::to_string(test + 1) + (*argument != 0 ? " started" : " ended"));
}

std::optional<std::string> CSimulatedInstrument::SingleDdsPoint(const ReceivedFrame& frame,
                                                                SimClock::time_point now) {
    const std::string_view data = TrimBlanks(frame.data);
    if (data == "?") {
        // The detector's signal in volts, five characters and ETX without STX.
        const double hz = ddsWord_ != 0 ? DdsWordToHz(ddsWord_) : kClockLineDdsHz;
        const double volts = std::clamp(spectrum_.SignalVolts(hz, BeamFraction(now)), 0.0,
                                        kMaxVoltsInFiveCharacters);
        char text[16];
        std::snprintf(text, sizeof text, "%5.3f", volts);
        return std::string(text) + kEtx;
    }
    if (data == "off") {
        ddsWord_ = 0;
        return Accepted(frame);
    }
    const auto word = data.size() == kDdsWordDigits ? ParseDdsWord(data) : std::nullopt;
    if (!word) {
        return NotUnderstood(frame);
    }
    ddsWord_ = *word;
    return std::nullopt;  // the program reads nothing after setting the synthesizer
}

std::optional<std::string> CSimulatedInstrument::DdsSweep(const ReceivedFrame& frame,
                                                          SimClock::time_point now) {
    if (!config_.instrumentSweep) {
        return NotUnderstood(frame);
    }
    const std::string_view data = TrimBlanks(frame.data);
    // The echo of a sweep command is a line of its own: ETX and LF end it.
    const std::string echoLine = Echo(frame) + frame.data + kEtx;
    if (data == "off") {
        if (!sweep_.active) {
            return echoLine;
        }
        sweep_ = Sweep{};
        return echoLine + kLf + "Sweep Off" + kLf;
    }
    const std::size_t first = data.find(',');
    const std::size_t second = first == std::string_view::npos ? first : data.find(',', first + 1);
    if (second == std::string_view::npos) {
        return NotUnderstood(frame);
    }
    const auto start = ParseDdsWord(data.substr(0, first));
    const auto step = ParseDdsWord(data.substr(first + 1, second - first - 1));
    const auto count = ParseLong(data.substr(second + 1), 1, kMaxSweepPoints);
    if (!start || !step || !count) {
        return NotUnderstood(frame);
    }
    sweep_ = Sweep{true, *start, *step, *count, 0, now + config_.sweepPointInterval};
    return echoLine + kLf;
}

std::string CSimulatedInstrument::TakeUnsolicited(SimClock::time_point now) {
    Update(now);
    std::string out;
    if (IsRebooting(now)) {
        return out;
    }
    while (sweep_.active && now >= sweep_.due) {
        const unsigned long long word =
            (sweep_.start + sweep_.next * sweep_.step) & 0xFFFFFFFFFFFFULL;
        const double volts = std::clamp(spectrum_.SignalVolts(DdsWordToHz(word), BeamFraction(now)),
                                        0.0, kMaxVoltsInFiveCharacters);
        char line[48];
        // Twelve hexadecimal digits, a comma at index 12, six characters of volts, LF.
        std::snprintf(line, sizeof line, "%012llX,%6.4f\n", word, volts);
        out += line;
        sweep_.due += config_.sweepPointInterval;
        if (++sweep_.next == sweep_.count) {
            out += "Sweep End\n";
            sweep_ = Sweep{};
        }
    }
    const bool testing = std::any_of(std::begin(testArgument_), std::end(testArgument_),
                                     [](int a) { return a != 0; });
    while (testing && now >= nextTestLine_) {
        ++testCounter_;
        char line[96];
        if (testArgument_[0] != 0) {
            const unsigned dac = (testCounter_ * 0x111u) & 0xFFFu;
            std::snprintf(line, sizeof line, "DAC %03X ADC %03X\n", dac,
                          (dac + testCounter_ % 3) & 0xFFFu);
            out += line;
        }
        if (testArgument_[1] != 0) {
            std::snprintf(line, sizeof line, "DDS test %d pass %u OK\n", testArgument_[1],
                          testCounter_);
            out += line;
        }
        if (testArgument_[2] != 0) {
            std::snprintf(line, sizeof line, "Gain DAC %02X signal %4.2f V\n", testArgument_[2],
                          testArgument_[2] / 255.0 * 4.0);
            out += line;
        }
        nextTestLine_ += config_.testLineInterval;
    }
    return out;
}

std::optional<SimClock::time_point> CSimulatedInstrument::NextUnsolicited() const {
    std::optional<SimClock::time_point> next;
    if (sweep_.active) {
        next = sweep_.due;
    }
    if (std::any_of(std::begin(testArgument_), std::end(testArgument_),
                    [](int a) { return a != 0; })) {
        next = next ? std::min(*next, nextTestLine_) : nextTestLine_;
    }
    if (rebooting_) {
        next = next ? std::min(*next, rebootUntil_) : rebootUntil_;
    }
    return next;
}

}  // namespace corvane3::sim
