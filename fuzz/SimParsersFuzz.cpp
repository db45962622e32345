// Arbitrary input through the simulated instrument's own parsers, which the tests trust:
// - escaped text: bytes escape to printable text that reads back to them, and a text that reads
//   as bytes escapes to a text that reads back to the same bytes;
// - frames: a frame the program builds reaches the instrument, however the bytes are cut into
//   reads, as one frame with the code, parameter field and data sent; any byte stream gives
//   frames that are STX...ETX with neither inside;
// - line settings: a text that reads as settings shows as a text that reads back to them;
// - reply override files: arbitrary text is read or refused naming a line of it, and a file
//   written from replies gives them back in order, the last repeating; a transcript to replay
//   is read, with no more frames than lines, or refused naming a line of it;
// - the command line: any argument vector is understood or refused with a reason, and what it
//   sets lies in the ranges the options allow.

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "core/base/Escape.h"
#include "core/link/CommandFrame.h"
#include "sim/FrameParser.h"
#include "sim/LineSettings.h"
#include "sim/ReplayScript.h"
#include "sim/ReplyOverrides.h"
#include "sim/SimulatorCommandLine.h"

using namespace corvane3;
using namespace corvane3::sim;

namespace {

bool Printable(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) {
        return static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) <= 0x7e;
    });
}

std::string WithoutFraming(std::string_view text) {
    std::string kept;
    for (const char c : text) {
        if (c != kStx && c != kEtx) {
            kept += c;
        }
    }
    return kept;
}

// Pieces of text cut at the byte `separator`.
std::vector<std::string> Split(std::string_view text, char separator) {
    std::vector<std::string> pieces(1);
    for (const char c : text) {
        if (c == separator) {
            pieces.emplace_back();
        } else {
            pieces.back() += c;
        }
    }
    return pieces;
}

void CheckEscapes(std::string_view text) {
    const std::string escaped = EscapeBytes(text);
    FUZZ_CHECK(Printable(escaped));
    FUZZ_CHECK(UnescapeBytes(escaped) == std::string(text));
    if (const auto bytes = UnescapeBytes(text)) {
        FUZZ_CHECK(UnescapeBytes(EscapeBytes(*bytes)) == *bytes);
        FUZZ_CHECK(bytes->size() <= text.size());
    }
}

void CheckFrames(std::string_view text, std::uint8_t choice) {
    // A frame the program builds, cut into reads of the chosen size.
    const std::string body = WithoutFraming(text);
    const std::string code = body.substr(0, std::min<std::size_t>(body.size(), kCodeWidth));
    const std::string data = body.substr(code.size());
    const std::uint32_t parameter = choice % 4 == 0 ? kFactoryAccessOption : choice * 391u;
    const std::int32_t model = choice % 2 == 0 ? kFactoryAccessModel : 403;
    const std::string frame = BuildFrame(code, parameter, data, model);
    CFrameParser parser;
    std::vector<ReceivedFrame> frames;
    const std::size_t read = 1 + choice % 16;
    const auto now = std::chrono::steady_clock::now();
    for (std::size_t at = 0; at < frame.size(); at += read) {
        for (ReceivedFrame& received : parser.Feed(std::string_view(frame).substr(at, read), now)) {
            frames.push_back(std::move(received));
        }
    }
    if (frame.size() - 2 <= CFrameParser::kMaxFrameLength) {
        FUZZ_CHECK(frames.size() == 1);
        const std::string padded = std::string(kCodeWidth - code.size(), ' ') + code;
        FUZZ_CHECK(frames[0].code == padded);
        FUZZ_CHECK(frames[0].parameter == BuildParameterField(parameter, model));
        FUZZ_CHECK(frames[0].data == data);
        FUZZ_CHECK(frames[0].raw == frame);
    } else {
        FUZZ_CHECK(frames.empty());
    }

    // Any byte stream.
    CFrameParser any;
    for (const ReceivedFrame& received : any.Feed(text, now)) {
        FUZZ_CHECK(received.raw.size() >= 2 && received.raw.front() == kStx &&
                   received.raw.back() == kEtx);
        const std::string_view content =
            std::string_view(received.raw).substr(1, received.raw.size() - 2);
        FUZZ_CHECK(content.find_first_of(std::string{kStx, kEtx}) == std::string_view::npos);
        FUZZ_CHECK(content.size() <= CFrameParser::kMaxFrameLength);
        FUZZ_CHECK(SplitFrame(content) == received);
        FUZZ_CHECK(content.starts_with(received.code) && received.code.size() <= kCodeWidth);
        FUZZ_CHECK(content.ends_with(received.data));
    }
}

