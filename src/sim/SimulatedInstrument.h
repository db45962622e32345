#pragma once
// The simulated cesium-beam standard: its state, its readings and its answer to every command
// of the instrument's command set. Not thread-safe: one owner (the simulator server, under its
// lock) calls it. Time comes in from the caller so that readings follow the caller's clock.

#include <chrono>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "core/base/ModelCodes.h"
#include "sim/CesiumSpectrum.h"
#include "sim/FrameParser.h"
#include "sim/LineSettings.h"
#include "sim/StatusRecords.h"

namespace corvane3::sim {

using SimClock = std::chrono::steady_clock;

struct InstrumentConfig {
    int model = kModelTq9000;  // one of the InstrumentModel codes
    unsigned serial = 1234;
    bool instrumentSweep = false;  // the unit sweeps its DDS by itself (A05)
    unsigned password = 0;         // 1 to 99999 enables user security; 0 leaves it off
    LineSettings line;
    std::chrono::milliseconds warmup{20000};        // unit status 1 until this has passed
    std::chrono::milliseconds rebootSilence{3000};  // silence after A02 "0"
    std::chrono::milliseconds sweepPointInterval{50};
    std::chrono::milliseconds testLineInterval{1000};  // test-mode output lines
    unsigned seed = 1;                                 // noise of the readings and of the spectrum
    unsigned alarm = 0;  // an alarm code pending from power-on until reset (W00); 0 for none
};

// The commands that a set user password protects.
bool IsProtectedCommand(const std::string& code);
// The reply that refuses a command: its echo and '!' as the third character before ETX.
std::string RefusalReply(const ReceivedFrame& frame);

class CSimulatedInstrument {
  public:
    CSimulatedInstrument(const InstrumentConfig& config, SimClock::time_point powerOn);

    // The reply to one frame; nullopt when the unit sends nothing (A04 with a DDS word, T*2,
    // and everything while it reboots).
    std::optional<std::string> HandleFrame(const ReceivedFrame& frame, SimClock::time_point now);
    // Lines the unit sends by itself until now: sweep points and closing line, test-mode
    // output. Empty when there are none.
    std::string TakeUnsolicited(SimClock::time_point now);
    // When TakeUnsolicited will next have something, if anything is scheduled.
    std::optional<SimClock::time_point> NextUnsolicited() const;

    // Line settings. A C05 command only requests a change (TakeLineChange); the caller applies
    // it with SetLine once the reply has gone out.
    const LineSettings& Line() const { return config_.line; }
    void SetLine(const LineSettings& line) { config_.line = line; }
    std::optional<LineSettings> TakeLineChange();

    // Records as the unit would send them now.
    D1Values ReadingsD1(SimClock::time_point now);
    D2Values ReadingsD2(SimClock::time_point now);
    D5Values ReadingsD5(SimClock::time_point now);
    B20Values ReadingsB20(SimClock::time_point now);

    int Model() const { return config_.model; }
    unsigned Serial() const { return serial_; }
    unsigned Password() const { return password_; }
    void SetPassword(unsigned password) { password_ = password; }
    // Latches an alarm code: D*1 reports it, after any alarms of the unit's state, until "W00"
    // resets the alarms.
    void RaiseAlarm(unsigned code);
    bool IsWarmingUp(SimClock::time_point now) const;
    bool IsRebooting(SimClock::time_point now) const;
    unsigned long long DdsWord() const { return ddsWord_; }
    bool IsSweeping() const { return sweep_.active; }
    // Event log lines as D*3 lists them (without the TAB expansion a reader does).
    std::vector<std::string> EventLogLines() const;

  private:
    using Handler = std::optional<std::string> (CSimulatedInstrument::*)(const ReceivedFrame&,
                                                                         SimClock::time_point);
    struct Event {
        std::int64_t unitTime;  // unit clock, seconds since 1970
        unsigned code;
        std::string text;
    };
    struct Sweep {
        bool active = false;
        unsigned long long start = 0, step = 0;
        long count = 0, next = 0;
        SimClock::time_point due{};
    };

    static const std::map<std::string, Handler>& Handlers();
    void Update(SimClock::time_point now);
    void Restart(SimClock::time_point at);
    void AddEvent(unsigned code, const std::string& text);
    bool Authorised(const ReceivedFrame& frame) const;
    bool HasDcc() const;
    std::int64_t UnitTime() const;  // the unit's clock, seconds since 1970
    double Hours(SimClock::time_point now) const;
    double WarmFraction(SimClock::time_point now) const;  // 0 at power-on, 1 once warm
    double BeamFraction(SimClock::time_point now) const;
    std::string EventLogReply(const ReceivedFrame& frame, const std::vector<Event>& events) const;

    // One handler per command family.
    std::optional<std::string> Silent(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> StatusRecord(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> EventLog(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> ExtendedStatus(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> OutputSetting(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> ServoSetting(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> NvramSetting(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> Security(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> SerialParameters(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> Version(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> TestMode(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> SingleDds(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> DdsSweep(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> Clock(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> Query(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> Outliers(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> Dcc(const ReceivedFrame&, SimClock::time_point);

    InstrumentConfig config_;
    std::mt19937 noise_;
    CCesiumSpectrum spectrum_;
    SimClock::time_point powerOn_;
    SimClock::time_point rebootUntil_{};
    bool rebooting_ = false;
    bool warmupLogged_ = false;
    std::optional<LineSettings> lineChange_;

    unsigned serial_;
    unsigned password_;
    std::int64_t clockOffset_ = 0;  // unit clock minus the system clock, seconds
    std::int64_t dccOffset_ = 0;    // DCC clock minus the system clock, seconds
    long freqTune_ = 0;
    double ocxoTau_ = 1.33;
    double numericGain_ = 1.424;
    std::string modeText_ = "R+Z";
    D5Values nvram_;
    double nominalMassSpectrometer_ = 43.5;
    double nominalIonizer_ = 3.42;
    int zeemanRabiTilt_ = 0;
    int daylightSavings_ = 0;
    int leapSecond_ = 0;
    std::vector<Event> events_;
    std::vector<Event> factoryEvents_;
    std::vector<unsigned> latchedAlarms_;

    unsigned long long ddsWord_ = 0;
    Sweep sweep_;
    int testArgument_[3] = {0, 0, 0};  // A01, A02, A03; 0 when the test is off
    SimClock::time_point nextTestLine_{};
    unsigned testCounter_ = 0;

    std::string t1Settings_ = "ES SSM";
    std::string e1Settings_ = "CRC41 TS160 SSM SSM4";
    int ethernetEnable_ = 1, dhcpEnable_ = 0;
    int ip_[4] = {172, 16, 24, 84}, netmask_[4] = {255, 255, 0, 0}, gateway_[4] = {172, 16, 24, 12};
};

}  // namespace corvane3::sim
