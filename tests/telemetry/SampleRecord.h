#pragma once
// A status record for the telemetry tests.

#include <algorithm>
#include <string>

#include "link/UnitState.h"

namespace corvane3::testing {

// Readings that print exactly (binary fractions only), so every column can be pinned.
inline UnitStateData SampleRecord() {
    UnitStateData data;
    data.mjd = 60123.5;
    D1Record& d1 = data.d1;
    d1.serialNumber = 1234;
    d1.state = 11;
    d1.alarm1 = 0x00;
    d1.alarm2 = 0x1A;
    d1.alarm3 = 0x03;
    d1.alarm4 = 0x00;
    d1.alarm5 = 0xFF;
    d1.stdDev = -5;
    d1.cRamErr = 12;
    d1.cRabErr = -340;
    d1.cLevel = 2500;
    d1.vvcxo = -1234;
    d1.zRamErr = 3;
    d1.zRabErr = -7;
    d1.zLevel = 1800;
    d1.vcField = 456;
    d1.icField = 7.5f;
    d1.vuWave = 321;
    d1.dcLevel = 4000;
    data.d2.dacGain = 2.0f;
    d1.numGain = 1.25f;
    d1.tChassis = 35.5f;
    d1.vCsOven = 6.25f;
    d1.oscState = 'c';
    d1.vem = 12.5f;
    d1.iip = 42;
    d1.vms = 10.25f;
    d1.vion = 3.5f;
    d1.ocxoTau = 10.0f;
    d1.freqTune = -1500;
    d1.pos21V = 24.125f;
    d1.pos5V = 5.0f;
    d1.pos15V = 15.25f;
    d1.neg15V = -15.5f;
    data.firmwareRevisionLetter = 'B';
    data.firmwareRevision = 12;
    data.b20.system24 = 24.5f;
    data.b20.acdc24 = 24.25f;
    data.b20.dcin24 = 0.0f;
    data.b20.batt24 = 26.75f;
    data.b20.charge = 3;
    data.b20.source = "AC";
    data.d2.nomVms = 10.5f;
    data.d2.nomVion = 3.25f;
    data.d2.nomZRabi = -12;
    data.outliers = {1, 2, 3, 4};
    return data;
}

// Columns of one .csd line.
inline int Columns(const std::string& line) {
    return 1 + static_cast<int>(std::count(line.begin(), line.end(), ','));
}

}  // namespace corvane3::testing
