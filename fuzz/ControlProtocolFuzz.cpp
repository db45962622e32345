// Arbitrary lines through both sides of the control protocol: a line either is refused with a
// reason or decodes to a message whose encoding is one ASCII line that decodes to the same.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "core/control/ControlProtocol.h"

using namespace corvane3;

namespace {

bool IsOneAsciiLine(const std::string& line) {
    for (std::size_t i = 0; i + 1 < line.size(); ++i) {
        const auto c = static_cast<unsigned char>(line[i]);
        if (c < 0x20 || c >= 0x80) {
            return false;
        }
    }
    return line.ends_with('\n');
}

template <typename Decode, typename Encode>
void Check(std::string_view line, Decode decode, Encode encode) {
    std::string problem;
    const auto message = decode(line, problem);
    if (!message) {
        FUZZ_CHECK(!problem.empty());
        return;
    }
    const std::string encoded = encode(*message);
    FUZZ_CHECK(IsOneAsciiLine(encoded));
    const auto again = decode(encoded, problem);
    FUZZ_CHECK(again && encode(*again) == encoded);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    Check(input, DecodeClientMessage, EncodeClientMessage);
    Check(input, DecodeServerMessage, EncodeServerMessage);
    // The same bytes as a stream: no line handed on is longer than the limit or holds a '\n'.
    CControlLineReader reader;
    reader.Append(input);
    while (const auto line = reader.NextLine()) {
        FUZZ_CHECK(line->size() < kControlLineLimit && line->find('\n') == std::string::npos);
    }
    return 0;
}
