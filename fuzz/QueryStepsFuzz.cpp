// Arbitrary replies through the steps the polling thread runs, over a stand-in port that hands
// out the fuzzer's bytes (a 0xFF byte is a read time-out): identification, the status poll, the
// event logs, the telecom, time of day, Ethernet and date queries and the security check. A
// status record the poll accepts becomes a telemetry line of the header's width.

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "ScriptedPort.h"
#include "core/poll/QuerySteps.h"
#include "core/telemetry/TelemetryFormat.h"

using namespace corvane3;

namespace {

using fuzz::CIgnoredSink;
using fuzz::CScriptedPort;

std::size_t Columns(const std::string& line) {
    return 1 + static_cast<std::size_t>(std::count(line.begin(), line.end(), ','));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    // The first byte chooses the unit's model before identification.
    const std::int32_t models[] = {kModelBeforeIdentification, kModelChronoBeam, kModel7730B,
                                   kModelTq9000, kModel7750};
    CIgnoredSink sink;
    CLinkStatus status;
    CScriptedPort port(status, std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));
    CUnitState unit;
    unit.InstrumentModel = models[data[0] % std::size(models)];
    CTolvexLink link(port, unit.InstrumentModel);
    CPollingShared shared;
    CQuerySteps steps(PollContext{port, link, unit, status, shared, sink, {}, {}});

    steps.Identification();
    while (!port.Exhausted()) {
        if (steps.PollStep()) {
            const std::int32_t model = unit.InstrumentModel;
            const std::string line = TelemetryRecordLine(unit.Snapshot(), model);
            FUZZ_CHECK(Columns(line) == Columns(TelemetryHeaderLine(model)));
            FUZZ_CHECK(std::all_of(line.begin(), line.end(), [](char c) {
                return std::isprint(static_cast<unsigned char>(c));
            }));
        }
        steps.EventLog();
        steps.FactoryEventLog();
        steps.DccTelecom();
        steps.TimeOfDay();
        steps.Ethernet();
        steps.DateAndTime();
        steps.SecurityCheck();
    }
    return 0;
}