void CheckLineSettings(std::string_view text) {
    const auto line = ParseLineSettings(text);
    if (!line) {
        return;
    }
    FUZZ_CHECK(line->dataBits >= 5 && line->dataBits <= 8);
    FUZZ_CHECK(line->stopBits == 1 || line->stopBits == 2);
    FUZZ_CHECK(std::string_view("NOEMS").find(line->parity) != std::string_view::npos);
    FUZZ_CHECK(CharacterTime(*line).count() > 0);
    FUZZ_CHECK(ParseLineSettings(FormatLineSettings(*line)) == line);
}

std::size_t LineCount(std::string_view text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
}

void CheckOverrideFile(std::string_view text) {
    std::string error;
    if (!CReplyOverrides::Parse(text, error)) {
        FUZZ_CHECK(error.starts_with("line "));
        const std::size_t number = std::stoul(error.substr(5));
        FUZZ_CHECK(number >= 1 && number <= LineCount(text));
    }

    // A file written from replies: each NUL-separated piece is a code (up to three characters)
    // and its reply.
    std::string file = "# written by the fuzz target\r\n\n";
    std::map<std::string, std::vector<std::string>> replies;
    for (const std::string& piece : Split(text, '\0')) {
        std::string code;
        for (const char c : piece.substr(0, kCodeWidth)) {
            if (c != '\t' && c != '\n' && c != '\r') {
                code += c;
            }
        }
        if (code.empty() || code.front() == '#') {
            continue;
        }
        const std::string reply = piece.substr(std::min(piece.size(), kCodeWidth));
        file += code + '\t' + EscapeBytes(reply) + '\n';
        replies[code].push_back(reply);
    }
    auto overrides = CReplyOverrides::Parse(file, error);
    FUZZ_CHECK(overrides.has_value());
    for (const auto& [code, list] : replies) {
        FUZZ_CHECK(overrides->Covers(code));
        for (const std::string& reply : list) {
            FUZZ_CHECK(overrides->Next(code) == reply);
        }
        FUZZ_CHECK(overrides->Next(code) == list.back());
    }
    FUZZ_CHECK(!overrides->Next("\t"));
}

void CheckReplayScript(std::string_view text) {
    std::string error;
    const auto script = CReplayScript::Parse(text, error);
    if (!script) {
        FUZZ_CHECK(error.starts_with("line "));
        const std::size_t number = std::stoul(error.substr(5));
        FUZZ_CHECK(number >= 1 && number <= LineCount(text));
        return;
    }
    FUZZ_CHECK(script->FrameCount() <= LineCount(text));
}

void CheckCommandLine(std::string_view text) {
    std::vector<std::string> arguments = Split(text, '\0');
    if (arguments.size() == 1 && arguments[0].empty()) {
        arguments.clear();
    }
    // An --override or --replay names a file made from the input, never a path the input chose
    // (which could be a device that never ends).
    const int fd = ::memfd_create("overrides", MFD_CLOEXEC);
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()));
    const std::string overridePath = "/proc/self/fd/" + std::to_string(fd);
    for (std::size_t i = 0; i + 1 < arguments.size(); ++i) {
        if (arguments[i] == "--override" || arguments[i] == "--replay") {
            arguments[i + 1] = overridePath;
        }
    }
    const SimulatorCommandLine result = ParseSimulatorCommandLine(arguments);
    ::close(fd);

    const bool knownReason =
        result.error.starts_with("unknown option: ") || result.error.starts_with("invalid ") ||
        result.error.ends_with(" needs a value") || result.error.starts_with(overridePath) ||
        result.error.starts_with("cannot read ");
    FUZZ_CHECK(result.error.empty() || knownReason);
    if (!result.error.empty()) {
        return;
    }
    // The first argument is always read as an option.
    FUZZ_CHECK(arguments.empty() || (arguments[0] != "--help" && arguments[0] != "-h") ||
               result.help);
    const InstrumentConfig& unit = result.options.instrument;
    FUZZ_CHECK(unit.model >= 400 && unit.model <= 404);
    FUZZ_CHECK(unit.serial <= 99999 && unit.password <= 99999 && unit.alarm <= 0xFF);
    FUZZ_CHECK(unit.warmup.count() >= 0 && unit.warmup.count() <= 86400 * 1000);
    FUZZ_CHECK(ParseLineSettings(FormatLineSettings(unit.line)) == unit.line);
    if (result.disconnectAfter) {
        FUZZ_CHECK(result.disconnectAfter->count() >= 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    CheckEscapes(text);
    CheckFrames(text, data[0]);
    CheckLineSettings(text);
    CheckOverrideFile(text);
    CheckReplayScript(text);
    CheckCommandLine(text);
    return 0;
}
