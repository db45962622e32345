// The simulator served on a pseudo-terminal: stopping a sweep, the faults it injects,
// and the escapes and reply overrides of its text files.

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "core/base/Escape.h"
#include "support/SimClient.h"

namespace corvane3::testing {
namespace {

using namespace std::chrono_literals;

// A whole streamed sweep is read through the polling thread by the spectrum runs; here, its stop.
TEST(Spectrum, OffStopsARunningInstrumentSweepWithItsOwnClosingLine) {
    sim::SimulatorOptions options = QuickOptions(403);
    options.instrument.instrumentSweep = true;
    SimClient client(options);
    ASSERT_TRUE(client.Opened());
    // "off" stops a running sweep with its own closing line; when idle only the echo comes back.
    client.Exchange("A05", kFactoryAccessOption, "47D511C1DF94,000000000001,99999", kLf, 64);
    client.Exchange("A05", kFactoryAccessOption, "off", 0);
    std::string line;
    for (int i = 0; i < 100001 && line != "Sweep Off\n"; ++i) {
        line = client.ReadLine();
        ASSERT_FALSE(line.empty());
    }
    EXPECT_EQ(line, "Sweep Off\n");
    EXPECT_EQ(client.Exchange("A05", kFactoryAccessOption, "off"),
              std::string{kStx} + "A05 00000 off\x03");
}

// A reply to D*1 read raw from the slave: everything up to an ETX (high bit or not), or until
// the line has been quiet for longer than a reply gap.
std::string RawD1(sim::CSimulatorServer& server) {
    constexpr int kQuietMs = 400;
    const int fd = ::open(server.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    std::string got;
    if (fd >= 0) {
        const std::string frame = BuildFrame("D*1", 0, "", 403);
        if (::write(fd, frame.data(), frame.size()) == static_cast<ssize_t>(frame.size())) {
            char buffer[512];
            for (;;) {
                pollfd pfd{fd, POLLIN, 0};
                if (::poll(&pfd, 1, kQuietMs) <= 0)
                    break;
                const ssize_t n = ::read(fd, buffer, sizeof buffer);
                if (n <= 0)
                    break;
                got.append(buffer, static_cast<std::size_t>(n));
                if ((got.back() & 0x7f) == kEtx)
                    break;
            }
        }
        ::close(fd);
    }
    return got;
}

TEST(Faults, EachFaultShowsInTheD1Reply) {
    struct Case {
        const char* name;
        std::function<void(sim::SimFaults&)> set;
        std::function<void(const std::string&)> check;
    };
    const Case cases[] = {
        {"silent", [](sim::SimFaults& f) { f.silent = true; },
         [](const std::string& r) { EXPECT_TRUE(r.empty()); }},
        {"cut short", [](sim::SimFaults& f) { f.truncateBy = 5; },
         [](const std::string& r) { EXPECT_EQ(r.size(), 245u); }},
        {"garbage first", [](sim::SimFaults& f) { f.garbageBeforeReplies = "#\x15~"; },
         [](const std::string& r) { EXPECT_EQ(r.substr(0, 4), "#\x15~\x02"); }},
        {"high bit", [](sim::SimFaults& f) { f.highBit = true; },
         [](const std::string& r) {
             ASSERT_EQ(r.size(), 250u);
             EXPECT_EQ(static_cast<unsigned char>(r[0]), 0x82);
         }},
        {"mode text", [](sim::SimFaults& f) { f.d1Patch = sim::D1ModeTextCorruption(); },
         [](const std::string& r) { EXPECT_EQ(r.substr(28, 3), "R-Z"); }},
        {"status code", [](sim::SimFaults& f) { f.d1Patch = sim::D1StatusCodeCorruption(); },
         [](const std::string& r) { EXPECT_EQ(r.substr(36, 2), "99"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimClient client(QuickOptions(403));  // sets the line settings the unit expects
        ASSERT_TRUE(client.Opened());
        client.Port().ClosePort();  // the terminal keeps its settings; the raw read takes over
        client.Server().UpdateFaults(c.set);
        c.check(RawD1(client.Server()));
    }
    // Through the program's own port: its read gives up at the gap; protected commands are refused.
    SimClient client(QuickOptions(403));
    client.Server().UpdateFaults([](sim::SimFaults& f) { f.gapInReplies = true; });
    EXPECT_LT(client.ReadRecord("D*1", 250).size(), 250u);
    client.Server().UpdateFaults([](sim::SimFaults& f) {
        f = {};
        f.refuseProtected = true;
    });
    client.Port().ResetPort();
    EXPECT_TRUE(IsRefusal(client.Exchange("W18")));
    EXPECT_FALSE(IsRefusal(client.Exchange("W01", 0, "+000000")));
}

TEST(TextFormats, EscapesAndOverrideFiles) {
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    const std::string text = EscapeBytes(all);
    EXPECT_EQ(text.find_first_of("\r\n\t\x02"), std::string::npos);
    EXPECT_EQ(UnescapeBytes(text), all);
    for (const char* bad : {"\\", "\\q", "\\x4", "\\xZZ"}) {
        EXPECT_FALSE(UnescapeBytes(bad)) << bad;
    }

    // Replies come in order, the last repeating; an empty one means the unit sends nothing.
    std::string error;
    auto overrides = sim::CReplyOverrides::Parse(
        "# replies\nA24\t\\x02one\\x03\nA24\t\\x02two\\x03\n\nW22\t\n", error);
    ASSERT_TRUE(overrides) << error;
    for (const char* reply : {"\x02one\x03", "\x02two\x03", "\x02two\x03"}) {
        EXPECT_EQ(overrides->Next("A24"), reply);
    }
    EXPECT_EQ(overrides->Next("W22"), "");
    EXPECT_FALSE(overrides->Next("D*1"));
    EXPECT_FALSE(sim::CReplyOverrides::Parse("C03 no tab\n", error));
    EXPECT_NE(error.find("line 1"), std::string::npos);
}

}  // namespace
}  // namespace corvane3::testing
