// Arbitrary replies through the search for an instrument on unknown ports and line settings,
// over a stand-in port (each attempt's reset skips to the bytes after the next 0xFE; 0xFF is a
// read time-out). The search reports found only when the last attempt's reply was a whole
// identity record (STX, CR, LF, "ID" and its full length); then the port keeps that attempt's
// settings and the unit is online. It posts one progress notification per attempt and then one
// result; it stops when told to, and otherwise tries every port with every combination.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "ScriptedPort.h"
#include "core/link/Notification.h"
#include "core/link/StatusRecords.h"
#include "core/poll/QuerySteps.h"

using namespace corvane3;

namespace {

// Attempts per port when nothing answers: six quick ones, then two for each of 4 speeds x 2
// character sizes x 2 stop bits x 3 parities.
constexpr int kAttemptsPerPort = 6 + 2 * 4 * 2 * 2 * 3;

struct CCountingSink : INotificationSink {
    void PostNotification(int code) override { codes.push_back(code); }
    std::vector<int> codes;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    // The first byte chooses the number of ports, the second when the user cancels (0: never).
    const std::size_t portCount = data[0] % 3;
    const int cancelAfter = data[1];
    std::vector<std::string> ports;
    for (std::size_t i = 0; i < portCount; ++i) {
        ports.push_back("/dev/ttyUSB" + std::to_string(i));
    }

    CCountingSink sink;
    CLinkStatus status;
    fuzz::CScriptedPort port(
        status, std::string_view(reinterpret_cast<const char*>(data) + 2, size - 2), true);
    CUnitState unit;
    CTolvexLink link(port, unit.InstrumentModel);
    CPollingShared shared;
    CQuerySteps steps(PollContext{port, link, unit, status, shared, sink, {}, {}});

    int asked = 0;
    const bool found = steps.AutoDetect([&] { return ports; },
                                        [&] { return cancelAfter == 0 || ++asked <= cancelAfter; });

    const auto attempts = static_cast<int>(
        std::count(sink.codes.begin(), sink.codes.end(), kNotifyAutoDetectProgress));
    FUZZ_CHECK(attempts == port.Resets());
    FUZZ_CHECK(!sink.codes.empty());
    FUZZ_CHECK(sink.codes.back() == (found ? kNotifyAutoDetectFound : kNotifyAutoDetectNotFound));
    FUZZ_CHECK(static_cast<std::size_t>(attempts) + 1 == sink.codes.size());
    FUZZ_CHECK(unit.Online == found);
    if (cancelAfter != 0) {
        FUZZ_CHECK(attempts <= cancelAfter);
    } else if (!found) {
        FUZZ_CHECK(attempts == static_cast<int>(portCount) * kAttemptsPerPort);
    }
    if (found) {
        // The last attempt read a whole identity record.
        const std::string& reply = port.ReadSinceReset();
        FUZZ_CHECK(reply.size() == kD2ReplyLength);
        FUZZ_CHECK(reply.starts_with(std::string_view("\x02\r\nID", 5)));
        const SerialLineSettings settings = port.Settings();
        FUZZ_CHECK(std::find(ports.begin(), ports.end(), settings.name) != ports.end());
        FUZZ_CHECK(settings.dataBits == 7 || settings.dataBits == 8);
        FUZZ_CHECK(settings.baudRate == 2400 || settings.baudRate == 4800 ||
                   settings.baudRate == 9600 || settings.baudRate == 19200);
        FUZZ_CHECK(IsKnownModel(unit.InstrumentModel));
    }
    // Only identity requests go to a unit that is searched for.
    const std::string request = BuildFrame("D*2", 0, "", kModelBeforeIdentification);
    std::string expected;
    for (int i = 0; i < attempts; ++i) {
        expected += request;
    }
    FUZZ_CHECK(port.Written() == expected);
    return 0;
}
