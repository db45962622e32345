#include "core/control/UnitDetails.h"

namespace corvane3 {

UnitDetails UnitDetailsOf(const UnitStateData& data) {
    return {data.timeText,
            data.displayFirmware,
            data.instrumentSweep,
            data.d5.yearOfManufacture,
            data.d5.manufactureDateA,
            data.d5.manufactureDateB,
            data.d5.powerOnHours,
            data.d5.restartFaultLevel};
}

void ApplyUnitDetails(const UnitDetails& details, UnitStateData& data) {
    data.timeText = details.timeText;
    data.displayFirmware = details.firmware;
    data.instrumentSweep = details.instrumentSweep;
    data.d5.yearOfManufacture = details.yearOfManufacture;
    data.d5.manufactureDateA = details.manufactureDateA;
    data.d5.manufactureDateB = details.manufactureDateB;
    data.d5.powerOnHours = static_cast<long>(details.powerOnHours);
    data.d5.restartFaultLevel = details.restartFaultLevel;
}

}  // namespace corvane3
