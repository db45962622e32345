// Arbitrary replies through the status record parsers, and the parsed records through the
// telemetry line they become: whatever the unit sends, a line keeps the header's column count
// and holds only printable characters.

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "core/link/StatusRecords.h"
#include "core/telemetry/TelemetryFormat.h"

using namespace corvane3;

namespace {

std::size_t Columns(const std::string& line) {
    return 1 + static_cast<std::size_t>(std::count(line.begin(), line.end(), ','));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view reply(reinterpret_cast<const char*>(data), size);
    UnitStateData record;
    bool instrumentSweep = false;
    ParseD1Record(reply, record.d1);
    ParseD2Record(reply, record.d2, instrumentSweep);
    D2Record identity;
    ParseIdentity(reply, identity);
    ParseD5Record(reply, record.d5);
    ParseB20Record(reply, record.b20);
    const std::int32_t models[] = {kModelChronoBeam, kModel7730B, kModelTq9000, identity.modelCode};
    for (std::int32_t model : models) {
        const std::string line = TelemetryRecordLine(record, model);
        FUZZ_CHECK(Columns(line) == Columns(TelemetryHeaderLine(model)));
        FUZZ_CHECK(std::all_of(line.begin(), line.end(),
                               [](char c) { return std::isprint(static_cast<unsigned char>(c)); }));
    }
    return 0;
}
