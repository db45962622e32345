#pragma once
// The instrument's fixed-layout status records, built from plain values. The program cuts
// D*1 and D*2 at fixed columns (counted from the STX at 0), scans D*2 as a whole with its
// identity pattern, scans D*5 as STX and 36 comma-separated fields and B20 as 39 characters
// with STX at 0 and ETX at 38. Values that do not fit their columns are clamped to the nearest
// value that does.

#include <array>
#include <string>

#include "core/base/ModelCodes.h"

namespace corvane3::sim {

inline constexpr std::size_t kD1RecordLength = 250;
inline constexpr std::size_t kD2RecordLength = 145;
inline constexpr std::size_t kB20RecordLength = 39;
// Columns of the D*1 fields the fault injection corrupts.
inline constexpr std::size_t kD1ModeTextColumn = 28;
inline constexpr std::size_t kD1UnitStatusColumn = 36;

// Unit-status codes of the D*1 record.
enum EUnitStatus : unsigned {
    kStatusOperating = 0,
    kStatusWarmingUp = 1,
    kStatusMinorFault = 10,
    kStatusMajorFault = 11,
};

struct D1Values {
    unsigned serial = 1234;
    unsigned days = 0, hours = 0, minutes = 0, seconds = 0;  // running time
    unsigned modeNumber = 1;
    std::string modeText = "R+Z";
    unsigned unitStatus = kStatusOperating;
    std::array<unsigned, 5> alarms{};  // pending alarm codes, 0 for an empty slot
    int valueC = 0;
    long freqTune = 0;  // parts in 10^15
    double pos21V = 21.0;
    double ocxoTau = 1.33;
    int clockRamseyError = 0, clockRabiError = 0, zeemanRamseyError = 0, zeemanRabiError = 0;
    int vcxoControl = 0;
    int clockLevel = 0;
    int cFieldControl = 0;
    int zeemanLevel = 0;
    int dcLevel = 0;
    double numericGain = 1.424;
    int valueLA = 0;
    int microwaveControl = 0;
    double pos5V = 5.0, chassisTemperature = 35.0, pos15V = 15.0, neg15V = -15.0;
    char oscillatorState = 'c';  // 'c' locked to the beam, 'f' free running
    double cesiumOven = 0, massSpectrometer = 0, ionizer = 0, cFieldCurrent = 0,
           electronMultiplier = 0;
    int ionPumpCurrent = 0;
    int deviation = 0;
};

struct D2Values {
    unsigned serial = 1234;
    unsigned days = 0, hours = 0, minutes = 0, seconds = 0;
    double nominalMassSpectrometer = 0;
    double nominalIonizer = 0;
    int dacGainNumber = 128;
    std::array<int, 4> supplyOffsets{};  // -15, +15, +45, +75
    int valuePi = 0;
    int nominalZeemanRabiTilt = 0;
    double ddsMHz = 12.6;
    std::string sweepText = "NS";     // "US" when the unit sweeps by itself
    std::string text = "CS-UNIT-01";  // ten characters without blanks
    int modelCode = kModelTq9000;
    double value18 = 2.5;
};

struct D5Values {
    long serial = 1234;
    int manufactureYear = 2019, manufactureMonth = 1, manufactureDay = 1;
    long powerOnHours = 0;
    long restartCount = 0;
    double nominalTau = 1.33;
    double numericGain = 1.424;
    std::string firmwareText = "B12";  // no comma, at most 11 characters
    int restartFaultLevel = 0;
    char language = 'e';
};

struct B20Values {
    std::string token = "PS24";
    double system24 = 24.0, acdc24 = 24.0, dcIn24 = 0.0, battery24 = 26.0;
    int chargeCurrent = 0;
    std::string source = "AC";
};

std::string BuildD1Record(const D1Values& values);
std::string BuildD2Record(const D2Values& values);
std::string BuildD5Record(const D5Values& values);
std::string BuildB20Record(const B20Values& values);

}  // namespace corvane3::sim
