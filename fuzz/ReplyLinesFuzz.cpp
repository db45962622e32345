// Arbitrary replies through the command list's reply walk: it never reads past the limit or
// the text, and no line holds a line break or a NUL.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "core/poll/CommandCatalogue.h"

using namespace corvane3;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    // The first byte chooses the limit, so that limits inside and beyond the text are tried.
    const std::size_t limit = data[0] * 4u;
    const std::string_view reply(reinterpret_cast<const char*>(data) + 1, size - 1);
    for (const std::string& line : ReplyLines(reply, limit)) {
        FUZZ_CHECK(line.size() <= std::min(limit, reply.size()));
        FUZZ_CHECK(line.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos);
    }
    return 0;
}
