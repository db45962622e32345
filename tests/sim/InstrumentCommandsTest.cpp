// The simulated unit's replies read the way the program reads them (the version and the unit's
// clock are read through the polling thread and the dialogs).

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>

#include "core/link/CommandFrame.h"
#include "sim/SimulatedInstrument.h"

namespace corvane3::sim {
namespace {

using namespace std::chrono_literals;

class Unit {
  public:
    explicit Unit(InstrumentConfig config) : config_(config), unit_(config_, start_) {}

    // The reply to the frame the program would send; none when the unit sends nothing.
    std::optional<std::string> Reply(std::string_view code, std::uint32_t parameter = 0,
                                     std::string_view data = {}, SimClock::duration after = 1s) {
        const std::string frame = BuildFrame(code, parameter, data, config_.model);
        return unit_.HandleFrame(SplitFrame(frame.substr(1, frame.size() - 2)), start_ + after);
    }
    std::string Send(std::string_view code, std::uint32_t parameter = 0,
                     std::string_view data = {}) {
        return Reply(code, parameter, data).value_or("");
    }
    CSimulatedInstrument& operator*() { return unit_; }
    SimClock::time_point Start() const { return start_; }

  private:
    InstrumentConfig config_;
    SimClock::time_point start_ = SimClock::now();
    CSimulatedInstrument unit_;
};

// A unit that answers at once.
InstrumentConfig Model(int model) {
    InstrumentConfig config;
    config.model = model;
    config.warmup = 0ms;
    return config;
}

// The telecom and Ethernet replies are read by their dialogs against the simulator.
TEST(CommandReplies, ScannedRepliesCarryNoEcho) {
    Unit unit(Model(403));
    int counts[4] = {};
    EXPECT_EQ(std::sscanf(unit.Send("A24", kFactoryAccessOption).c_str() + 1, "%d,%d,%d,%d",
                          &counts[0], &counts[1], &counts[2], &counts[3]),
              4);
    unsigned dccTime = 0;
    EXPECT_EQ(std::sscanf(unit.Send("B02").c_str() + 1, "%u", &dccTime), 1);
    for (const char* code : {"B33", "B34"}) {
        int number = 0;
        char text[32] = {};
        EXPECT_EQ(std::sscanf(unit.Send(code).c_str() + 1, "%d %31s", &number, text), 2) << code;
    }
    EXPECT_EQ(unit.Send("B21").size(), 8u);  // STX, six characters, ETX
}

// (The frequency offset, the Ethernet settings and the unit's clock are read back by their
// dialogs' tests.)
TEST(CommandReplies, SettingsAreReportedByLaterQueries) {
    Unit unit(Model(403));
    unit.Send("C01", kFactoryAccessOption, "01010");
    unit.Send("A18", kFactoryAccessOption, "1");
    unit.Send("B10", 0, "D4 MUT");

    const D1Values d1 = (*unit).ReadingsD1(unit.Start() + 1s);
    EXPECT_EQ(d1.serial, 1010u);
    EXPECT_EQ((*unit).ReadingsD5(unit.Start() + 1s).restartFaultLevel, 1);
    EXPECT_EQ(unit.Send("B30"), std::string{kStx} + "D4 MUT\x03");
}

TEST(CommandReplies, ModelsAnswerOnlyWhatTheyHave) {
    Unit a7730(Model(404));
    EXPECT_EQ(a7730.Send("A24", kFactoryAccessOption)[11], '?');
    Unit b7730(Model(402));
    EXPECT_EQ(b7730.Send("B30")[11], '?');  // no DCC: the telecom interfaces are absent
    EXPECT_EQ(b7730.Send("D*6", kFactoryAccessOption)[11], '?');
    Unit chronoBeam(Model(401));
    EXPECT_TRUE(IsRefusal(chronoBeam.Send("D*6", 0)));
    const std::string factoryLog = chronoBeam.Send("D*6", kFactoryAccessOption);
    EXPECT_GT(std::atoi(factoryLog.c_str() + 23), 0);
    EXPECT_EQ(factoryLog.substr(5, 5), FactoryAccessField());
}

}  // namespace
}  // namespace corvane3::sim
