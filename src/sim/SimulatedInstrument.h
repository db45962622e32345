#pragma once
// The simulated cesium-beam standard: its state, its readings and its answer to every command
// of the instrument's command set. Not thread-safe: one owner (the simulator server, under its
// lock) calls it. Time comes in from the caller so that readings follow the caller's clock.

#include <array>
#include <chrono>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "core/link/CommandCodes.h"
#include "core/base/ModelCodes.h"
#include "sim/CesiumSpectrum.h"
#include "sim/FrameParser.h"
#include "sim/LineSettings.h"
#include "sim/ReplyText.h"
#include "sim/StatusRecords.h"

namespace corvane3::sim {

using SimClock = std::chrono::steady_clock;

// The largest user password; 0 leaves security off.
inline constexpr unsigned kMaxUserPassword = 99999;

struct InstrumentConfig {
    int model = kModelTq9000;  // one of the instrument model codes
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

    // The handler of each command, in the order of the command table; one lookup per frame.
    struct Route {
        Handler handler;
        bool needsDccBoard = false;  // a unit without the DCC board does not understand it
    };
    static const std::array<Route, kCommandCount>& Routes();
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

    // One handler per command (a few share one that does the same for each), grouped by the
    // file that holds them.
    // SimulatedInstrument.cpp
    std::optional<std::string> Silent(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> Accept(const ReceivedFrame&, SimClock::time_point);
    // StatusQueries.cpp: records, logs and read-only queries.
    std::optional<std::string> ReportVariables(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> ReportConstants(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> ReportNvram(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> RetrieveEventLog(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> RetrieveFactoryEventLog(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> ReportExtendedStatus(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> ReportVersion(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> GetSecurityStatus(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> GetDateAndTime(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> GetDaylightSavings(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> GetLeapSecondStatus(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> GetPowerOnHours(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> GetBiuId(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> GetOutlierCounts(const ReceivedFrame&, SimClock::time_point);
    // SynthesizerCommands.cpp: built-in tests, the synthesizer and the sweep.
    std::optional<std::string> TestMode1(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> TestMode2(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> TestMode3(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> RunTest(int test, const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> SingleDdsPoint(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> DdsSweep(const ReceivedFrame&, SimClock::time_point);
    // ConfigurationCommands.cpp: output, servo, NVRAM, clock and password settings.
    std::optional<std::string> ResetAlarms(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> SetUserFrequencyOffset(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> BeginTimeUpdating(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> SetTtlOutputFrequency(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> FilterOrderAndTimeConstant(const ReceivedFrame&,
                                                          SimClock::time_point);
    std::optional<std::string> TemporaryFrequencyOffset(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> SetExternalAlarm(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> ClearEventLog(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> ServoSwitch(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> ControlVoltage(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> SetGains(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> SetUnitId(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> SetNominals(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> SetLanguage(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> SetSerialParameters(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> RequireData(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> SetZeemanRabiTilt(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> SetPassword(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> ClearPassword(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> SetDate(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> SetTime(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> SetClock(const ReceivedFrame&, bool date);
    std::optional<std::string> SetDaylightSavings(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> ArmLeapSecond(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> SetResponseMode(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> SetRestartFaultLevel(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> SetPowerOnHours(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> ResetNvram(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> SetManufacturingDate(const ReceivedFrame&, SimClock::time_point);
    // DccCommands.cpp: the Tq9000's DCC board.
    std::optional<std::string> SetDccTime(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> GetDccTime(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> AdjustDccTime(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> SetDccT1(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> SetDccE1(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> SetDccEthernet(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> GetDccStatus(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> GetDccFirmwareVersion(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> GetDccT1(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> GetDccE1(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> GetDccEthernet(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> GetDccHostName(const ReceivedFrame&, SimClock::time_point);
    std::optional<std::string> GetDccDomain(const ReceivedFrame&, SimClock::time_point);

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
