#pragma once
// The details of the unit that travel beside each status record to attached windows, taken from
// the service's state and put into the window's.

#include "core/control/ControlProtocol.h"
#include "core/link/UnitState.h"

namespace corvane3 {

UnitDetails UnitDetailsOf(const UnitStateData& data);
// Sets the fields of data that details hold; the rest stays as it was.
void ApplyUnitDetails(const UnitDetails& details, UnitStateData& data);

}  // namespace corvane3
